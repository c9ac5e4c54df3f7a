#include "hid/hid_link.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <future>

#include "engine/update_engine.h"

namespace trident {

namespace {
// Without a descriptor to sleep on (hidapi), the open device is read in short slices so that a
// queued frame never waits long for its turn.
constexpr int kPolledReadSliceMs = 1;
}  // namespace

// ---- I/O thread
// -----------------------------------------------------------------------------------

HidIoThread::HidIoThread(std::unique_ptr<HidBackend> backend, Executor& mainThread, Events events,
                         std::chrono::milliseconds pollInterval)
    : backend_(std::move(backend)),
      main_(mainThread),
      events_(std::move(events)),
      pollInterval_(pollInterval) {
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
  }
}

HidIoThread::~HidIoThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake();
  if (thread_.joinable()) thread_.join();
  connection_.reset();
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

void HidIoThread::start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

void HidIoThread::wake() {
  if (wakeWrite_ < 0) return;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_, &byte, 1);
}

void HidIoThread::enqueue(std::function<void()> command) {
  {
    std::lock_guard lock(mutex_);
    commands_.push_back(std::move(command));
  }
  wake();
}

bool HidIoThread::open(uint64_t handle, std::string& error) {
  std::promise<std::string> result;
  auto answer = result.get_future();
  enqueue([this, handle, &result] {
    const auto it = std::find_if(known_.begin(), known_.end(),
                                 [&](const auto& entry) { return entry.second.handle == handle; });
    if (it == known_.end()) {
      result.set_value("device disconnected");
      return;
    }
    std::string why;
    auto connection = backend_->open(it->second.info.path, why);
    if (!connection) {
      result.set_value(why.empty() ? "cannot open" : why);
      return;
    }
    connection_ = std::move(connection);
    openDevice_ = it->second;
    result.set_value("");
  });
  error = answer.get();
  return error.empty();
}

void HidIoThread::write(const Frame& frame) {
  enqueue([this, frame] {
    if (!connection_) return;
    uint8_t report[65] = {0};
    std::copy(frame.begin(), frame.end(), report + 1);
    std::string error;
    if (!connection_->write(report, error)) dropOpenDevice(error);
  });
}

void HidIoThread::close() {
  enqueue([this] {
    connection_.reset();
    openDevice_.reset();
  });
}

void HidIoThread::dropOpenDevice(const std::string& /*why*/) {
  // A device that fails a read or a write is gone as far as the update is concerned; it is
  // forgotten so that enumeration does not report its removal a second time.
  if (!openDevice_) return;
  const HidDeviceRef device = *openDevice_;
  connection_.reset();
  openDevice_.reset();
  known_.erase(device.info.path);
  main_.post([removed = events_.removed, device] { removed(device); });
}

void HidIoThread::enumerateOnce() {
  const auto present = backend_->enumerate();
  for (auto it = known_.begin(); it != known_.end();) {
    const bool stillThere =
        std::any_of(present.begin(), present.end(),
                    [&](const HidDeviceInfo& d) { return d.path == it->first; });
    if (stillThere) {
      ++it;
      continue;
    }
    const HidDeviceRef device = it->second;
    if (openDevice_ && openDevice_->handle == device.handle) {
      connection_.reset();
      openDevice_.reset();
    }
    it = known_.erase(it);
    main_.post([removed = events_.removed, device] { removed(device); });
  }
  for (const auto& info : present) {
    if (known_.count(info.path)) continue;
    HidDeviceRef device{nextHandle_++, info};
    known_.emplace(info.path, device);
    main_.post([attached = events_.attached, device] { attached(device); });
  }
}

void HidIoThread::serviceOpenDevice(int timeoutMs) {
  uint8_t report[64];
  std::string error;
  const int got = connection_->read(report, sizeof report, timeoutMs, error);
  if (got > 0) {
    main_.post([deliver = events_.inputReport, handle = openDevice_->handle,
                bytes = std::vector<uint8_t>(report, report + got)] { deliver(handle, bytes); });
  } else if (got < 0) {
    dropOpenDevice(error);
  }
}

