#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>

#include "common/executor.h"
#include "common/thread_annotations.h"

namespace trident {

// A main loop without a window: work posted from any thread runs on the thread that calls
// runUntil(). The command-line tool and the tests drive the engine with it.
class EventLoop final : public Executor {
 public:
  EventLoop() : whileIdle_(*this) {}
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  void post(std::function<void()> work) override;
  // Runs posted work until `done` holds or `timeout` passes; returns whether `done` held.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  bool runUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline);
  // Runs posted work until `done` holds, however long that takes.
  void runUntil(const std::function<bool()>& done);

  // Posts like post(), except that while the loop's thread sits idle in runUntil() with nothing
  // queued, the work runs at once on the posting thread, in the loop's place: the loop's thread
  // does nothing else meanwhile, so the work sees what it would see there. A board's reply is
  // answered this way without waking another thread for each frame. Only for a poster that holds
  // no lock the work could need and outlives what the work touches (the HID I/O thread).
  Executor& whileIdle() { return whileIdle_; }

 private:
  class WhileIdle final : public Executor {
   public:
    explicit WhileIdle(EventLoop& loop) : loop_(loop) {}
    void post(std::function<void()> work) override { loop_.runInPlace(std::move(work)); }

   private:
    EventLoop& loop_;
  };
  void runInPlace(std::function<void()> work);

  Mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> work_ GUARDED_BY(mutex_);
  bool idle_ GUARDED_BY(mutex_) = false;      // the loop's thread waits in runUntil()
  bool lent_ GUARDED_BY(mutex_) = false;      // another thread runs work in its place
  bool lentEver_ GUARDED_BY(mutex_) = false;  // and may again
  bool waitingForLent_ GUARDED_BY(mutex_) = false;
  uint64_t lentRuns_ GUARDED_BY(mutex_) = 0;  // work run in its place so far: `done` may hold now
  WhileIdle whileIdle_;
};

}  // namespace trident
