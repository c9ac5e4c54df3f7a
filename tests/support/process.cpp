#include "support/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace trident::testing {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(std::exchange(other.fd_, -1));
  return *this;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2 failed";
    return;
  }
  out_.reset(fds[0]);
  UniqueFd writeEnd(fds[1]);
  std::vector<char*> args;
  for (const auto& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    // A test that crashes must not leave its server behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(writeEnd.get(), 1) < 0 ||
        ::dup2(writeEnd.get(), 2) < 0) {
      ::_exit(127);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (pid_ < 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return;
  }
  reader_ = std::thread([this] {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(out_.get(), buffer, sizeof buffer);
      std::lock_guard lock(mutex_);
      if (n <= 0) {
        ended_ = true;
        changed_.notify_all();
        return;
      }
      output_.append(buffer, static_cast<size_t>(n));
      changed_.notify_all();
    }
  });
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && status_ == -1) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (reader_.joinable()) reader_.join();
}

bool ChildProcess::waitForOutput(const std::function<bool(const std::string&)>& ready,
                                 Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [&] { return ready(output_) || ended_; }) &&
         ready(output_);
}

std::string ChildProcess::output() {
  std::lock_guard lock(mutex_);
  return output_;
}

int ChildProcess::wait(Clock::time_point deadline) {
  if (pid_ <= 0) return -1;
  while (status_ == -1) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = status;
      break;
    }
    if (Clock::now() > deadline) return -1;
    // The process closes its output when it ends: wait for that rather than spinning.
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(5), [&] { return ended_; });
  }
  // Everything the process wrote is read before its status is reported.
  {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return ended_; });
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

void ChildProcess::signal(int signal) {
  if (pid_ > 0 && status_ == -1) ::kill(pid_, signal);
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::string builtProgram(const std::string& relativePath) {
  return std::string(TRIDENT_BINARY_DIR) + "/" + relativePath;
}

}  // namespace trident::testing
