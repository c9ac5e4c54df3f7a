#include "cli/rows_view.h"

#include <algorithm>

#include "common/terminal.h"

namespace trident {

namespace {

using Clock = std::chrono::steady_clock;

// Progress redraws of every row at once: often enough to look alive, rare enough to cost nothing
// beside the boards' frames.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr size_t kMaxNameWidth = 24;

}  // namespace

BoardRows::BoardRows(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

void BoardRows::add(size_t id, const std::string& name) {
  Row& row = rows_[id];
  row.name = printSafe(name, false);
  row.text = "taken";
  // A long name is cut in its row rather than leave no room for the board's state.
  if (row.name.size() > kMaxNameWidth) row.name = row.name.substr(0, kMaxNameWidth - 1) + "~";
  nameWidth_ = std::max(nameWidth_, row.name.size());
  redraw();
}

void BoardRows::retire(size_t row) {
  const auto it = rows_.find(row);
  if (it == rows_.end()) return;
  const std::string last = rowText(it->second);
  rows_.erase(it);
  if (terminal_) noteSafe(last);
}

std::string BoardRows::rowText(const Row& row) const {
  std::string text = row.name;
  text.resize(nameWidth_ + 2, ' ');
  text += row.text;
  // A row that wraps would throw the redrawing off by a line.
  const size_t width = terminalColumns(out_);
  if (text.size() >= width) text.resize(width - 1);
  return text;
}

void BoardRows::write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

void BoardRows::redraw() {
  if (!terminal_) return;
  std::string screen = drawn_ > 0 ? strprintf("\x1b[%zuA", drawn_) : std::string();
  for (const auto& [id, row] : rows_) {
    screen += "\r\x1b[2K";
    screen += rowText(row);
    screen += '\n';
  }
  drawn_ = rows_.size();
  lastDrawn_ = Clock::now();
  write(screen);
}

void BoardRows::say(size_t row, const std::string& line) {
  const auto it = rows_.find(row);
  if (it == rows_.end()) return;  // retired, or the rows are finished
  Row& r = it->second;
  r.plain.restart();
  if (!terminal_) {
    write(r.name + ": " + printSafe(line, false) + "\n");
    return;
  }
  r.text = printSafe(line, false);
  redraw();
}

void BoardRows::alert(size_t row, const std::string& line) {
  // On a terminal the row shows only the latest line: the error is kept above the rows as well.
  const auto it = rows_.find(row);
  if (it == rows_.end()) return;
  if (terminal_) noteSafe(it->second.name + ": " + printSafe(line, false));
  say(row, line);
}

void BoardRows::progress(size_t row, double share, const std::string& figures) {
  const auto it = rows_.find(row);
  if (it == rows_.end()) return;  // retired, or the rows are finished
  Row& r = it->second;
  if (!terminal_) {
    if (!r.plain.due(share)) return;
    write(r.name + ": progress " + figures + "\n");
    return;
  }
  r.text = progressBar(share, figures);
  if (share >= 1 || Clock::now() - lastDrawn_ >= kRedrawInterval) redraw();
}

void BoardRows::note(const std::string& line) {
  const std::string safe = printSafe(line, false);
  if (terminal_) {
    noteSafe(safe);
  } else {
    write(safe + "\n");
  }
}

void BoardRows::noteSafe(const std::string& line) {
  // Up over the rows, the note in their place, the rows below it again.
  std::string screen = drawn_ > 0 ? strprintf("\x1b[%zuA\r\x1b[J", drawn_) : std::string();
  drawn_ = 0;
  screen += line;
  screen += '\n';
  write(screen);
  redraw();
}

void BoardRows::finish() {
  redraw();
  drawn_ = 0;
  rows_.clear();
}

void RowsLog::systemLog(std::string_view line) {
  rows_.note(joined({systemLogPrefix("trident-flash"), line}));
}

void RowsView::started() {
  rows_.note("Waiting for boards: hold each one's button while plugging it in...");
}

void RowsView::concluded(size_t board, const BoardRecord& record) {
  rows_.say(board, verdictText(record.outcome));
}

void RowsView::finished(const std::vector<BoardRecord>& records, bool interrupted, int) {
  rows_.finish();
  std::string unfinished;
  for (const auto& r : records) {
    if (!r.outcome) unfinished += (unfinished.empty() ? "" : ", ") + r.name;
  }
  // The table reads the same on a terminal and in a log; the result column holds the longest
  // result ("server or file error").
  if (!records.empty())
    rows_.note(strprintf("%-16s  %-20s  %8s  %s", "board", "result", "time", "bytes"));
  for (const auto& r : records) {
    rows_.note(strprintf("%-16s  %-20s  %6.1f s  %u/%u", r.name.c_str(),
                         resultText(r.outcome.value_or(FlashOutcome::Interrupted)).c_str(),
                         r.seconds, r.sent, r.total));
  }
  if (interrupted) {
    rows_.note("trident-flash: interrupted" +
               (unfinished.empty() ? std::string() : "; unfinished: " + unfinished));
  }
}

}  // namespace trident
