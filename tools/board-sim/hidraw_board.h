#pragma once

// The virtual bootloader plugged in as a USB HID device: /sys and /dev emulated by umockdev, so
// that hidapi's hidraw backend finds it, opens it and talks to it as it would to a real board.
// Programs that should see these devices run under umockdev-wrapper with UMOCKDEV_DIR set to the
// testbed's folder (this process's own environment gets it when the testbed is made).

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board_simulator.h"
#include "common/unique_fd.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace trident {

struct HidrawDeviceOptions {
  uint16_t vendorId = 0x0416;
  uint16_t productId = 0x3F00;
  std::string name = "Trident Bootloader";
  std::string serial;   // empty: TRIDENT-0001, TRIDENT-0002, ... in the order of plugging
  bool answers = true;  // a bootloader answering frames; false: a device that stays silent
  BoardFaults faults;
  std::chrono::microseconds replyDelay{0};  // before each reply
  // Opens refused with "Permission denied" before the node lets the host in, as while udev's
  // access rule has not landed yet. Needs a host without CAP_DAC_OVERRIDE (see
  // dropFileAccessOverride).
  unsigned refusedOpens = 0;
  bool refuseUntilAllowed = false;  // refuse every open until allowOpen()
};

class HidrawTestbed;

// One plugged device: usb_device → usb_interface → hid → hidraw, its node /dev/hidrawN a pty whose
// far end this object serves from its own thread. It is unplugged (uevent, sysfs gone, the node
// hung up) when asked, when its board disconnects (after the final command, or by a fault), or
// at the end of its scope, which must come before the testbed's.
class HidrawBoard {
 public:
  HidrawBoard(const HidrawBoard&) = delete;
  HidrawBoard& operator=(const HidrawBoard&) = delete;
  ~HidrawBoard();

  const std::string& node() const { return node_; }
  void unplug();
  void allowOpen();

  // The board's state, read under its lock.
  bool plugged() const;
  // Tries to open the node, the refused ones included; counted for a device that refuses opens
  // or never answers (the others share the testbed's ioctl socket, which cannot tell them apart).
  unsigned opens() const;
  BoardSimulator board() const;  // a copy: what was programmed, whether the final command came
  // Waits until the board is unplugged; false when `timeout` passes first.
  bool waitUnplugged(std::chrono::milliseconds timeout) const;

 private:
  friend class HidrawTestbed;
  struct State;
  HidrawBoard(HidrawTestbed& bed, unsigned index, HidrawDeviceOptions options);
  void serve();
  bool sendAll(const uint8_t* bytes, size_t length);
  void hangUp();

  HidrawTestbed& bed_;
  HidrawDeviceOptions options_;
  std::string node_;
  std::vector<std::string> syspaths_;  // the four devices, the hidraw node first
  // Shared with umockdev's worker thread, which may still run a handler after this object is gone.
  std::shared_ptr<State> state_;
  UMockdevIoctlBase* handler_ = nullptr;
  int master_ = -1;  // umockdev's end of the pty; umockdev owns it
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  std::thread thread_;
};

// A umockdev testbed in a fresh folder under $TMPDIR. One per process at a time: it sets
// UMOCKDEV_DIR in this process's environment, so make it before starting threads.
class HidrawTestbed {
 public:
  HidrawTestbed();
  ~HidrawTestbed();
  HidrawTestbed(const HidrawTestbed&) = delete;
  HidrawTestbed& operator=(const HidrawTestbed&) = delete;

  const std::string& dir() const { return dir_; }
  // Plugs a device in as /dev/hidraw0, /dev/hidraw1, ... in the order of plugging: a node is never
  // reused (umockdev keeps the first pty of a name for good).
  std::unique_ptr<HidrawBoard> plug(HidrawDeviceOptions options = {});

 private:
  friend class HidrawBoard;
  std::mutex mutex_;  // umockdev's testbed is not thread-safe
  UMockdevTestbed* bed_ = nullptr;
  UMockdevIoctlBase* defaultHandler_ = nullptr;
  std::string dir_;
  unsigned next_ = 0;
};

// Clears CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH from the calling thread's effective set (threads
// it starts later inherit that), so that a node without permission refuses root too, as it
// refuses a user. False when the kernel says no.
bool dropFileAccessOverride();

}  // namespace trident
