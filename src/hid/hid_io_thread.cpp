#include "hid/hid_io_thread.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <utility>

#include "common/thread_annotations.h"
#include "common/wakeup.h"
#include "hid/device_monitor.h"

namespace trident {

namespace {

using Clock = std::chrono::steady_clock;

// Without a descriptor to sleep on (hidapi), a taken device is read in short slices.
constexpr auto kPolledReadSlice = std::chrono::milliseconds(1);
// After a report has been handed over, the engine's answer to it is usually queued within
// microseconds; until this long has passed the thread waits for it instead of starting a read
// that the frame would have to wait out. A report the engine lets pass (a stale or duplicate
// reply) leaves the real reply waiting this long, so it stays short.
constexpr auto kTurnaround = std::chrono::milliseconds(1);
// The engine's answer usually comes within some tens of microseconds of the report it answers:
// waiting for it awake that long saves the thread the wake-up that sleeping costs on every frame.
constexpr auto kAwakeForAnswer = std::chrono::microseconds(300);
// A device that takes none of the frames waiting for it for this long, or lets this many pile
// up, is let go as removed: one board that stops reading must not hold up the others' frames,
// nor the program's end.
constexpr auto kWriteLimit = std::chrono::seconds(1);
constexpr size_t kMostWaitingFrames = 64;

}  // namespace

// What the I/O thread and the others share, grouped by owner. The thread holds it too, so that a
// thread left blocked in a platform call past the program's end never touches freed memory (nor
// a library already ended: the backend goes with this); once `closed` is set it posts nothing.
struct HidIoThread::Shared : std::enable_shared_from_this<Shared> {
  Shared(std::unique_ptr<HidBackend> b, Executor& e, Events ev, std::chrono::milliseconds poll)
      : main(e), events(std::move(ev)), pollInterval(poll), backend(std::move(b)) {}

  // ---- fixed before the thread starts
  Executor& main;
  const Events events;
  const std::chrono::milliseconds pollInterval;
  size_t boardLimit = 1;
  const Wakeup wake;

  // ---- any thread
  Mutex mutex;
  std::deque<std::function<void()>> commands GUARDED_BY(mutex);
  bool stopping GUARDED_BY(mutex) = false;
  bool finished GUARDED_BY(mutex) = false;
  std::condition_variable finishedChanged;
  std::atomic<bool> queued{false};  // a command waits: no read may start
  // Posted events run only while this holds: it is cleared when the owner goes.
  std::atomic<bool> delivering{true};
  Mutex postMutex;
  bool closed GUARDED_BY(postMutex) = false;

  // ---- the I/O thread's own
  ThreadRole io;
  // An opened device, when it may next be read in a slice (see kTurnaround), and the frames it
  // could not take yet, in order, with when the first of them was first offered.
  struct Taken {
    HidDeviceRef ref;
    std::unique_ptr<HidConnection> connection;
    Clock::time_point quietUntil{};
    std::deque<Frame> waiting;
    Clock::time_point waitingSince{};
    bool letGo = false;  // closed once what waits is written
  };
  std::unique_ptr<HidBackend> backend PT_GUARDED_BY(io);
  DeviceMonitor monitor GUARDED_BY(io);
  std::vector<uint64_t> candidates GUARDED_BY(io);
  std::map<uint64_t, Taken> taken GUARDED_BY(io);
  bool delivered GUARDED_BY(io) = false;  // a report has just been handed over

