#include "cli/report_view.h"

#include "common/state_file.h"

namespace trident {

namespace {

// Enough for the trace of some hundred boards; a run longer than that keeps its beginning, which
// is where a fault usually shows first.
constexpr size_t kMaxKeptBytes = 16u << 20;

std::string orNone(const std::string& text) {
  return text.empty() ? "-" : printSafe(text, false);
}

}  // namespace

void ReportView::Kept::add(std::string_view text) {
  const MutexLock lock(mutex_);
  if (text_.size() + text.size() > kMaxKeptBytes) {
    leftOut_ += text.size();
    return;
  }
  text_ += text;
}

std::string ReportView::Kept::text() const {
  const MutexLock lock(mutex_);
  if (leftOut_ == 0) return text_;
  return text_ + strprintf("(%zu more bytes left out)\n", leftOut_);
}

void ReportView::Tee::systemLog(std::string_view line) {
  kept_.add(utcTimeText(std::chrono::system_clock::now()) + " " + std::string(line) + "\n");
  shown_.systemLog(line);
}

void ReportView::Tee::standardOutput(std::string_view text) {
  kept_.add(text);
  shown_.standardOutput(text);
}

ReportView::ReportView(RunView& shown, std::filesystem::path file, std::string about)
    : shown_(shown),
      file_(std::move(file)),
      about_(std::move(about)),
      log_(shown.log(), kept_),
      engineLog_(shown.engineLog(), kept_) {}

void ReportView::started() {
  started_ = std::chrono::system_clock::now();
  shown_.started();
}

// What the user was told goes into the log part too (marked "*"), in its place among the log's
// lines.
void ReportView::alert(size_t board, const std::string& line) {
  kept_.add("* " + line + "\n");
  shown_.alert(board, line);
}

void ReportView::note(const std::string& line) {
  kept_.add("* " + line + "\n");
  shown_.note(line);
}

void ReportView::trouble(const std::string& line) {
  kept_.add("* " + line + "\n");
  shown_.trouble(line);
}

void ReportView::failed(const std::string& line) {
  kept_.add("* " + line + "\n");
  shown_.failed(line);
}

void ReportView::finished(const std::vector<BoardRecord>& records, bool interrupted, int status) {
  const auto ended = std::chrono::system_clock::now();
  std::string report = "Trident Updater report\n\n" + about_;
  report += "started: " + utcTimeText(started_) + "\nended:   " + utcTimeText(ended) +
            strprintf(" (%.3f s)\n", std::chrono::duration<double>(ended - started_).count());
  report += strprintf("exit status: %d%s\n\n", status, interrupted ? " (interrupted)" : "");
  report += strprintf("boards: %zu\n", records.size());
  for (const BoardRecord& r : records) {
    report += '\n';
    report += printSafe(r.name, false) + "\n";
    report += "  path:     " + orNone(r.path) + "\n  serial:   " + orNone(r.serial) + "\n";
    report += "  result:   " + resultKey(r) + "\n  release:  " + orNone(r.version) + "\n";
    report += "  firmware: " + orNone(r.firmwareFrom) +
              strprintf(" (%llu bytes)\n", static_cast<unsigned long long>(r.firmwareBytes));
    report += "  sha256:   " + orNone(r.firmwareSha256) + "\n";
    report += "  checksum: expected " +
              (r.expectedChecksum ? checksumText(*r.expectedChecksum) : std::string("-")) +
              ", reported " +
              (r.reportedChecksum ? checksumText(*r.reportedChecksum) : std::string("-")) + "\n";
    report += strprintf("  programmed: %u of %u bytes in %.3f s\n", r.sent, r.total, r.seconds);
  }
  report += "\nlog and protocol trace (UTC):\n" + printSafe(kept_.text(), true);
  // The run's verdict stands either way; the user learns that the report is missing.
  if (const auto failure = writeWhole(file_, report, std::chrono::seconds(10))) {
    shown_.trouble("trident-flash: cannot write the report to " + file_.string() + ": " + *failure);
  }
  shown_.finished(records, interrupted, status);
}

}  // namespace trident
