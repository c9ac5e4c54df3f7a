#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <thread>

#include "common/diagnostics.h"
#include "common/diagnostics_platform.h"
#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace trident {

int processId() {
  return static_cast<int>(::getpid());
}

unsigned long long currentThreadNumber() {
#if defined(__linux__)
  return static_cast<unsigned long long>(::syscall(SYS_gettid));
#else
  return std::hash<std::thread::id>{}(std::this_thread::get_id()) & 0xFFFFFFu;
#endif
}

std::tm localTime(std::time_t seconds) {
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

std::tm utcTime(std::time_t seconds) {
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  return utc;
}

std::string systemDescription() {
  utsname name{};
  if (::uname(&name) != 0) return "unknown";
  return std::string(name.sysname) + " " + name.release + " " + name.machine;
}

void writeThrough(std::FILE* stream, std::string_view text) {
  std::fflush(stream);
  const int fd = fileno(stream);
  while (!text.empty()) {
    const ssize_t wrote = ::write(fd, text.data(), text.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;  // nowhere to write it: diagnostics never stop the program
    text.remove_prefix(static_cast<size_t>(wrote));
  }
}

void keepStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor: this one, the lower ones being open by now.
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened > 2) ::close(opened);
  }
  std::signal(SIGPIPE, SIG_IGN);
}

bool isTerminal(std::FILE* stream) {
  return ::isatty(::fileno(stream)) == 1;
}

}  // namespace trident
