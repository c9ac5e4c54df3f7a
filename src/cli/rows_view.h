#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/run_view.h"

namespace trident {

// Several boards on one stream. On a terminal each board keeps one row at the bottom, redrawn in
// place, with notes scrolling above; otherwise every line is written as it comes, prefixed with
// the board's name.
class BoardRows {
 public:
  BoardRows(std::FILE* out, bool terminal);
  void add(size_t row, const std::string& name);
  void say(size_t row, const std::string& line);
  // A line that must not be lost when the row changes again (an error).
  void alert(size_t row, const std::string& line);
  void progress(size_t row, double share, const std::string& figures);
  // A line about no board in particular, or one to keep (an error), above the rows.
  void note(const std::string& line);
  // The board's row becomes a note: it is done, and others take its place.
  void retire(size_t row);
  // The rows stay as they are; what follows goes below them.
  void finish();

 private:
  struct Row {
    std::string name;
    std::string text;
    PlainProgress plain;
  };
  void write(const std::string& text);
  void noteSafe(const std::string& line);
  void redraw();
  std::string rowText(const Row& row) const;

  std::FILE* out_;
  bool terminal_;
  size_t nameWidth_ = 5;
  std::map<size_t, Row> rows_;  // in the order the boards were taken
  size_t drawn_ = 0;            // rows on screen below the notes
  std::chrono::steady_clock::time_point lastDrawn_{};
};

// The log, as notes above the boards' rows; the protocol trace of several boards at once would
// only bury them.
class RowsLog final : public Diagnostics {
 public:
  explicit RowsLog(BoardRows& rows) : rows_(rows) {}
  void systemLog(std::string_view line) override;
  void standardOutput(std::string_view) override {}

 private:
  BoardRows& rows_;
};

// trident-flash --all: a row per board, and a table of every board at the end.
class RowsView final : public RunView {
 public:
  RowsView(std::FILE* out, bool terminal, bool quiet)
      : rows_(out, terminal), log_(rows_), quiet_(quiet) {}

  Diagnostics& log() override { return quiet_ ? static_cast<Diagnostics&>(none_) : log_; }
  Diagnostics& engineLog() override { return none_; }
  void started() override;
  void waiting() override {}
  void taken(size_t board, const BoardRecord& record) override { rows_.add(board, record.name); }
  void say(size_t board, const std::string& line) override { rows_.say(board, line); }
  void alert(size_t board, const std::string& line) override { rows_.alert(board, line); }
  void progress(size_t board, double share, const std::string& figures) override {
    rows_.progress(board, share, figures);
  }
  void concluded(size_t board, const BoardRecord& record) override;
  void forgotten(size_t board) override { rows_.retire(board); }
  void note(const std::string& line) override { rows_.note(line); }
  void finished(const std::vector<BoardRecord>& records, bool interrupted, int) override;

 private:
  BoardRows rows_;
  RowsLog log_;
  NullDiagnostics none_;
  bool quiet_;
};

}  // namespace trident
