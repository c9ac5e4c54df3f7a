#include "common/diagnostics.h"

#include <chrono>
#include <cstdarg>
#include <ctime>
#include <functional>
#include <thread>

#if defined(_WIN32)
#include <process.h>
#define TRIDENT_GETPID _getpid
#else
#include <unistd.h>
#define TRIDENT_GETPID getpid
#endif
#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace trident {

namespace {

unsigned long long currentThreadNumber() {
#if defined(__linux__)
  return static_cast<unsigned long long>(::syscall(SYS_gettid));
#else
  return std::hash<std::thread::id>{}(std::this_thread::get_id()) & 0xFFFFFFu;
#endif
}

}  // namespace

std::string strprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (needed > 0) {
    out.resize(static_cast<size_t>(needed));
    std::vsnprintf(out.data(), out.size() + 1, format, args);
  }
  va_end(args);
  return out;
}

std::string systemLogPrefix(std::string_view programName) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  return strprintf("%s.%03d %.*s[%d:%llu] ", stamp, static_cast<int>(millis),
                   static_cast<int>(programName.size()), programName.data(),
                   static_cast<int>(TRIDENT_GETPID()), currentThreadNumber());
}

ConsoleDiagnostics::ConsoleDiagnostics(std::string programName, std::FILE* logStream,
                                       std::FILE* traceStream)
    : programName_(std::move(programName)), log_(logStream), trace_(traceStream) {}

void ConsoleDiagnostics::systemLog(std::string_view line) {
  std::string text = systemLogPrefix(programName_);
  text.append(line);
  text.push_back('\n');
  std::lock_guard lock(mutex_);
  std::fwrite(text.data(), 1, text.size(), log_);
  std::fflush(log_);
}

void ConsoleDiagnostics::standardOutput(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (!traceEnabled_) return;
  std::fwrite(text.data(), 1, text.size(), trace_);
  std::fflush(trace_);
}

void ConsoleDiagnostics::setTraceEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  traceEnabled_ = enabled;
}

}  // namespace trident
