#include "hid/hid_link.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/update_engine.h"

namespace trident {

namespace {

using Clock = std::chrono::steady_clock;

// Without a descriptor to sleep on (hidapi), the taken device is read in short slices.
constexpr int kPolledReadSliceMs = 1;
// After a report has been handed over, the engine's answer to it is usually queued within
// microseconds; until this long has passed the thread waits for it instead of starting a read
// that the frame would have to wait out. A report the engine lets pass (a stale or duplicate
// reply) leaves the real reply waiting this long, so it stays short.
constexpr auto kTurnaround = std::chrono::milliseconds(1);
// The engine's answer usually comes within some tens of microseconds of the report it answers:
// waiting for it awake that long saves the thread the wake-up that sleeping costs on every frame.
constexpr auto kAwakeForAnswer = std::chrono::microseconds(300);

class Pipe {
 public:
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      read_ = fds[0];
      write_ = fds[1];
    }
  }
  ~Pipe() {
    if (read_ >= 0) ::close(read_);
    if (write_ >= 0) ::close(write_);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  void signal() const {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(write_, &byte, 1);
  }
  void drain() const {
    char bytes[256];
    while (::read(read_, bytes, sizeof bytes) > 0) {
    }
  }
  int readEnd() const { return read_; }

 private:
  int read_ = -1;
  int write_ = -1;
};

}  // namespace

// What the main thread and the I/O thread share. The thread holds it too, so that a thread left
// blocked in a platform call past the program's end never touches freed memory; once `closed`
// is set it posts nothing more.
struct HidIoThread::Shared : std::enable_shared_from_this<Shared> {
  Shared(std::unique_ptr<HidBackend> b, Executor& e, Events ev, std::chrono::milliseconds poll)
      : backend(std::move(b)), main(e), events(std::move(ev)), pollInterval(poll) {}

  // Hands an event to the main thread, where it runs only while the link is alive.
  void deliver(std::function<void(const Events&)> event) {
    std::lock_guard lock(mutex);
    if (closed) return;
    main.post([self = shared_from_this(), event = std::move(event)] {
      if (self->delivering) event(self->events);
    });
  }
  void enqueue(std::function<void()> command) {
    {
      std::lock_guard lock(mutex);
      commands.push_back(std::move(command));
    }
    queued = true;
    wake.signal();
  }

  void run();
  void enumerateOnce();
  void tryCandidates();
  void writeFrame(const Frame& frame);
  void readTakenDevice(int timeoutMs);
  void releaseTaken();
  void dropTakenDevice();

  std::unique_ptr<HidBackend> backend;
  Executor& main;
  const Events events;
  const std::chrono::milliseconds pollInterval;
  Pipe wake;
  // Posted callbacks run only while this holds: it is read and cleared on the main thread.
  std::atomic<bool> delivering{true};
  std::atomic<bool> queued{false};  // a command waits
  bool delivered = false;           // a report has just gone to the main thread

  std::mutex mutex;
  std::condition_variable finishedChanged;
  std::deque<std::function<void()>> commands;
  bool stopping = false;
  bool closed = false;
  bool finished = false;

  // Owned by the I/O thread.
  struct Known {
    HidDeviceRef ref;
    bool gone = false;  // failed while taken: reported removed, forgotten once it leaves the list
  };
  std::map<std::string, Known> known;
  uint64_t nextHandle = 1;
  std::vector<uint64_t> candidates;
  std::unique_ptr<HidConnection> connection;
  std::optional<HidDeviceRef> taken;
  Clock::time_point quietUntil{};
};

void HidIoThread::Shared::writeFrame(const Frame& frame) {
  if (!connection) {
    deliver([](const Events& e) { e.unsent(); });
    return;
  }
  uint8_t report[65] = {0};
  std::copy(frame.begin(), frame.end(), report + 1);
  std::string error;
  switch (connection->write(report, error)) {
    case HidWrite::Written:
      quietUntil = {};  // its reply is due: read at once
      break;
    case HidWrite::Gone:
      dropTakenDevice();
      break;
    case HidWrite::TimedOut:
      // The board stopped taking reports; the engine's reply time-out ends the update.
      break;
  }
}

void HidIoThread::Shared::releaseTaken() {
  // It stays known until enumeration no longer lists it, so that it is neither reported removed
  // twice nor attached again while its node lingers.
  if (!taken) return;
  if (auto it = known.find(taken->info.path); it != known.end()) it->second.gone = true;
  connection.reset();
  taken.reset();
}

void HidIoThread::Shared::dropTakenDevice() {
  // A device that fails a read or a write is gone as far as the update is concerned.
  if (!taken) return;
  const HidDeviceRef device = *taken;
  releaseTaken();
  deliver([device](const Events& e) { e.removed(device); });
}

