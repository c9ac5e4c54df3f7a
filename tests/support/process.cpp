#include "support/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace trident::testing {

namespace {
std::chrono::milliseconds left(Clock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
}
}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv)
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

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !ended()) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, &status_, 0);
  }
}

bool ChildProcess::ended() {
  int status = 0;
  if (status_ == -1 && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
  return status_ != -1;
}

bool ChildProcess::waitForOutput(const std::function<bool(const std::string&)>& ready,
                                 Clock::time_point deadline) {
  // The end is noted before the output is read: all the process wrote is then in it.
  return waitFor(
             [&] {
               const bool over = ended();
               return ready(output()) || over;
             },
             left(deadline)) &&
         ready(output());
}

std::string ChildProcess::output() {
  struct stat file {};
  std::string text(::fstat(out_.get(), &file) == 0 ? static_cast<size_t>(file.st_size) : 0, '\0');
  text.resize(
      static_cast<size_t>(std::max<ssize_t>(0, ::pread(out_.get(), text.data(), text.size(), 0))));
  return text;
}

int ChildProcess::wait(Clock::time_point deadline) {
  if (!waitFor([&] { return ended(); }, left(deadline))) return -1;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

void ChildProcess::signal(int signal) {
  if (pid_ > 0 && !ended()) ::kill(pid_, signal);
}

std::unique_ptr<ChildProcess> plugBoard(const std::filesystem::path& hidDir,
                                        const std::vector<std::string>& options) {
  std::vector<std::string> argv{builtProgram("tools/board-sim/trident-board-sim"), "--virtual-hid",
                                hidDir.string()};
  argv.insert(argv.end(), options.begin(), options.end());
  auto board = std::make_unique<ChildProcess>(argv);
  EXPECT_TRUE(board->waitForOutput(
      [](const std::string& out) { return out.find(" plugged in at ") != std::string::npos; },
      within(std::chrono::seconds(20))));
  return board;
}

}  // namespace trident::testing
