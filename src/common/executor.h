#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <utility>

namespace trident {

// Where work that finished on a worker thread is handed back to the thread that owns the engine.
// The application posts to the Qt main thread; tests run the posted work themselves.
class Executor {
 public:
  virtual ~Executor() = default;
  virtual void post(std::function<void()> work) = 0;
};

// Passes work on to `next`, but once there, work that arrives while `holding()` says so waits, in
// the order it came, until release(). The window holds the board's events this way while an alert
// is open, so nothing changes the view behind it. Only post() may be called from other threads.
class HoldingExecutor final : public Executor {
 public:
  HoldingExecutor(Executor& next, std::function<bool()> holding)
      : next_(next), holding_(std::move(holding)) {}

  void post(std::function<void()> work) override {
    // Behind whatever already waits, so the order holds across a release.
    next_.post([this, work = std::move(work)]() mutable {
      waiting_.push_back(std::move(work));
      release();
    });
  }

  // Runs what waited, in order, until it is told to hold again.
  void release() {
    while (!holding_() && !waiting_.empty()) {
      auto work = std::move(waiting_.front());
      waiting_.pop_front();
      work();
    }
  }

  size_t waiting() const { return waiting_.size(); }

 private:
  Executor& next_;
  std::function<bool()> holding_;
  std::deque<std::function<void()>> waiting_;
};

}  // namespace trident