void HidIoThread::Shared::tryCandidates() {
  if (connection) return;
  for (const uint64_t handle : candidates) {
    const auto it = std::find_if(known.begin(), known.end(), [&](const auto& entry) {
      return entry.second.ref.handle == handle && !entry.second.gone;
    });
    if (it == known.end()) continue;
    const HidDeviceRef device = it->second.ref;
    std::string why;
    connection = backend->open(device.info.path, why);
    if (!connection) {
      deliver([device, why = why.empty() ? std::string("cannot open") : why](const Events& e) {
        e.openFailed(device, why);
      });
      continue;
    }
    taken = device;
    candidates.clear();
    deliver([device](const Events& e) { e.opened(device); });
    return;
  }
}

void HidIoThread::Shared::enumerateOnce() {
  const auto present = backend->enumerate();
  for (auto it = known.begin(); it != known.end();) {
    const bool stillThere =
        std::any_of(present.begin(), present.end(),
                    [&](const HidDeviceInfo& d) { return d.path == it->first; });
    if (stillThere) {
      ++it;
      continue;
    }
    const Known left = it->second;
    it = known.erase(it);
    std::erase(candidates, left.ref.handle);
    if (taken && taken->handle == left.ref.handle) {
      connection.reset();
      taken.reset();
    }
    // A device that failed while taken had its removal reported then.
    deliver([device = left.ref, reported = left.gone](const Events& e) {
      if (!reported) e.removed(device);
      e.departed(device);
    });
  }
  for (const auto& info : present) {
    if (known.count(info.path)) continue;
    HidDeviceRef device{nextHandle++, info};
    known.emplace(info.path, Known{device});
    deliver([device](const Events& e) { e.attached(device); });
  }
  tryCandidates();
}

void HidIoThread::Shared::readTakenDevice(int timeoutMs) {
  uint8_t report[64];
  std::string error;
  const int got = connection->read(report, sizeof report, timeoutMs, error);
  if (got > 0) {
    quietUntil = Clock::now() + kTurnaround;
    delivered = true;
    deliver([handle = taken->handle, bytes = std::vector<uint8_t>(report, report + got)](
                const Events& e) { e.inputReport(handle, bytes); });
  } else if (got < 0) {
    dropTakenDevice();
  }
}

void HidIoThread::Shared::run() {
  auto nextEnumeration = Clock::now();
  for (;;) {
    std::deque<std::function<void()>> work;
    bool stop = false;
    {
      std::lock_guard lock(mutex);
      work.swap(commands);
      queued = false;
      stop = stopping;
    }
    // Frames queued before the end are still written: the final command is among them.
    for (auto& command : work)
      command();
    if (stop) {
      std::lock_guard lock(mutex);
      if (commands.empty()) break;
      continue;
    }

    const auto now = Clock::now();
    if (now >= nextEnumeration) {
      enumerateOnce();
      nextEnumeration = now + pollInterval;
    }
    if (std::exchange(delivered, false)) {
      for (const auto until = Clock::now() + kAwakeForAnswer; !queued && Clock::now() < until;)
        std::this_thread::yield();
      if (queued) continue;
    }
    const auto untilEnumeration =
        std::chrono::duration_cast<std::chrono::milliseconds>(nextEnumeration - Clock::now());
    const int waitMs = static_cast<int>(std::max<long long>(untilEnumeration.count(), 0)) + 1;

    // A device without a descriptor (hidapi) is read only while no frame of ours may be on its
    // way: a frame never waits for a read slice to end.
    const bool polled = connection && connection->pollDescriptor() < 0;
    const bool readSlice = polled && Clock::now() >= quietUntil;
    const int sleepMs =
        polled && !readSlice
            ? static_cast<int>(std::min<long long>(
                  waitMs,
                  std::chrono::ceil<std::chrono::milliseconds>(quietUntil - Clock::now()).count()))
            : waitMs;
    pollfd fds[2] = {{wake.readEnd(), POLLIN, 0},
                     {connection ? connection->pollDescriptor() : -1, POLLIN, 0}};
    const int ready = ::poll(fds, 2, readSlice ? 0 : sleepMs);
    if (ready > 0 && (fds[0].revents & POLLIN)) {
      wake.drain();
      continue;  // commands first
    }
    if (readSlice) {
      readTakenDevice(std::min(waitMs, kPolledReadSliceMs));
    } else if (connection && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      readTakenDevice(0);
    }
  }
  connection.reset();
  std::lock_guard lock(mutex);
  finished = true;
  finishedChanged.notify_all();
}

// ---- I/O thread
// -----------------------------------------------------------------------------------

HidIoThread::HidIoThread(std::unique_ptr<HidBackend> backend, Executor& mainThread, Events events,
                         std::chrono::milliseconds pollInterval)
    : shared_(std::make_shared<Shared>(std::move(backend), mainThread, std::move(events),
                                       pollInterval)) {}

