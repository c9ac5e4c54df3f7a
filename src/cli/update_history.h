#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "cli/flash_outcome.h"

namespace trident {

// The record of every update this user made, from the window and from trident-flash alike: one
// JSON line per board's update in history.jsonl, appended whole even while other programs append
// theirs. Keeping it never fails an update: a history that cannot be written, or that has no
// place, is said once, and the updates go on.
class UpdateHistory {
 public:
  // Where it is kept: trident-updater/history.jsonl in the user's state folder
  // ($XDG_STATE_HOME, or ~/.local/state); empty when that is not known.
  static std::filesystem::path defaultFile();

  // `file` none: nothing is kept (--no-history); empty: no place is known, which the first update
  // says. `program` names the one that made the updates; `say` shows the user a line.
  UpdateHistory(std::optional<std::filesystem::path> file, std::string program,
                std::function<void(const std::string&)> say)
      : file_(std::move(file)), program_(std::move(program)), say_(std::move(say)) {}

  // A board's update ended (an unfinished one counts as interrupted); `variant` is the firmware
  // variant asked for, none for a local file.
  void add(const BoardRecord& record, const std::optional<std::string>& variant);

 private:
  std::optional<std::filesystem::path> file_;
  std::string program_;
  std::function<void(const std::string&)> say_;
  bool failed_ = false;
};

}  // namespace trident
