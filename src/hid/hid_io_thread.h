#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/executor.h"
#include "engine/board_sink.h"
#include "hid/hid_backend.h"

namespace trident {

// Every call into the platform's HID layer happens on this one thread (hidapi is not thread-safe):
// it polls enumeration, opens the devices it is asked to take, reads them and writes their
// frames. What it finds is posted through the executor. No call of another thread waits for it,
// except the destructor, and that only for kFlushLimit. The backend, and with it the platform's
// HID library, ends only once this thread is done with it.
class HidIoThread {
 public:
  struct Events {
    std::function<void(HidDeviceRef)> attached;
    std::function<void(HidDeviceRef)> removed;
    // The device has left the enumeration: after `removed`, or long after it, when it failed
    // while taken and its node lingered.
    std::function<void(HidDeviceRef)> departed;
    std::function<void(HidDeviceRef)> opened;
    std::function<void(HidDeviceRef, std::string error)> openFailed;
    std::function<void(uint64_t handle, std::vector<uint8_t> report)> report;
    // A frame found no open device: the board went away with it queued.
    std::function<void()> unsent;
    // The device took none of the `frames` waiting for it for too long: it is let go, and its
    // removal follows.
    std::function<void(HidDeviceRef, size_t frames)> stalled;
  };

  // How long the program's end waits for queued frames (the final command among them) to reach
  // the device; past it, a call still blocked in the platform is left to end on its own.
  static constexpr std::chrono::milliseconds kFlushLimit{1000};

  HidIoThread(std::unique_ptr<HidBackend> backend, Executor& deliverTo, Events events,
              std::chrono::milliseconds pollInterval);
  ~HidIoThread();  // writes what is queued, within kFlushLimit, then stops
  HidIoThread(const HidIoThread&) = delete;
  HidIoThread& operator=(const HidIoThread&) = delete;

  // Starts enumerating; at most `boardLimit` devices are held open at once.
  void start(size_t boardLimit);
  // Opens the device now and, while it fails, again at each enumeration until it opens or goes
  // away; `opened` or `openFailed` follows each try. Devices still waiting to be opened are
  // dropped once the limit is reached.
  void take(uint64_t handle);
  // Queues one output report for a taken device; it goes out at once, not after a read.
  void write(uint64_t handle, const Frame& frame);
  // Closes a taken device once what was queued before is written.
  void close(uint64_t handle);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace trident