HidIoThread::~HidIoThread() {
  shared_->delivering = false;
  if (!thread_.joinable()) return;
  std::unique_lock lock(shared_->mutex);
  shared_->stopping = true;
  shared_->wake.signal();
  const bool done =
      shared_->finishedChanged.wait_for(lock, kFlushLimit, [&] { return shared_->finished; });
  shared_->closed = true;
  lock.unlock();
  if (done) {
    thread_.join();
  } else {
    // Blocked in the platform (a board that takes no reports): the program must still end.
    thread_.detach();
  }
}

void HidIoThread::start() {
  if (!thread_.joinable()) thread_ = std::thread([s = shared_] { s->run(); });
}

void HidIoThread::take(uint64_t handle) {
  shared_->enqueue([s = shared_.get(), handle] {
    if (std::find(s->candidates.begin(), s->candidates.end(), handle) == s->candidates.end()) {
      s->candidates.push_back(handle);
    }
    s->tryCandidates();
  });
}

void HidIoThread::write(const Frame& frame) {
  shared_->enqueue([s = shared_.get(), frame] { s->writeFrame(frame); });
}

void HidIoThread::close() {
  shared_->enqueue([s = shared_.get()] { s->releaseTaken(); });
}

// ---- the link
// -------------------------------------------------------------------------------------

HidLink::HidLink(std::unique_ptr<HidBackend> backend, Executor& mainThread, Diagnostics& diag,
                 std::chrono::milliseconds pollInterval)
    : diag_(diag),
      startError_(backend->startError()),
      io_(std::move(backend), mainThread,
          {[this](HidDeviceRef d) { DeviceMatchingCallback(d); },
           [this](HidDeviceRef d) { DeviceRemovalCallback(d); },
           [this](uint64_t h, std::vector<uint8_t> r) { InputReportCallback(h, r); },
           [this](HidDeviceRef d) { deviceOpened(d); },
           [this](HidDeviceRef d, std::string e) { openFailed(d, e); },
           [this](HidDeviceRef d) { deviceDeparted(d); },
           [this] {
             diag_.systemLog("SendReport: the board went away before the frame was written");
           }},
          pollInterval) {}

void HidLink::RegisterHID(UpdateEngine& engine) {
  engine_ = &engine;
  if (!startError_.empty()) {
    diag_.systemLog("HID: cannot start the HID library: " + startError_);
    return;
  }
  io_.start();
  diag_.systemLog("IOHIDManager打开成功");
}

void HidLink::DeviceMatchingCallback(const HidDeviceRef& device) {
  if (deviceAttached_) return;
  const auto vid = static_cast<uint32_t>(GetIntProperty(device.info.vendorId)) & 0xFFFF;
  const auto pid = static_cast<uint32_t>(GetIntProperty(device.info.productId)) & 0xFFFF;
  diag_.systemLog(strprintf("插入：0x%llx", static_cast<unsigned long long>(device.handle)));
  diag_.systemLog(strprintf("VID：%04X PID : %04X", vid, pid));
  if (vid != BOOTLOADER_VID || pid != BOOTLOADER_PID) return;
  // Taken once it opens: a bootloader the user may not open yet (udev's ACL lands a moment after
  // the node) is tried again at each enumeration while the window keeps waiting.
  io_.take(device.handle);
}

void HidLink::deviceOpened(const HidDeviceRef& device) {
  if (deviceAttached_) return;
  deviceAttached_ = true;
  hidDevice_ = device.handle;
  takenBoard_ = device.handle;
  deviceVID_ = BOOTLOADER_VID;
  devicePID_ = BOOTLOADER_PID;
  if (engine_) engine_->SyncOnTake();
}

void HidLink::openFailed(const HidDeviceRef& device, const std::string& error) {
  if (!openFailureSaid_.insert(device.handle).second) return;
  diag_.systemLog(strprintf("HID: cannot open the bootloader at %s: %s", device.info.path.c_str(),
                            error.c_str()));
}

void HidLink::deviceDeparted(const HidDeviceRef& device) {
  if (takenBoard_ == device.handle) boardDeparted_ = true;
}

void HidLink::DeviceRemovalCallback(const HidDeviceRef& device) {
  const auto vid = static_cast<uint32_t>(GetIntProperty(device.info.vendorId)) & 0xFFFF;
  const auto pid = static_cast<uint32_t>(GetIntProperty(device.info.productId)) & 0xFFFF;
  diag_.systemLog(strprintf("拔出：0x%llx设备", static_cast<unsigned long long>(device.handle)));
  diag_.systemLog(strprintf("VID：%04X PID : %04X", vid, pid));
  openFailureSaid_.erase(device.handle);
  // Only the taken board's removal counts: a bootloader that never opened, or a second one
  // unplugged beside it, carries the same IDs and must not end the update.
  if (hidDevice_ != device.handle) return;
  io_.close();
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
