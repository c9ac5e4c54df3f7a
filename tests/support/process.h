#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/event_loop.h"

namespace trident::testing {

// A child process, killed and reaped when the object goes away.
class ChildProcess {
 public:
  // Starts `argv[0]` with the arguments; standard error goes to `stderrFile` when given.
  explicit ChildProcess(std::vector<std::string> argv, const std::string& stderrFile = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits for the exit; returns the exit status, or -1 when it did not end within `timeout`.
  int wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  bool running();

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// Polls `done` until it holds or `timeout` passes, for conditions outside any executor.
bool waitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::seconds(20));

// The path of a program this build made, e.g. "tools/board-sim/trident-board-sim".
std::string builtProgram(const std::string& relativePath);

}  // namespace trident::testing
