#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace trident::testing {

using Clock = std::chrono::steady_clock;
inline Clock::time_point within(std::chrono::milliseconds limit) {
  return Clock::now() + limit;
}

// Polls `done` until it holds or `timeout` passes, for conditions outside any event loop.
inline bool waitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  for (const auto deadline = Clock::now() + timeout; !done();) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A file descriptor, closed at the end of its scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// A child process whose standard output and error are collected as it runs. Ended with SIGTERM
// and reaped at the end of its scope.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits until the output so far satisfies `ready`; false if the deadline or the process's end
  // comes first.
  bool waitForOutput(const std::function<bool(const std::string&)>& ready,
                     Clock::time_point deadline);
  std::string output();
  // Waits for the process to end; its exit status (128 + signal when killed), or -1 when it had
  // not ended by the deadline.
  int wait(Clock::time_point deadline);
  int wait(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return wait(Clock::now() + limit);
  }
  // Sends `signal` to the process.
  void signal(int signal);

 private:
  bool ended();  // reaps the process once it has ended

  pid_t pid_ = -1;
  int status_ = -1;
  // The output goes to an anonymous file rather than a pipe: nothing has to drain it, and all of
  // it is there to read once the process has ended.
  UniqueFd out_;
};

// The path of a program this build made, e.g. "tools/board-sim/trident-board-sim".
inline std::string builtProgram(const std::string& relativePath) {
  return TRIDENT_BINARY_DIR "/" + relativePath;
}

// Plugs trident-board-sim into the virtual HID folder `hidDir` with `options` and waits until
// its socket is there.
std::unique_ptr<ChildProcess> plugBoard(const std::filesystem::path& hidDir,
                                        const std::vector<std::string>& options = {});

}  // namespace trident::testing
