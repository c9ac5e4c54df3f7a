#include "hid/hid_io_thread.h"

#include "hid/hid_io_shared.h"

namespace trident {

using namespace hid_io;

thread_local const HidIoThread::Shared* HidIoThread::Shared::running = nullptr;

void HidIoThread::Shared::run() {
  io.assumeHeld();
  running = this;
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
    // The others asked for were tried at the last enumeration and are tried at the next: trying
    // them again with every new request costs a connection attempt per device per request.
    if (std::find(s->candidates.begin(), s->candidates.end(), handle) == s->candidates.end())
      s->candidates.push_back(handle);
    s->tryCandidates(handle);
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
