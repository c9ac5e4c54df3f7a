#include "common/event_loop.h"

namespace trident {

void EventLoop::post(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    work_.push_back(std::move(work));
  }
  ready_.notify_one();
}

bool EventLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return runUntil(done, std::chrono::steady_clock::now() + timeout);
}

bool EventLoop::runUntil(const std::function<bool()>& done,
                         std::chrono::steady_clock::time_point deadline) {
  while (!done()) {
    std::function<void()> next;
    {
      std::unique_lock lock(mutex_);
      if (!ready_.wait_until(lock, deadline, [&] { return !work_.empty(); })) return done();
      next = std::move(work_.front());
      work_.pop_front();
    }
    next();
  }
  return true;
}

void EventLoop::runUntil(const std::function<bool()>& done) {
  while (!done()) {
    std::function<void()> next;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [&] { return !work_.empty(); });
      next = std::move(work_.front());
      work_.pop_front();
    }
    next();
  }
}

}  // namespace trident
