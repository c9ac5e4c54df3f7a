#include <io.h>
#include <process.h>

#include <cstdio>
#include <functional>
#include <thread>

#include "common/diagnostics.h"
#include "common/diagnostics_platform.h"

namespace trident {

int processId() {
  return ::_getpid();
}

unsigned long long currentThreadNumber() {
  return std::hash<std::thread::id>{}(std::this_thread::get_id()) & 0xFFFFFFu;
}

std::tm localTime(std::time_t seconds) {
  std::tm local{};
  localtime_s(&local, &seconds);
  return local;
}

std::string systemDescription() {
  return "Windows";
}

std::tm utcTime(std::time_t seconds) {
  std::tm utc{};
  gmtime_s(&utc, &seconds);
  return utc;
}

void writeThrough(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

void keepStandardStreams() {}  // a Windows program without a console has no streams to guard

bool isTerminal(std::FILE* stream) {
  return ::_isatty(::_fileno(stream)) != 0;
}

}  // namespace trident
