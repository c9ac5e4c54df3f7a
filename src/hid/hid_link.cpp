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

  // Hands an event to the main thread, where it runs only while the link is alive. The executor
  // may run it at once on this thread, and the link's answer then queues a command: that takes
  // `mutex`, so this holds another.
  void deliver(std::function<void(const Events&)> event) {
    std::lock_guard lock(postMutex);
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

  // An opened device and when it may next be read in a slice (see kTurnaround).
  struct Taken {
    HidDeviceRef ref;
    std::unique_ptr<HidConnection> connection;
    Clock::time_point quietUntil{};
  };

  void run();
  void enumerateOnce();
  void tryCandidates();
  void writeFrame(uint64_t handle, const Frame& frame);
  bool readTaken(Taken& device, int timeoutMs);
  void readDevices(Clock::time_point nextEnumeration);
  void releaseTaken(uint64_t handle);
  void dropTaken(uint64_t handle);

  std::unique_ptr<HidBackend> backend;
  Executor& main;
  const Events events;
  const std::chrono::milliseconds pollInterval;
  Pipe wake;
  // Posted callbacks run only while this holds: it is read and cleared on the main thread.
  std::atomic<bool> delivering{true};
  std::atomic<bool> queued{false};  // a command waits
  bool delivered = false;           // a report has just gone to the main thread
  bool every = false;               // take every candidate, not only the first that opens
  bool tookOne = false;

  std::mutex mutex;
  std::condition_variable finishedChanged;
  std::deque<std::function<void()>> commands;
  bool stopping = false;
  bool finished = false;
  std::mutex postMutex;
  bool closed = false;  // under postMutex

  // Owned by the I/O thread.
  struct Known {
    HidDeviceRef ref;
    bool gone = false;  // failed while taken: reported removed, forgotten once it leaves the list
  };
  std::map<std::string, Known> known;
  uint64_t nextHandle = 1;
  std::vector<uint64_t> candidates;
  std::map<uint64_t, Taken> taken;
};

void HidIoThread::Shared::writeFrame(uint64_t handle, const Frame& frame) {
  const auto it = taken.find(handle);
  if (it == taken.end()) {
    deliver([](const Events& e) { e.unsent(); });
    return;
  }
  uint8_t report[65] = {0};
  std::copy(frame.begin(), frame.end(), report + 1);
  std::string error;
  switch (it->second.connection->write(report, error)) {
    case HidWrite::Written:
      it->second.quietUntil = {};  // its reply is due: read at once
      break;
    case HidWrite::Gone:
      dropTaken(handle);
      break;
    case HidWrite::TimedOut:
      // The board stopped taking reports; the engine's reply time-out ends the update.
      break;
  }
}

void HidIoThread::Shared::releaseTaken(uint64_t handle) {
  // It stays known until enumeration no longer lists it, so that it is neither reported removed
  // twice nor attached again while its node lingers.
  const auto it = taken.find(handle);
  if (it == taken.end()) return;
  if (auto k = known.find(it->second.ref.info.path); k != known.end()) k->second.gone = true;
  taken.erase(it);
}

void HidIoThread::Shared::dropTaken(uint64_t handle) {
  // A device that fails a read or a write is gone as far as the update is concerned.
  const auto it = taken.find(handle);
  if (it == taken.end()) return;
  const HidDeviceRef device = it->second.ref;
  releaseTaken(handle);
  deliver([device](const Events& e) { e.removed(device); });
}

void HidIoThread::Shared::tryCandidates() {
  for (auto candidate = candidates.begin(); candidate != candidates.end();) {
    // One board per run: a second bootloader that was waiting is not opened once the first has
    // gone either, or the next run would find it taken (and a board whose host lets go leaves).
    if (!every && tookOne) return;
    const auto it = std::find_if(known.begin(), known.end(), [&](const auto& entry) {
      return entry.second.ref.handle == *candidate && !entry.second.gone;
    });
    if (it == known.end() || taken.count(*candidate)) {
      ++candidate;
      continue;
    }
    const HidDeviceRef device = it->second.ref;
    std::string why;
    auto connection = backend->open(device.info.path, why);
    if (!connection) {
      deliver([device, why = why.empty() ? std::string("cannot open") : why](const Events& e) {
        e.openFailed(device, why);
      });
      ++candidate;
      continue;
    }
    taken.emplace(device.handle, Taken{device, std::move(connection)});
    tookOne = true;
    candidate = every ? candidates.erase(candidate) : candidates.end();
    if (!every) candidates.clear();
    deliver([device](const Events& e) { e.opened(device); });
  }
}