  void deliver(std::function<void(const Events&)> event);
  void enqueue(std::function<void()> command);
  void run();
  void enumerateOnce() REQUIRES(io);
  void tryCandidates() REQUIRES(io);
  void writeFrame(uint64_t handle, const Frame& frame) REQUIRES(io);
  void flush(uint64_t handle) REQUIRES(io);
  bool flushAll() REQUIRES(io);
  bool readTaken(Taken& device, std::chrono::milliseconds timeout) REQUIRES(io);
  void readDevices(Clock::time_point nextEnumeration) REQUIRES(io);
  void releaseTaken(uint64_t handle) REQUIRES(io);
  void dropTaken(uint64_t handle) REQUIRES(io);
};

// Hands an event to the executor, where it runs only while the owner is alive. The executor may
// run it at once on this thread, and the answer then queues a command: that takes `mutex`, so
// this holds another.
void HidIoThread::Shared::deliver(std::function<void(const Events&)> event) {
  MutexLock lock(postMutex);
  if (closed) return;
  main.post([self = shared_from_this(), event = std::move(event)] {
    if (self->delivering) event(self->events);
  });
}

void HidIoThread::Shared::enqueue(std::function<void()> command) {
  {
    MutexLock lock(mutex);
    commands.push_back(std::move(command));
  }
  queued = true;
  wake.signal();
}

void HidIoThread::Shared::writeFrame(uint64_t handle, const Frame& frame) {
  const auto it = taken.find(handle);
  if (it == taken.end()) {
    deliver([](const Events& e) { e.unsent(); });
    return;
  }
  Taken& device = it->second;
  if (device.waiting.empty()) device.waitingSince = Clock::now();
  device.waiting.push_back(frame);
  flush(handle);
}

void HidIoThread::Shared::flush(uint64_t handle) {
  Taken& device = taken.at(handle);
  const auto close = [&] {
    taken.erase(handle);
    monitor.retire(handle);
  };
  while (!device.waiting.empty()) {
    uint8_t report[65] = {0};
    std::copy(device.waiting.front().begin(), device.waiting.front().end(), report + 1);
    std::string error;
    switch (device.connection->write(report, error)) {
      case HidWrite::Written:
        device.waiting.pop_front();
        device.waitingSince = Clock::now();
        device.quietUntil = {};  // its reply is due: read at once
        if (!device.waiting.empty()) continue;
        if (device.letGo) close();
        return;
      case HidWrite::Gone:
        dropTaken(handle);
        return;
      case HidWrite::Busy:
        if (Clock::now() - device.waitingSince <= kWriteLimit &&
            device.waiting.size() <= kMostWaitingFrames)
          return;
        // A board let go has had its verdict; one still in use has stopped taking frames.
        if (device.letGo) {
          close();
          return;
        }
        deliver([device = device.ref, count = device.waiting.size()](const Events& e) {
          e.stalled(device, count);
        });
        dropTaken(handle);
        return;
    }
  }
}

bool HidIoThread::Shared::flushAll() {
  bool waiting = false;
  std::vector<uint64_t> handles;
  for (const auto& [handle, device] : taken) {
    if (!device.waiting.empty()) handles.push_back(handle);
  }
  for (const uint64_t handle : handles) {
    flush(handle);
    const auto it = taken.find(handle);
    waiting = waiting || (it != taken.end() && !it->second.waiting.empty());
  }
  return waiting;
}

void HidIoThread::Shared::releaseTaken(uint64_t handle) {
  // It stays known until enumeration no longer lists it, so that it is neither reported removed
  // twice nor attached again while its node lingers. What was queued for it before goes out
  // first: the final command among it.
  const auto it = taken.find(handle);
  if (it == taken.end()) return;
  if (!it->second.waiting.empty()) {
    it->second.letGo = true;
    return;
  }
  taken.erase(it);
  monitor.retire(handle);
}

void HidIoThread::Shared::dropTaken(uint64_t handle) {
  // A device that fails a read or a write is gone as far as the update is concerned.
  if (taken.erase(handle) == 0) return;
  if (const auto device = monitor.fail(handle))
    deliver([device = *device](const Events& e) { e.removed(device); });
}

void HidIoThread::Shared::tryCandidates() {
  for (auto candidate = candidates.begin(); candidate != candidates.end();) {
    if (taken.size() >= boardLimit) break;
    const auto device = monitor.find(*candidate);
    if (!device || taken.count(*candidate)) {
      candidate = candidates.erase(candidate);
      continue;
    }
    std::string why;
    auto connection = backend->open(device->info.path, why);
    if (!connection) {
      deliver([device = *device, why = why.empty() ? std::string("cannot open") : why](
                  const Events& e) { e.openFailed(device, why); });
      ++candidate;
      continue;
    }
    Taken opened;
    opened.ref = *device;
    opened.connection = std::move(connection);
    taken.emplace(device->handle, std::move(opened));
    candidate = candidates.erase(candidate);
    deliver([device = *device](const Events& e) { e.opened(device); });
  }
  // A board that waited beside the ones taken is not opened behind the sink's back once one of
  // them goes: a board whose host lets go leaves. The sink asks again when it has room.
  if (taken.size() >= boardLimit) candidates.clear();
}

void HidIoThread::Shared::enumerateOnce() {
  for (const DeviceChange& change : monitor.update(backend->enumerate())) {
    const HidDeviceRef& device = change.device;
    switch (change.kind) {
      case DeviceChange::Kind::Attached:
        deliver([device](const Events& e) { e.attached(device); });
        break;
      case DeviceChange::Kind::Removed:
        taken.erase(device.handle);
        deliver([device](const Events& e) { e.removed(device); });
        break;
      case DeviceChange::Kind::Departed:
        std::erase(candidates, device.handle);
        taken.erase(device.handle);
        deliver([device](const Events& e) { e.departed(device); });
        break;
    }
  }
  tryCandidates();
}

bool HidIoThread::Shared::readTaken(Taken& device, std::chrono::milliseconds timeout) {
  uint8_t report[64];
  std::string error;
  const int got =
      device.connection->read(report, sizeof report, static_cast<int>(timeout.count()), error);
  if (got < 0) dropTaken(device.ref.handle);
  if (got <= 0) return false;
  device.quietUntil = Clock::now() + kTurnaround;
  delivered = true;
  deliver([handle = device.ref.handle, bytes = std::vector<uint8_t>(report, report + got)](
              const Events& e) { e.report(handle, bytes); });
  return true;
}

void HidIoThread::Shared::readDevices(Clock::time_point nextEnumeration) {
  const auto now = Clock::now();
  const auto untilEnumeration =
      std::max(std::chrono::ceil<std::chrono::milliseconds>(nextEnumeration - now),
               std::chrono::milliseconds(0)) +
      std::chrono::milliseconds(1);

  // A device with a descriptor is slept on together with the wake-up. One without (hidapi) is
  // read in slices, and only while no frame of ours may be on its way: a frame never waits for a
  // slice to end.
  std::vector<int> fds;
  std::vector<uint64_t> watched;
  std::vector<uint64_t> due;
  auto sleep = untilEnumeration;
  for (const auto& [handle, device] : taken) {
    if (const int fd = device.connection->pollDescriptor(); fd >= 0) {
      fds.push_back(fd);
      watched.push_back(handle);
    } else if (now >= device.quietUntil) {
      due.push_back(handle);
    } else {
      sleep =
          std::min(sleep, std::chrono::ceil<std::chrono::milliseconds>(device.quietUntil - now));
    }
  }
  // Frames that a device could not take yet are offered again every slice.
  if (std::any_of(taken.begin(), taken.end(),
                  [](const auto& entry) { return !entry.second.waiting.empty(); }))
    sleep = std::min(sleep, kPolledReadSlice);
  std::vector<bool> ready;
  if (wake.wait(fds, due.empty() ? sleep : std::chrono::milliseconds(0), ready)) return;
  for (size_t i = 0; i < watched.size(); ++i) {
    const auto it = taken.find(watched[i]);
    if (it != taken.end() && ready[i]) readTaken(it->second, std::chrono::milliseconds(0));
  }
  // One slice of up to 1 ms in all, shared by the devices that are due; with several, each is
  // only looked at, and the thread sleeps the rest of the slice on its wake-up.
  const auto slice =
      due.size() == 1 ? std::min(untilEnumeration, kPolledReadSlice) : std::chrono::milliseconds(0);
  bool got = false;
  for (const uint64_t handle : due) {
    if (queued) return;
    const auto it = taken.find(handle);
    if (it != taken.end() && readTaken(it->second, slice)) got = true;
  }
  if (due.size() > 1 && !got) wake.wait({}, kPolledReadSlice, ready);
}

void HidIoThread::Shared::run() {
  io.assumeHeld();
  auto nextEnumeration = Clock::now();
  for (;;) {
    std::deque<std::function<void()>> work;
    bool stop = false;
    {
      MutexLock lock(mutex);
      work.swap(commands);
      queued = false;
      stop = stopping;
    }
    // Frames queued before the end are still written: the final command is among them.
    for (auto& command : work)
      command();
    const bool framesWait = flushAll();
    // What was just delivered has had its answer when that answer ran on this thread, in the
    // delivery itself: there is nothing to stay awake for.
    if (!work.empty()) delivered = false;
    if (stop) {
      if (framesWait) {
        std::vector<bool> none;
        wake.wait({}, kPolledReadSlice, none);
        continue;
      }
      MutexLock lock(mutex);
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
  MutexLock lock(mutex);
  finished = true;
  finishedChanged.notify_all();
}

HidIoThread::HidIoThread(std::unique_ptr<HidBackend> backend, Executor& deliverTo, Events events,
                         std::chrono::milliseconds pollInterval)
    : shared_(std::make_shared<Shared>(std::move(backend), deliverTo, std::move(events),
                                       pollInterval)) {}

HidIoThread::~HidIoThread() {
  Shared& s = *shared_;
  s.delivering = false;
  if (!thread_.joinable()) return;
  bool done = false;
  {
    MutexLock lock(s.mutex);
    s.stopping = true;
    s.wake.signal();
    const auto deadline = Clock::now() + kFlushLimit;
    while (!s.finished &&
           lock.waitOnce(s.finishedChanged, deadline) == std::cv_status::no_timeout) {
    }
    done = s.finished;
  }
  {
    MutexLock closing(s.postMutex);
    s.closed = true;
  }
  if (done) {
    thread_.join();
  } else {
    // Blocked in the platform (a board that takes no reports): the program must still end. The
    // thread keeps what it uses, the backend included, until it returns.
    thread_.detach();
  }
}

void HidIoThread::start(size_t boardLimit) {
  if (thread_.joinable()) return;
  shared_->boardLimit = std::max<size_t>(boardLimit, 1);
  thread_ = std::thread([s = shared_] { s->run(); });
}

void HidIoThread::take(uint64_t handle) {
  shared_->enqueue([s = shared_.get(), handle] {
    s->io.assumeHeld();
    if (std::find(s->candidates.begin(), s->candidates.end(), handle) == s->candidates.end())
      s->candidates.push_back(handle);
    s->tryCandidates();
  });
}

void HidIoThread::write(uint64_t handle, const Frame& frame) {
  shared_->enqueue([s = shared_.get(), handle, frame] {
    s->io.assumeHeld();
    s->writeFrame(handle, frame);
  });
}

void HidIoThread::close(uint64_t handle) {
  shared_->enqueue([s = shared_.get(), handle] {
    s->io.assumeHeld();
    s->releaseTaken(handle);
  });
}

}  // namespace trident
