#include "common/diagnostics.h"

#include <chrono>
#include <cstdarg>
#include <cstdint>
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
                                       std::FILE* traceStream, Writing writing)
    : programName_(std::move(programName)), log_(logStream), trace_(traceStream) {
  if (writing == Writing::atOnce) return;
  behind_ = std::make_shared<Behind>();
  writer_ = std::thread([behind = behind_] { behind->run(); });
}

ConsoleDiagnostics::~ConsoleDiagnostics() {
  if (!behind_) return;
  bool ended;
  {
    MutexLock lock(behind_->mutex);
    behind_->ending = true;
    behind_->changed.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + kEndLimit;
    while (!behind_->ended &&
           lock.waitOnce(behind_->changed, deadline) == std::cv_status::no_timeout) {
    }
    ended = behind_->ended;
  }
  if (ended)
    writer_.join();
  else
    writer_.detach();  // stuck in a write nobody takes; it keeps what it shares
}

void ConsoleDiagnostics::systemLog(std::string_view line) {
  std::string text = systemLogPrefix(programName_);
  text.append(printSafe(line, false));
  text.push_back('\n');
  put(log_, std::move(text));
}

void ConsoleDiagnostics::standardOutput(std::string_view text) {
  {
    MutexLock lock(mutex_);
    if (!traceEnabled_) return;
  }
  put(trace_, printSafe(text, true));
}

void ConsoleDiagnostics::put(std::FILE* stream, std::string text) {
  if (behind_) {
    MutexLock lock(behind_->mutex);
    behind_->waiting.push_back({stream, std::move(text)});
    // Only the first text of a batch wakes the writer; the rest join it while it gathers.
    if (behind_->waiting.size() == 1) behind_->changed.notify_all();
    return;
  }
  MutexLock lock(mutex_);
  write({{stream, std::move(text)}});
}

void ConsoleDiagnostics::Behind::run() {
  for (bool last = false; !last;) {
    std::deque<Text> batch;
    {
      MutexLock lock(mutex);
      lock.wait(changed, [this]() REQUIRES(mutex) { return !waiting.empty() || ending; });
      lock.waitUntil(changed, std::chrono::steady_clock::now() + kGatherTime,
                     [this]() REQUIRES(mutex) { return ending; });
      batch.swap(waiting);
      last = ending;
    }
    write(batch);
  }
  MutexLock lock(mutex);
  ended = true;
  changed.notify_all();
}

void ConsoleDiagnostics::write(const std::deque<Text>& texts) {
  // A run of texts for one stream goes out in one write.
  for (auto it = texts.begin(); it != texts.end();) {
    std::FILE* stream = it->stream;
    std::string run;
    for (; it != texts.end() && it->stream == stream; ++it)
      run.append(it->text);
    writeThrough(stream, run);
  }
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

namespace {

// The length of the well-formed UTF-8 sequence that starts at `i`, or 0 when none does there (a
// stray continuation byte, an overlong form, a surrogate, a sequence cut short).
size_t utf8Length(std::string_view text, size_t i) {
  const auto at = [&](size_t k) { return k < text.size() ? static_cast<uint8_t>(text[k]) : 0; };
  const uint8_t c = at(i);
  if (c < 0x80) return 1;
  size_t length = 4;
  uint8_t low = 0x80, high = 0xBF;  // what the second byte may be
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    low = c == 0xE0 ? 0xA0 : low;
    high = c == 0xED ? 0x9F : high;
  } else if (c >= 0xF0 && c <= 0xF4) {
    low = c == 0xF0 ? 0x90 : low;
    high = c == 0xF4 ? 0x8F : high;
  } else {
    return 0;
  }
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string printSafe(std::string_view text, bool keepLineBreaks) {
  std::string out;
  out.reserve(text.size());
  const auto byte = [&](size_t k) {
    return k < text.size() ? static_cast<unsigned char>(text[k]) : 0;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = byte(i);
    const bool lineBreak = keepLineBreaks && (c == '\n' || (c == '\r' && byte(i + 1) == '\n'));
    // A byte outside well-formed UTF-8 is no character: a terminal of 8-bit controls would take
    // 0x9B for CSI.
    const size_t length = utf8Length(text, i);
    // The controls beyond ASCII, as UTF-8: the C1 controls (U+0080-009F), the Arabic letter mark
    // (U+061C), the direction marks (U+200E-200F), the line and paragraph separators, embeddings
    // and overrides (U+2028-202E) and the isolates (U+2066-2069). Each would show the text in
    // another order or on other lines than it stands.
    const bool control =
        (c == 0xC2 && byte(i + 1) <= 0x9F) || (c == 0xD8 && byte(i + 1) == 0x9C) ||
        (c == 0xE2 && ((byte(i + 1) == 0x80 && ((byte(i + 2) >= 0x8E && byte(i + 2) <= 0x8F) ||
                                                (byte(i + 2) >= 0xA8 && byte(i + 2) <= 0xAE))) ||
                       (byte(i + 1) == 0x81 && byte(i + 2) >= 0xA6 && byte(i + 2) <= 0xA9)));
    if (length == 0 || (c < 0x20 && !lineBreak) || c == 0x7F || (length > 1 && control)) {
      out.push_back('?');
      i += length == 0 ? 0 : length - 1;
    } else {
      out.append(text.substr(i, length));
      i += length - 1;
    }
  }
  return out;
}

std::string utcTimeText(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto millis = duration_cast<milliseconds>(when.time_since_epoch()).count();
  const std::tm utc = utcTime(static_cast<std::time_t>(millis / 1000));
  return strprintf("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                   utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                   static_cast<int>(millis % 1000));
}

}  // namespace trident