void HidIoThread::Shared::enumerateOnce() {
  const auto present = backend->enumerate();
  for (auto it = known.begin(); it != known.end();) {
    // The same path with another instance is a board unplugged and plugged in again between two
    // enumerations: the one known has gone.
    const bool stillThere =
        std::any_of(present.begin(), present.end(), [&](const HidDeviceInfo& d) {
          return d.path == it->first && d.instance == it->second.ref.info.instance;
        });
    if (stillThere) {
      ++it;
      continue;
    }
    const Known left = it->second;
    it = known.erase(it);
    std::erase(candidates, left.ref.handle);
    taken.erase(left.ref.handle);
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

bool HidIoThread::Shared::readTaken(Taken& device, int timeoutMs) {
  uint8_t report[64];
  std::string error;
  const int got = device.connection->read(report, sizeof report, timeoutMs, error);
  if (got < 0) dropTaken(device.ref.handle);
  if (got <= 0) return false;
  device.quietUntil = Clock::now() + kTurnaround;
  delivered = true;
  deliver([handle = device.ref.handle, bytes = std::vector<uint8_t>(report, report + got)](
              const Events& e) { e.inputReport(handle, bytes); });
  return true;
}

void HidIoThread::Shared::readDevices(Clock::time_point nextEnumeration) {
  const auto untilEnumeration =
      std::chrono::duration_cast<std::chrono::milliseconds>(nextEnumeration - Clock::now());
  const int waitMs = static_cast<int>(std::max<long long>(untilEnumeration.count(), 0)) + 1;

  // A device with a descriptor is slept on together with the wake-up. One without (hidapi) is
  // read in slices, and only while no frame of ours may be on its way: a frame never waits for a
  // slice to end.
  std::vector<pollfd> fds{{wake.readEnd(), POLLIN, 0}};
  std::vector<uint64_t> watched;
  std::vector<uint64_t> due;
  int sleepMs = waitMs;
  const auto now = Clock::now();
  for (const auto& [handle, device] : taken) {
    if (const int fd = device.connection->pollDescriptor(); fd >= 0) {
      fds.push_back({fd, POLLIN, 0});
      watched.push_back(handle);
    } else if (now >= device.quietUntil) {
      due.push_back(handle);
    } else {
      const auto quiet = std::chrono::ceil<std::chrono::milliseconds>(device.quietUntil - now);
      sleepMs = std::min(sleepMs, static_cast<int>(quiet.count()));
    }
  }
  const int ready = ::poll(fds.data(), fds.size(), due.empty() ? sleepMs : 0);
  if (ready > 0 && (fds[0].revents & POLLIN)) {
    wake.drain();
    return;  // commands first
  }
  for (size_t i = 0; i < watched.size(); ++i) {
    const auto it = taken.find(watched[i]);
    if (it != taken.end() && (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR))) {
      readTaken(it->second, 0);
    }
  }
  // One slice of up to 1 ms in all, shared by the devices that are due; with several, each is
  // only looked at, and the thread sleeps the rest of the slice on its wake-up.
  const int slice = due.size() == 1 ? std::min(waitMs, kPolledReadSliceMs) : 0;
  bool got = false;
  for (const uint64_t handle : due) {
    if (queued) return;
    const auto it = taken.find(handle);
    if (it != taken.end() && readTaken(it->second, slice)) got = true;
  }
  if (due.size() > 1 && !got) {
    pollfd wakeOnly{wake.readEnd(), POLLIN, 0};
    if (::poll(&wakeOnly, 1, kPolledReadSliceMs) > 0) wake.drain();
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
    // What was just delivered has had its answer when that answer ran on this thread, in the
    // delivery itself: there is nothing to stay awake for.
    if (!work.empty()) delivered = false;
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
    readDevices(nextEnumeration);
  }
  taken.clear();
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
  lock.unlock();
  {
    std::lock_guard closing(shared_->postMutex);
    shared_->closed = true;
  }
  if (done) {
    thread_.join();
  } else {
    // Blocked in the platform (a board that takes no reports): the program must still end.
    thread_.detach();
  }
}

void HidIoThread::start(bool takeEvery) {
  shared_->every = takeEvery;
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

void HidIoThread::write(uint64_t handle, const Frame& frame) {
  shared_->enqueue([s = shared_.get(), handle, frame] { s->writeFrame(handle, frame); });
}

void HidIoThread::close(uint64_t handle) {
  shared_->enqueue([s = shared_.get(), handle] { s->releaseTaken(handle); });
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
  startDiscovery();
}

void HidLink::RegisterEveryBoard(BoardSink& sink, bool laterToo) {
  every_ = &sink;
  laterToo_ = laterToo;
  startDiscovery();
}

void HidLink::startDiscovery() {
  if (!startError_.empty()) {
    diag_.systemLog("HID: cannot start the HID library: " + startError_);
    return;
  }
  io_.start(every_ != nullptr);
  diag_.systemLog("IOHIDManager打开成功");
}

void HidLink::DeviceMatchingCallback(const HidDeviceRef& device) {
  // With every board wanted, those present when the first opened are taken, later ones only when
  // asked for.
  if (deviceAttached_ && !(every_ && laterToo_)) return;
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
  if (every_) {
    deviceAttached_ = true;
    everyTaken_.insert(device.handle);
    every_->boardTaken(device);
    return;
  }
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
  if (every_) every_->boardDeparted(device.handle);
  if (takenBoard_ == device.handle) boardDeparted_ = true;
}

void HidLink::DeviceRemovalCallback(const HidDeviceRef& device) {
  const auto vid = static_cast<uint32_t>(GetIntProperty(device.info.vendorId)) & 0xFFFF;
  const auto pid = static_cast<uint32_t>(GetIntProperty(device.info.productId)) & 0xFFFF;
  diag_.systemLog(strprintf("拔出：0x%llx设备", static_cast<unsigned long long>(device.handle)));
  diag_.systemLog(strprintf("VID：%04X PID : %04X", vid, pid));
  openFailureSaid_.erase(device.handle);
  if (every_) {
    if (everyTaken_.erase(device.handle) == 0) return;
    io_.close(device.handle);
    every_->boardRemoved(device.handle);
    return;
  }
  // Only the taken board's removal counts: a bootloader that never opened, or a second one
  // unplugged beside it, carries the same IDs and must not end the update.
  if (hidDevice_ != device.handle) return;
  io_.close(device.handle);
  hidDevice_.reset();
  if (engine_) engine_->RemovalRule(deviceVID_, devicePID_);
  deviceVID_ = 0;
  devicePID_ = 0;
}

void HidLink::InputReportCallback(uint64_t handle, const std::vector<uint8_t>& report) {
  if (every_) {
    if (everyTaken_.count(handle)) every_->boardReport(handle, report.data(), report.size());
    return;
  }
  if (!engine_ || hidDevice_ != handle) return;
  engine_->InputReportCallback(report.data(), report.size());
}

void HidLink::writeReport(const Frame& frame) {
  if (!hidDevice_) {
    diag_.systemLog("SendReport: no bootloader is connected; the frame was not sent");
    return;
  }
  io_.write(*hidDevice_, frame);
}

void HidLink::letGo(uint64_t handle) {
  if (everyTaken_.erase(handle) > 0) io_.close(handle);
}

void HidLink::writeTo(uint64_t handle, const Frame& frame) {
  if (!everyTaken_.count(handle)) {
    diag_.systemLog("SendReport: that bootloader is gone; the frame was not sent");
    return;
  }
  io_.write(handle, frame);
}

}  // namespace trident
