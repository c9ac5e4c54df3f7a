#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/diagnostics.h"
#include "common/executor.h"
#include "engine/ports.h"
#include "hid/hid_backend.h"

namespace trident {

class UpdateEngine;

// A device as the link sees it: the handle it is known by for as long as it stays attached.
struct HidDeviceRef {
  uint64_t handle = 0;
  HidDeviceInfo info;
};

// Every call into the platform's HID layer happens on this one thread (hidapi is not thread-safe):
// it polls enumeration, reports attachments and removals, opens, reads and writes the taken
// device. What it finds is posted to the main thread through the executor. No call of the main
// thread waits for it, except the destructor, and that only for kFlushLimit.
class HidIoThread {
 public:
  struct Events {
    std::function<void(HidDeviceRef)> attached;
    std::function<void(HidDeviceRef)> removed;
    std::function<void(uint64_t handle, std::vector<uint8_t> report)> inputReport;
    std::function<void(HidDeviceRef)> opened;
    std::function<void(HidDeviceRef, std::string error)> openFailed;
    // The device has left the enumeration: after `removed`, or long after it, when it failed
    // while taken and its node lingered.
    std::function<void(HidDeviceRef)> departed;
    // A frame found no open device: the board went away with it queued.
    std::function<void()> unsent;
  };

  // How long the program's end waits for queued frames (the final command among them) to reach
  // the device; past it, a call still blocked in the platform is left to end on its own.
  static constexpr std::chrono::milliseconds kFlushLimit{1000};

  HidIoThread(std::unique_ptr<HidBackend> backend, Executor& mainThread, Events events,
              std::chrono::milliseconds pollInterval = std::chrono::milliseconds(250));
  ~HidIoThread();  // writes what is queued, within kFlushLimit, then stops
  HidIoThread(const HidIoThread&) = delete;
  HidIoThread& operator=(const HidIoThread&) = delete;

  // With `takeEvery`, every candidate that opens is taken; otherwise only the first.
  void start(bool takeEvery = false);
  // Opens the device now and, while it fails, again at each enumeration until it opens or goes
  // away; `opened` or `openFailed` follows each try.
  void take(uint64_t handle);
  // Queues one output report (report ID 0 and the 64 bytes) for a taken device; it goes out at
  // once, not after a read in progress.
  void write(uint64_t handle, const Frame& frame);
  // Closes a taken device.
  void close(uint64_t handle);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

// Where the link sends what happens to each board when it takes every bootloader, each board
// with an engine of its own (trident-flash --all). Called on the main thread.
class BoardSink {
 public:
  virtual ~BoardSink() = default;
  // The board is open: its engine sends the sync now, through HidLink::writeTo.
  virtual void boardTaken(const HidDeviceRef& board) = 0;
  virtual void boardReport(uint64_t handle, const uint8_t* report, size_t length) = 0;
  // The taken board went away (the engine's removal rule decides what that means).
  virtual void boardRemoved(uint64_t handle) = 0;
  // It has left the enumeration as well.
  virtual void boardDeparted(uint64_t handle) = 0;
};

// The link to the board's bootloader: takes the first device with the bootloader's IDs that
// opens, feeds its input reports to the engine, notices its removal and carries the engine's
// output reports. One board per run: once a board was taken, later attachments are ignored.
// Registered with a BoardSink instead, it takes every bootloader and keeps each one's reports,
// removal and frames apart from the others'.
class HidLink final : public ReportPort {
 public:
  HidLink(std::unique_ptr<HidBackend> backend, Executor& mainThread, Diagnostics& diag,
          std::chrono::milliseconds pollInterval = std::chrono::milliseconds(250));

  // Starts discovery; every callback below then runs on the main thread.
  void RegisterHID(UpdateEngine& engine);
  // Starts discovery of every bootloader: those present when the first one is taken, and with
  // `laterToo` every one plugged in afterwards.
  void RegisterEveryBoard(BoardSink& sink, bool laterToo);
  // A frame for one of the boards the sink was given; dropped, with a log line, once it is gone.
  void writeTo(uint64_t handle, const Frame& frame);
  // Lets one of those boards go once what was queued for it is written: nothing more reaches it.
  void letGo(uint64_t handle);

  void DeviceMatchingCallback(const HidDeviceRef& device);
  void DeviceRemovalCallback(const HidDeviceRef& device);
  void InputReportCallback(uint64_t handle, const std::vector<uint8_t>& report);
  // The send step: the engine has written the dump; with no board taken the frame is dropped.
  void writeReport(const Frame& frame) override;

  bool deviceAttached() const { return deviceAttached_; }
  std::optional<uint64_t> hidDevice() const { return hidDevice_; }
  // The board that was taken is no longer enumerated (its connection may have ended earlier):
  // nothing left of it can be taken again.
  bool boardDeparted() const { return boardDeparted_; }

  // An ID as a signed 32-bit number, 0 when the device has none.
  static int32_t GetIntProperty(const std::optional<int32_t>& property) {
    return property.value_or(0);
  }

 private:
  void startDiscovery();
  void deviceOpened(const HidDeviceRef& device);
  void openFailed(const HidDeviceRef& device, const std::string& error);
  void deviceDeparted(const HidDeviceRef& device);

  Diagnostics& diag_;
  UpdateEngine* engine_ = nullptr;  // not owned; set by RegisterHID
  bool deviceAttached_ = false;
  uint32_t deviceVID_ = 0;
  uint32_t devicePID_ = 0;
  std::optional<uint64_t> hidDevice_;
  std::optional<uint64_t> takenBoard_;  // stays after its removal
  bool boardDeparted_ = false;
  std::set<uint64_t> openFailureSaid_;  // a failing open is retried often, but said once
  BoardSink* every_ = nullptr;          // not owned; set by RegisterEveryBoard
  bool laterToo_ = false;
  std::set<uint64_t> everyTaken_;  // boards given to the sink and not removed since
  std::string startError_;
  HidIoThread io_;
};

}  // namespace trident
