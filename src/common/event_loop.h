#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "common/executor.h"

namespace trident {

// A main loop without a window: work posted from any thread runs on the thread that calls
// runUntil(). The command-line tool and the tests drive the engine with it.
class EventLoop final : public Executor {
 public:
  void post(std::function<void()> work) override;
  // Runs posted work until `done` holds or `timeout` passes; returns whether `done` held.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  bool runUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline);
  // Runs posted work until `done` holds, however long that takes.
  void runUntil(const std::function<bool()>& done);

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> work_;
};

}  // namespace trident
