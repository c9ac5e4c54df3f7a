#include "cli/json_view.h"

#include <cmath>

namespace trident {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// The tool's own prefix belongs to its lines on a terminal, not to a message in a field.
std::string message(const std::string& line) {
  const std::string prefix = "trident-flash: ";
  return line.starts_with(prefix) ? line.substr(prefix.size()) : line;
}

}  // namespace

JsonView::JsonView(std::FILE* out, std::optional<std::string> variant)
    : lines_(out), variant_(std::move(variant)) {}

nlohmann::ordered_json JsonView::about(size_t board) const {
  const auto it = boards_.find(board);
  return it == boards_.end() ? nlohmann::ordered_json::object() : it->second;
}

void JsonView::taken(size_t board, const BoardRecord& record) {
  nlohmann::ordered_json& named = boards_[board];
  named["board"] = record.name;
  if (!record.path.empty()) named["path"] = record.path;
  if (!record.serial.empty()) named["serial"] = record.serial;
  lines_.write("board", named);
}

void JsonView::alert(size_t board, const std::string& line) {
  nlohmann::ordered_json fields = about(board);
  fields["message"] = message(line);
  lines_.write("error", fields);
}

void JsonView::failed(const std::string& line) {
  lines_.write("error", {{"message", message(line)}});
}

void JsonView::released(size_t board, const BoardRecord& record) {
  nlohmann::ordered_json fields = about(board);
  fields["variant"] = variant_ ? nlohmann::ordered_json(*variant_) : nullptr;
  fields["version"] = record.version;
  lines_.write("release", fields);
}

void JsonView::downloaded(size_t board, const BoardRecord& record) {
  nlohmann::ordered_json fields = about(board);
  fields["bytes"] = record.firmwareBytes;
  fields["sha256"] = record.firmwareSha256;
  lines_.write("download", fields);
}

void JsonView::programmed(size_t board, const BoardRecord& record) {
  Pace& pace = paces_[board];
  const auto now = Clock::now();
  if (record.sent < record.total && now - pace.last < kProgressInterval) {
    pace.pending = true;
    return;
  }
  pace.last = now;
  writeProgress(board, record);
}

void JsonView::writeProgress(size_t board, const BoardRecord& record) {
  paces_[board].pending = false;
  nlohmann::ordered_json fields = about(board);
  fields["sent"] = record.sent;
  fields["total"] = record.total;
  lines_.write("progress", fields);
}

void JsonView::concluded(size_t board, const BoardRecord& record) {
  if (paces_[board].pending) writeProgress(board, record);
  nlohmann::ordered_json fields = about(board);
  fields["result"] = resultKey(record);
  fields["status"] = static_cast<int>(record.outcome.value_or(FlashOutcome::Interrupted));
  if (record.expectedChecksum) fields["expected"] = checksumText(*record.expectedChecksum);
  if (record.reportedChecksum) fields["reported"] = checksumText(*record.reportedChecksum);
  fields["seconds"] = jsonSeconds(record.seconds);
  lines_.write("verdict", fields);
}

void JsonView::finished(const std::vector<BoardRecord>& records, bool, int status) {
  nlohmann::ordered_json boards = nlohmann::ordered_json::array();
  for (size_t board = 0; board < records.size(); ++board) {
    const BoardRecord& r = records[board];
    // A board the run left unfinished has its verdict too: interrupted.
    if (!r.outcome) concluded(board, r);
    boards.push_back({{"board", r.name},
                      {"result", resultKey(r)},
                      {"status", static_cast<int>(r.outcome.value_or(FlashOutcome::Interrupted))},
                      {"seconds", jsonSeconds(r.seconds)},
                      {"bytes", r.sent}});
  }
  lines_.write("summary", {{"status", status}, {"boards", boards}});
}

void JsonView::failRun(std::FILE* out, const std::string& line, int status) {
  JsonLines lines(out);
  lines.write("error", {{"message", message(line)}});
  lines.write("summary", {{"status", status}, {"boards", nlohmann::ordered_json::array()}});
}

}  // namespace trident
