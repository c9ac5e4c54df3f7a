#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace trident {

// Files a user's programs keep between runs, such as the update history. The calls differ by
// platform and live in state_file_<platform>.cpp.

// The user's folder for such state: $XDG_STATE_HOME, or ~/.local/state when that is unset or not
// absolute (as the base-directory rules say); %LOCALAPPDATA% on Windows. Empty when none is known.
std::filesystem::path userStateFolder();

// Adds `line` (its "\n" included) to the end of `file` in one write, so that lines several
// processes add at once never interleave; after a line left torn (a full disk), it starts a line
// of its own. Missing folders on the way are made, only their user may enter them. Never waits on
// a reader: a FIFO or another non-regular file is refused. Returns why it failed, or nothing once
// every byte is written.
std::optional<std::string> appendLine(const std::filesystem::path& file, std::string_view line);

// Writes `bytes` as the whole of `file`, made if missing. The file may be anything the user names
// (a pipe, /dev/stdout): nothing is renamed over it, and a FIFO without a reader, or a reader that
// takes nothing for `patience`, ends the write with a reason instead of holding it. Returns why it
// failed, or nothing once every byte is written.
std::optional<std::string> writeWhole(const std::filesystem::path& file, std::string_view bytes,
                                      std::chrono::milliseconds patience);

}  // namespace trident