void HidIoThread::run() {
  auto nextEnumeration = std::chrono::steady_clock::now();
  for (;;) {
    std::deque<std::function<void()>> commands;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      commands.swap(commands_);
    }
    for (auto& command : commands)
      command();

    const auto now = std::chrono::steady_clock::now();
    if (now >= nextEnumeration) {
      enumerateOnce();
      nextEnumeration = now + pollInterval_;
    }
    const auto untilEnumeration = std::chrono::duration_cast<std::chrono::milliseconds>(
        nextEnumeration - std::chrono::steady_clock::now());
    const int waitMs = static_cast<int>(std::max<long long>(untilEnumeration.count(), 0)) + 1;

    if (connection_ && connection_->pollDescriptor() < 0) {
      serviceOpenDevice(std::min(waitMs, kPolledReadSliceMs));
      continue;
    }
    pollfd fds[2] = {{wakeRead_, POLLIN, 0},
                     {connection_ ? connection_->pollDescriptor() : -1, POLLIN, 0}};
    const int ready = ::poll(fds, connection_ ? 2 : 1, waitMs);
    if (ready <= 0) continue;
    if (fds[0].revents & POLLIN) {
      // One read empties the pipe: every wake-up is a single byte and far fewer than 256 queue
      // up between two turns of this loop.
      char drain[256];
      [[maybe_unused]] const ssize_t drained = ::read(wakeRead_, drain, sizeof drain);
    }
    if (connection_ && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) serviceOpenDevice(0);
  }
}

// ---- the link
// -------------------------------------------------------------------------------------

HidLink::HidLink(std::unique_ptr<HidBackend> backend, Executor& mainThread, Diagnostics& diag,
                 std::chrono::milliseconds pollInterval)
    : diag_(diag),
      io_(std::move(backend), mainThread,
          {[this](HidDeviceRef d) { DeviceMatchingCallback(d); },
           [this](HidDeviceRef d) { DeviceRemovalCallback(d); },
           [this](uint64_t h, std::vector<uint8_t> r) { InputReportCallback(h, r); }},
          pollInterval) {}

void HidLink::RegisterHID(UpdateEngine& engine) {
  engine_ = &engine;
  io_.start();
  diag_.systemLog("IOHIDManager打开成功");
}

void HidLink::DeviceMatchingCallback(const HidDeviceRef& device) {
  if (deviceAttached_) return;
  deviceVID_ = static_cast<uint32_t>(GetIntProperty(device.info.vendorId)) & 0xFFFF;
  devicePID_ = static_cast<uint32_t>(GetIntProperty(device.info.productId)) & 0xFFFF;
  diag_.systemLog(strprintf("插入：0x%llx", static_cast<unsigned long long>(device.handle)));
  diag_.systemLog(strprintf("VID：%04X PID : %04X", deviceVID_, devicePID_));
  if (deviceVID_ != BOOTLOADER_VID || devicePID_ != BOOTLOADER_PID) return;

  // A bootloader the user may not open (no udev rule yet) is not taken: the window keeps waiting,
  // and the board is taken when it comes back with access.
  std::string error;
  if (!io_.open(device.handle, error)) {
    diag_.systemLog(strprintf("HID: cannot open the bootloader at %s: %s", device.info.path.c_str(),
                              error.c_str()));
    return;
  }
  deviceAttached_ = true;
  hidDevice_ = device.handle;
  if (engine_) engine_->SyncOnTake();
}

void HidLink::DeviceRemovalCallback(const HidDeviceRef& device) {
  const auto vid = static_cast<uint32_t>(GetIntProperty(device.info.vendorId)) & 0xFFFF;
  const auto pid = static_cast<uint32_t>(GetIntProperty(device.info.productId)) & 0xFFFF;
  diag_.systemLog(strprintf("拔出：0x%llx设备", static_cast<unsigned long long>(device.handle)));
  diag_.systemLog(strprintf("VID：%04X PID : %04X", vid, pid));
  // Once a board is taken, only that board's removal counts: a second bootloader unplugged
  // beside it carries the same IDs and must not end the update of the first.
  const bool matches =
      hidDevice_ ? *hidDevice_ == device.handle : vid == deviceVID_ && pid == devicePID_;
  if (!matches) return;
  if (hidDevice_) io_.close();
  hidDevice_.reset();
  if (engine_) engine_->RemovalRule(deviceVID_, devicePID_);
  deviceVID_ = 0;
  devicePID_ = 0;
}

void HidLink::InputReportCallback(uint64_t handle, const std::vector<uint8_t>& report) {
  if (!engine_ || hidDevice_ != handle) return;
  engine_->InputReportCallback(report.data(), report.size());
}

void HidLink::writeReport(const Frame& frame) {
  if (!hidDevice_) {
    diag_.systemLog("SendReport: no bootloader is connected; the frame was not sent");
    return;
  }
  io_.write(frame);
}

}  // namespace trident
