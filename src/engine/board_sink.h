#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/frame.h"

namespace trident {

// One HID device as enumeration reports it. The IDs are absent when the platform gives none.
struct HidDeviceInfo {
  std::string path;
  std::optional<int32_t> vendorId;
  std::optional<int32_t> productId;
  // What a person tells boards apart by: the virtual board's name, or the node and the serial
  // number. Device text: shown only through printSafe().
  std::string name;
  // Tells a device plugged in again at the same path from the one before it (its node's inode);
  // 0 where the path names no file.
  uint64_t instance = 0;
  // What --serial chooses by: the USB serial number, or the virtual board's name; empty when the
  // device has none. Device text, as the name is.
  std::string serial;
};

// How a board is called wherever it is shown: its name, or its path when it has none.
inline std::string boardName(const HidDeviceInfo& device) {
  return device.name.empty() ? device.path : device.name;
}

// A device as the link sees it: the handle it is known by for as long as it stays attached.
// Handles start at 1 and are never given twice in a run; 0 names no device.
struct HidDeviceRef {
  uint64_t handle = 0;
  HidDeviceInfo info;
};

// What a sink may ask of the HID link. Called on the thread the link delivers to.
class BoardLink {
 public:
  virtual ~BoardLink() = default;
  // Opens the device now and, while that fails, again at each enumeration until it opens or goes
  // away; BoardSink::boardTaken follows. Once the link holds as many boards as the sink's
  // boardLimit(), the devices still waiting to be opened are dropped: the sink asks again.
  virtual void take(uint64_t handle) = 0;
  // One output report for a taken board; dropped, with a log line, when it holds none by that
  // handle (never taken, gone or let go).
  virtual void writeTo(uint64_t handle, const Frame& frame) = 0;
  // Closes a taken board once what was queued for it is written: nothing more reaches it, and it
  // is not offered again until it has left and come back.
  virtual void letGo(uint64_t handle) = 0;
};

// Where the HID link delivers what happens to devices and boards, on one thread. The link knows
// neither the bootloader nor the update: the sink decides which devices to take and what a
// removal means.
class BoardSink {
 public:
  virtual ~BoardSink() = default;
  // How many boards the link may hold open at once.
  virtual size_t boardLimit() const = 0;
  // Whether attachments still matter; the link logs them only then.
  virtual bool watchingAttachments() const = 0;
  virtual void deviceAttached(const HidDeviceRef& device) = 0;
  // The device went away; for a taken board, the link has closed it already.
  virtual void deviceRemoved(const HidDeviceRef& device, bool wasTaken) = 0;
  // It has left the enumeration as well (a taken board that failed can linger a while after its
  // removal was reported).
  virtual void deviceDeparted(uint64_t handle) = 0;
  // A device asked for is open: its reports follow.
  virtual void boardTaken(const HidDeviceRef& board) = 0;
  virtual void boardReport(uint64_t handle, const uint8_t* report, size_t length) = 0;
};

}  // namespace trident
