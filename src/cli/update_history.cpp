#include "cli/update_history.h"

#include <chrono>

#include "cli/json_lines.h"
#include "common/diagnostics.h"
#include "common/state_file.h"

namespace trident {

std::filesystem::path UpdateHistory::defaultFile() {
  const std::filesystem::path state = userStateFolder();
  return state.empty() ? state : state / "trident-updater" / "history.jsonl";
}

void UpdateHistory::add(const BoardRecord& record, const std::optional<std::string>& variant) {
  if (!file_ || failed_) return;
  if (file_->empty()) {
    failed_ = true;
    say_(program_ +
         ": the update history has no place: neither XDG_STATE_HOME nor HOME names an "
         "absolute folder; the updates go on without it");
    return;
  }
  const auto text = [](const std::string& value) {
    return value.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(value);
  };
  const auto checksum = [](const std::optional<uint64_t>& value) {
    return value ? nlohmann::ordered_json(checksumText(*value)) : nlohmann::ordered_json();
  };
  // Every field is there in every line, null where it is not known, so that a reader of old and
  // new lines alike needs no guesses.
  const nlohmann::ordered_json line{
      {"time", utcTimeText(std::chrono::system_clock::now())},
      {"program", program_},
      {"board", record.name},
      {"path", text(record.path)},
      {"serial", text(record.serial)},
      {"variant", variant ? nlohmann::ordered_json(*variant) : nlohmann::ordered_json()},
      {"version", text(record.version)},
      {"sha256", text(record.firmwareSha256)},
      {"expected", checksum(record.expectedChecksum)},
      {"reported", checksum(record.reportedChecksum)},
      {"result", resultKey(record)},
      {"seconds", jsonSeconds(record.seconds)},
  };
  if (const auto failure = appendLine(*file_, jsonLine(line))) {
    failed_ = true;
    say_(program_ + ": the update history cannot be kept in " + file_->string() + ": " + *failure +
         "; the updates go on without it");
  }
}

}  // namespace trident
