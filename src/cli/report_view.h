#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/run_view.h"
#include "common/thread_annotations.h"

namespace trident {

// trident-flash --report FILE: the whole run in one text file a user can attach to a bug report,
// written when the run ends. Every call goes on to the view the user watches; the log and the
// protocol trace, which that view may leave out (--quiet, --json, several boards), are kept here
// in full besides.
class ReportView final : public RunView {
 public:
  // `about` heads the report: the program, the command line, the system, the libraries.
  ReportView(RunView& shown, std::filesystem::path file, std::string about);

  Diagnostics& log() override { return log_; }
  Diagnostics& engineLog() override { return engineLog_; }
  void started() override;
  void waiting() override { shown_.waiting(); }
  void taken(size_t board, const BoardRecord& record) override { shown_.taken(board, record); }
  void released(size_t board, const BoardRecord& record) override {
    shown_.released(board, record);
  }
  void downloaded(size_t board, const BoardRecord& record) override {
    shown_.downloaded(board, record);
  }
  void programmed(size_t board, const BoardRecord& record) override {
    shown_.programmed(board, record);
  }
  void say(size_t board, const std::string& line) override { shown_.say(board, line); }
  void alert(size_t board, const std::string& line) override;
  void progress(size_t board, double share, const std::string& figures) override {
    shown_.progress(board, share, figures);
  }
  void concluded(size_t board, const BoardRecord& record) override {
    shown_.concluded(board, record);
  }
  void forgotten(size_t board) override { shown_.forgotten(board); }
  void note(const std::string& line) override;
  void failed(const std::string& line) override;
  void trouble(const std::string& line) override;
  void finished(const std::vector<BoardRecord>& records, bool interrupted, int status) override;

 private:
  // What the run logged and traced, from any of its threads, up to a bound: a loop that runs for
  // days must not fill the memory.
  class Kept {
   public:
    void add(std::string_view text);
    std::string text() const;

   private:
    mutable Mutex mutex_;
    std::string text_ GUARDED_BY(mutex_);
    size_t leftOut_ GUARDED_BY(mutex_) = 0;
  };
  // One channel to the view's, and to the report.
  class Tee final : public Diagnostics {
   public:
    Tee(Diagnostics& shown, Kept& kept) : shown_(shown), kept_(kept) {}
    void systemLog(std::string_view line) override;
    void standardOutput(std::string_view text) override;

   private:
    Diagnostics& shown_;
    Kept& kept_;
  };

  RunView& shown_;
  std::filesystem::path file_;
  std::string about_;
  Kept kept_;
  Tee log_;
  Tee engineLog_;
  std::chrono::system_clock::time_point started_ = std::chrono::system_clock::now();
};

}  // namespace trident
