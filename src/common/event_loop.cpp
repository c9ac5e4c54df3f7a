#include "common/event_loop.h"

namespace trident {

namespace {

// How often a loop whose work may run in its place looks whether `done` holds now. Work run in
// its place does not wake it: that wake-up would delay the frame the work has just answered.
constexpr auto kLentWorkCheck = std::chrono::milliseconds(5);

}  // namespace

void EventLoop::post(std::function<void()> work) {
  {
    MutexLock lock(mutex_);
    work_.push_back(std::move(work));
  }
  ready_.notify_all();
}

void EventLoop::runInPlace(std::function<void()> work) {
  bool lend;
  {
    MutexLock lock(mutex_);
    // Queued work goes first, so that nothing overtakes what was posted before.
    lend = idle_ && !lent_ && work_.empty();
    if (lend) {
      lent_ = true;
      lentEver_ = true;
    } else {
      work_.push_back(std::move(work));
    }
  }
  if (!lend) {
    ready_.notify_all();
    return;
  }
  work();
  bool waitedFor;
  {
    MutexLock lock(mutex_);
    lent_ = false;
    ++lentRuns_;
    waitedFor = waitingForLent_;
  }
  if (waitedFor) ready_.notify_all();
}

bool EventLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return runUntil(done, std::chrono::steady_clock::now() + timeout);
}

bool EventLoop::runUntil(const std::function<bool()>& done,
                         std::chrono::steady_clock::time_point deadline) {
  while (!done()) {
    std::function<void()> next;
    {
      MutexLock lock(mutex_);
      const uint64_t runs = lentRuns_;
      idle_ = true;
      bool woken = false;
      for (auto now = std::chrono::steady_clock::now(); !woken && now < deadline;
           now = std::chrono::steady_clock::now()) {
        const auto until = lentEver_ ? std::min(deadline, now + kLentWorkCheck) : deadline;
        woken = lock.waitUntil(ready_, until, [&]() REQUIRES(mutex_) { return !work_.empty(); }) ||
                lentRuns_ != runs;
      }
      idle_ = false;
      // Work lent out ends before this thread takes anything up again.
      waitingForLent_ = true;
      lock.wait(ready_, [&]() REQUIRES(mutex_) { return !lent_; });
      waitingForLent_ = false;
      if (work_.empty()) {
        if (!woken) return done();
        continue;
      }
      next = std::move(work_.front());
      work_.pop_front();
    }
    next();
  }
  return true;
}

void EventLoop::runUntil(const std::function<bool()>& done) {
  while (!runUntil(done, std::chrono::hours(1))) {
  }
}

}  // namespace trident
