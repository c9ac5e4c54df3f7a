#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trident {

// One HID device as enumeration reports it. The IDs are absent when the platform gives none.
struct HidDeviceInfo {
  std::string path;
  std::optional<int32_t> vendorId;
  std::optional<int32_t> productId;
  // What a person tells boards apart by: the virtual board's name, or the node and the serial
  // number. Device text: shown only through terminalSafe().
  std::string name;
  // Tells a device plugged in again at the same path from the one before it (its node's inode);
  // 0 where the path names no file.
  uint64_t instance = 0;
};

// How a write ended. A device that does not take a report in time is not gone: the update's own
// reply time-out decides what that means.
enum class HidWrite { Written, Gone, TimedOut };

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

// hidapi's hidraw backend. It starts hidapi (hid_init) on the calling thread; make it on the main
// thread before any other HID call, and end hidapi (hid_exit) once in main().
std::unique_ptr<HidBackend> makeHidapiBackend();

// The end of hidapi (hid_exit), once in main(), when this goes out of scope: after everything else
// that used hidapi, and only if the program `used` its backend; hidapi is left alone when only
// virtual boards are used.
class HidapiLibrary {
 public:
  explicit HidapiLibrary(bool used) : used_(used) {}
  ~HidapiLibrary();
  HidapiLibrary(const HidapiLibrary&) = delete;
  HidapiLibrary& operator=(const HidapiLibrary&) = delete;

 private:
  bool used_;
};

// Virtual devices: SOCK_SEQPACKET sockets named VVVV-PPPP-NAME.sock in `directory`.
std::unique_ptr<HidBackend> makeVirtualBackend(std::string directory);

}  // namespace trident
