#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "cli/flash_outcome.h"
#include "common/diagnostics.h"

namespace trident {

// The record of every update this user made, from the window and from trident-flash alike: one
// JSON line per board's update in history.jsonl, appended whole even while other programs append
// theirs. Keeping it never fails an update: a history that cannot be written is said once in the
// log, and the updates go on.
class UpdateHistory {
 public:
  // Where it is kept: trident-updater/history.jsonl in the user's state folder
  // ($XDG_STATE_HOME, or ~/.local/state); empty when that is not known.
  static std::filesystem::path defaultFile();

  // `file` empty: nothing is kept (--no-history). `program` names the one that made the updates.
  UpdateHistory(std::filesystem::path file, std::string program, Diagnostics& log)
      : file_(std::move(file)), program_(std::move(program)), log_(log) {}

  // A board's update ended (an unfinished one counts as interrupted); `variant` is the firmware
  // variant asked for, none for a local file.
  void add(const BoardRecord& record, const std::optional<std::string>& variant);

 private:
  std::filesystem::path file_;
  std::string program_;
  Diagnostics& log_;
  bool failed_ = false;
};

}  // namespace trident
