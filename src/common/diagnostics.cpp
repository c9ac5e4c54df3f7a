#include "common/diagnostics.h"

#include <chrono>
#include <cstdarg>
#include <ctime>

#include "common/diagnostics_platform.h"

namespace trident {

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
  const std::tm local = localTime(seconds);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  return strprintf("%s.%03d %.*s[%d:%llu] ", stamp, static_cast<int>(millis),
                   static_cast<int>(programName.size()), programName.data(), processId(),
                   currentThreadNumber());
}

ConsoleDiagnostics::ConsoleDiagnostics(std::string programName, std::FILE* logStream,
                                       std::FILE* traceStream)
    : programName_(std::move(programName)), log_(logStream), trace_(traceStream) {}

void ConsoleDiagnostics::systemLog(std::string_view line) {
  std::string text = systemLogPrefix(programName_);
  text.append(printSafe(line, false));
  text.push_back('\n');
  MutexLock lock(mutex_);
  std::fwrite(text.data(), 1, text.size(), log_);
  std::fflush(log_);
}

void ConsoleDiagnostics::standardOutput(std::string_view text) {
  MutexLock lock(mutex_);
  if (!traceEnabled_) return;
  const std::string safe = printSafe(text, true);
  std::fwrite(safe.data(), 1, safe.size(), trace_);
  std::fflush(trace_);
}

void ConsoleDiagnostics::setTraceEnabled(bool enabled) {
  MutexLock lock(mutex_);
  traceEnabled_ = enabled;
}

std::string joined(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (const auto part : parts)
    out.append(part);
  return out;
}

std::string printSafe(std::string_view text, bool keepLineBreaks) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool lineBreak =
        keepLineBreaks && (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n'));
    // C1 controls travel as the UTF-8 pairs C2 80 to C2 9F.
    const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    // So do the bidirectional overrides and isolates (U+202A-202E, U+2066-2069), which would
    // show the text in another order than it stands.
    const auto next = [&](size_t k) {
      return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
    };
    const bool bidi = c == 0xE2 && ((next(1) == 0x80 && next(2) >= 0xAA && next(2) <= 0xAE) ||
                                    (next(1) == 0x81 && next(2) >= 0xA6 && next(2) <= 0xA9));
    if ((c < 0x20 && c != '\t' && !lineBreak) || c == 0x7F || c1 || bidi) {
      out.push_back('?');
      i += c1 ? 1 : bidi ? 2 : 0;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

}  // namespace trident
