#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "common/thread_annotations.h"

namespace trident {

// The product writes two kinds of diagnostics: the system log (one time-stamped line per message,
// on standard error) and the trace on standard output (frame dumps, loader and transfer lines,
// written exactly as given, line breaks included). Everything that reports goes through this
// interface, so tests can record both channels and benchmarks can discard them.
class Diagnostics {
 public:
  virtual ~Diagnostics() = default;
  virtual void systemLog(std::string_view line) = 0;
  virtual void standardOutput(std::string_view text) = 0;
};

// Writes the system log to one stream with the prefix
// "2026-12-06 07:48:45.123 trident-updater[pid:tid] " and the trace to another, in the order the
// two were made, each write flushed.
//
// Written at once, each line costs its caller a write to the stream. Written behind, the caller
// only hands its text to a thread of the writer's own, which writes what gathered every
// kGatherTime (prefix and stamp are still taken at the call): the window answers the board's
// frames on its HID thread, and five writes per frame were a tenth of the wire's time. Nothing is
// lost at the end: the destructor waits for whatever waits to be written, up to kEndLimit. A
// stream nobody reads (a full pipe) cannot hold the program's end beyond that.
class ConsoleDiagnostics final : public Diagnostics {
 public:
  enum class Writing { atOnce, behind };
  static constexpr std::chrono::milliseconds kGatherTime{20};
  static constexpr std::chrono::seconds kEndLimit{2};

  explicit ConsoleDiagnostics(std::string programName, std::FILE* logStream = stderr,
                              std::FILE* traceStream = stdout, Writing writing = Writing::atOnce);
  ~ConsoleDiagnostics() override;
  ConsoleDiagnostics(const ConsoleDiagnostics&) = delete;
  ConsoleDiagnostics& operator=(const ConsoleDiagnostics&) = delete;

  void systemLog(std::string_view line) override;
  void standardOutput(std::string_view text) override;
  // Leaves the trace out (the system log stays); used by quiet command-line runs.
  void setTraceEnabled(bool enabled);

 private:
  struct Text {
    std::FILE* stream;
    std::string text;
  };
  // What the writer thread shares with the rest; it keeps it when it has to be left behind.
  struct Behind {
    Mutex mutex;
    std::condition_variable changed;
    std::deque<Text> waiting GUARDED_BY(mutex);
    bool ending GUARDED_BY(mutex) = false;
    bool ended GUARDED_BY(mutex) = false;
    void run();
  };
  void put(std::FILE* stream, std::string text);
  static void write(const std::deque<Text>& texts);

  std::string programName_;
  std::FILE* log_;
  std::FILE* trace_;
  Mutex mutex_;  // one writer at a time, so lines never interleave
  bool traceEnabled_ GUARDED_BY(mutex_) = true;
  std::shared_ptr<Behind> behind_;  // none: written at once
  std::thread writer_;
};

class NullDiagnostics final : public Diagnostics {
 public:
  void systemLog(std::string_view) override {}
  void standardOutput(std::string_view) override {}
};

// The system-log prefix for the current local time, process and thread.
std::string systemLogPrefix(std::string_view programName);

// printf-style formatting into a std::string.
std::string strprintf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The system, for a bug report: its name, release and machine ("Linux 6.1.0-28-amd64 x86_64").
std::string systemDescription();

// Whether the stream is a terminal.
bool isTerminal(std::FILE* stream);
// Called first in main(). A standard stream the program was started without (`>&-`) is opened on
// the null device, so that the next descriptor the program opens (a display's socket, a board)
// does not become standard output and take the trace; and a reader that goes away (`| head`) no
// longer ends the program with SIGPIPE mid-update: what is written to it is lost, the update goes
// on.
void keepStandardStreams();

// Text as it may be printed anywhere: every control character (C0 with tabs, DEL, C1, the
// direction marks, overrides and isolates, the line and paragraph separators) becomes "?", and line
// breaks (LF, CR LF) stay when `keepLineBreaks` is set. Server
// text goes through this wherever it is printed: on a terminal its controls could move the
// cursor, retitle the terminal or hide the verdict, and a log saved from a pipe does the same when
// it is read later.
std::string printSafe(std::string_view text, bool keepLineBreaks);

// A moment as RFC 3339 writes it, in UTC to the millisecond: "2026-12-07T07:10:03.123Z".
std::string utcTimeText(std::chrono::system_clock::time_point when);

// Log lines that carry server text are built by joining, not by printf: such text may hold
// anything, a NUL byte or a "%" included.
std::string joined(std::initializer_list<std::string_view> parts);

// The text form of a value that may be absent: absent values print as "(null)".
inline std::string_view orNull(const std::optional<std::string>& value) {
  return value ? std::string_view(*value) : std::string_view("(null)");
}

}  // namespace trident
