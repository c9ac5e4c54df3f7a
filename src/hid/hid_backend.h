#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/board_sink.h"

namespace trident {

// How a write ended. `Busy`: the device cannot take the report yet; the I/O thread keeps it and
// tries again, writing to the other devices meanwhile, and lets a device go that takes none for
// too long. A connection that can only block (hidapi) never says it.
enum class HidWrite { Written, Gone, Busy };

// An opened device. Used from one thread only (the HID I/O thread).
class HidConnection {
 public:
  virtual ~HidConnection() = default;
  // Writes one output report: report ID 0 and the 64 report bytes (`error` says why not).
  virtual HidWrite write(const uint8_t (&report)[65], std::string& error) = 0;
  // Reads one input report of up to 64 bytes, waiting at most `timeoutMs`. Returns the number of
  // bytes, 0 on time-out, -1 once the device is gone (with `error`).
  virtual int read(uint8_t* into, size_t capacity, int timeoutMs, std::string& error) = 0;
  // A descriptor that becomes readable when a report waits, so the I/O thread can sleep on it
  // together with its own wake-up; -1 when the platform offers none (reads then poll).
  virtual int pollDescriptor() const { return -1; }
};

// The platform's HID layer: hidapi for real boards, the virtual transport for development.
class HidBackend {
 public:
  virtual ~HidBackend() = default;
  // Why the platform's HID layer could not be started; empty when it runs.
  virtual std::string startError() const { return {}; }
  virtual std::vector<HidDeviceInfo> enumerate() = 0;
  // Opens a device; null with `error` set when it cannot be opened (e.g. permission denied).
  virtual std::unique_ptr<HidConnection> open(const std::string& path, std::string& error) = 0;
};

// hidapi's hidraw backend. It starts hidapi (hid_init) on the calling thread, so make it on the
// main thread before any other HID call; hidapi ends (hid_exit) when it goes, which is after the
// last call of the I/O thread that owns it.
std::unique_ptr<HidBackend> makeHidapiBackend();

// The HID library's name and version, for a bug report ("hidapi 0.13.1").
std::string hidLibraryVersion();

// Virtual devices: SOCK_SEQPACKET sockets named VVVV-PPPP-NAME.sock in `directory`; NAME is also
// the serial number.
std::unique_ptr<HidBackend> makeVirtualBackend(std::string directory);

}  // namespace trident
