#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/unique_fd.h"
#include "support/test_support.h"

// Child processes and waiting, defined here, inline: each piece is a few lines.
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

// A child process whose standard output and error are collected as it runs, in an anonymous file
// rather than a pipe: nothing has to drain it, and all of it is there once the process has ended.
// Ended with SIGTERM and reaped at the end of its scope.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv)
      : out_(::memfd_create("child-output", MFD_CLOEXEC)) {
    std::vector<char*> args;
    for (const auto& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = out_.get() < 0 ? -1 : ::fork();
    if (pid_ == 0) {
      // A test that crashes must not leave its server behind.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int devNull = ::open("/dev/null", O_RDONLY);
      if (::getppid() == parent && devNull >= 0 && ::dup2(devNull, 0) == 0 &&
          ::dup2(out_.get(), 1) == 1 && ::dup2(out_.get(), 2) == 2) {
        ::execv(args[0], args.data());
      }
      ::_exit(127);
    }
    if (pid_ < 0) ADD_FAILURE() << "cannot start " << argv[0];
  }
  ~ChildProcess() {
    signal(SIGTERM);
    wait();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits until the output so far satisfies `ready`; false if the deadline or the process's end
  // comes first.
  bool waitForOutput(const std::function<bool(const std::string&)>& ready,
                     Clock::time_point deadline) {
    // Read once more after the end: all the process wrote is then in it.
    waitFor([&] { return ready(output()) || ended(); }, left(deadline));
    return ready(output());
  }
  // Waits until `text` has come `times` times in the output, for `limit` at most.
  bool waitForText(const std::string& text, std::chrono::milliseconds limit, size_t times = 1) {
    return waitForOutput([&](const std::string& out) { return occurrences(out, text) >= times; },
                         Clock::now() + limit);
  }
  std::string output() { return readFile("/proc/self/fd/" + std::to_string(out_.get())); }
  // Waits for the process to end; its exit status (128 + signal when killed), or -1 when it had
  // not ended by the deadline.
  int wait(Clock::time_point deadline) {
    if (!waitFor([&] { return ended(); }, left(deadline))) return -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }
  int wait(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return wait(Clock::now() + limit);
  }
  // Whether the process has `file` open now.
  bool holdsOpen(const std::filesystem::path& file) {
    std::error_code e;
    for (auto fd = std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", e);
         !e && fd != std::filesystem::directory_iterator(); fd.increment(e))
      if (std::filesystem::read_symlink(fd->path(), e) == file) return true;
    return false;
  }
  // Whether the process sleeps in the kernel's poll now (or anywhere, if the kernel hides where).
  bool sleepsInPoll() {
    const std::string proc = "/proc/" + std::to_string(pid_), where = readFile(proc + "/wchan");
    return readFile(proc + "/stat").find(") S ") != std::string::npos &&
           (where.find("poll") != std::string::npos || where == "0");
  }
  // Sends `signal` to the process.
  pid_t pid() const { return pid_; }
  void signal(int signal) {
    if (!ended()) ::kill(pid_, signal);
  }

 private:
  // Reaps the process once it has ended.
  bool ended() {
    int status = 0;
    if (status_ == -1 && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return status_ != -1 || pid_ <= 0;
  }
  static std::chrono::milliseconds left(Clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  }

  pid_t pid_ = -1;
  int status_ = -1;
  UniqueFd out_;
};

// The path of a program this build made, e.g. "tools/board-sim/trident-board-sim".
inline std::string builtProgram(const std::string& relativePath) {
  return TRIDENT_BINARY_DIR "/" + relativePath;
}

// Plugs trident-board-sim into the virtual HID folder `hidDir` (made if need be) with `options`
// and waits until its socket is there.
inline std::unique_ptr<ChildProcess> plugBoard(const std::filesystem::path& hidDir,
                                               const std::vector<std::string>& options = {}) {
  std::filesystem::create_directories(hidDir);
  std::vector<std::string> argv{builtProgram("tools/board-sim/trident-board-sim"), "--virtual-hid",
                                hidDir.string()};
  argv.insert(argv.end(), options.begin(), options.end());
  auto board = std::make_unique<ChildProcess>(argv);
  EXPECT_TRUE(board->waitForText(" plugged in at ", std::chrono::seconds(20)));
  return board;
}

}  // namespace trident::testing
