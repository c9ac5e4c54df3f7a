#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
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
// it polls enumeration, reports attachments and removals, reads the open device and writes to
// it. What it finds is posted to the main thread through the executor.
class HidIoThread {
 public:
  struct Events {
    std::function<void(HidDeviceRef)> attached;
    std::function<void(HidDeviceRef)> removed;
    std::function<void(uint64_t handle, std::vector<uint8_t> report)> inputReport;
  };

  HidIoThread(std::unique_ptr<HidBackend> backend, Executor& mainThread, Events events,
              std::chrono::milliseconds pollInterval = std::chrono::milliseconds(250));
  ~HidIoThread();  // stops and joins the thread; the open device is closed
  HidIoThread(const HidIoThread&) = delete;
  HidIoThread& operator=(const HidIoThread&) = delete;

  void start();
  // Opens the device and makes it the one that is read; waits for the I/O thread's answer.
  bool open(uint64_t handle, std::string& error);
  // Queues one output report (report ID 0 and the 64 bytes) for the open device.
  void write(const Frame& frame);
  // Closes the open device, if any.
  void close();

 private:
  void run();
  void enqueue(std::function<void()> command);
  void wake();
  void enumerateOnce();
  void serviceOpenDevice(int timeoutMs);
  void dropOpenDevice(const std::string& why);

  std::unique_ptr<HidBackend> backend_;
  Executor& main_;
  Events events_;
  std::chrono::milliseconds pollInterval_;

  std::mutex mutex_;
  std::deque<std::function<void()>> commands_;
  bool stopping_ = false;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::thread thread_;

  // Owned by the I/O thread.
  std::map<std::string, HidDeviceRef> known_;
  uint64_t nextHandle_ = 1;
  std::unique_ptr<HidConnection> connection_;
  std::optional<HidDeviceRef> openDevice_;
};

// The link to the board's bootloader: takes the first device with the bootloader's IDs, feeds its
// input reports to the engine, notices its removal and carries the engine's output reports. One
// board per run: once a board was taken, later attachments are ignored.
class HidLink final : public ReportPort {
 public:
  HidLink(std::unique_ptr<HidBackend> backend, Executor& mainThread, Diagnostics& diag,
          std::chrono::milliseconds pollInterval = std::chrono::milliseconds(250));

  // Starts discovery; every callback below then runs on the main thread.
  void RegisterHID(UpdateEngine& engine);

  void DeviceMatchingCallback(const HidDeviceRef& device);
  void DeviceRemovalCallback(const HidDeviceRef& device);
  void InputReportCallback(uint64_t handle, const std::vector<uint8_t>& report);
  // The send step: the engine has written the dump; with no board taken the frame is dropped.
  void writeReport(const Frame& frame) override;

  bool deviceAttached() const { return deviceAttached_; }
  std::optional<uint64_t> hidDevice() const { return hidDevice_; }

  // An ID as a signed 32-bit number, 0 when the device has none.
  static int32_t GetIntProperty(const std::optional<int32_t>& property) {
    return property.value_or(0);
  }

 private:
  Diagnostics& diag_;
  UpdateEngine* engine_ = nullptr;  // not owned; set by RegisterHID
  bool deviceAttached_ = false;
  uint32_t deviceVID_ = 0;
  uint32_t devicePID_ = 0;
  std::optional<uint64_t> hidDevice_;
  HidIoThread io_;
};

}  // namespace trident
