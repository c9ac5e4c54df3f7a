#pragma once

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

// Adds `bytes` to the end of `file` in one write, so that what several processes add at once is
// never interleaved; missing folders on the way are made, only their user may enter them. Never
// waits on a reader: a FIFO or another non-regular file is refused. Returns why it failed, or
// nothing once every byte is written.
std::optional<std::string> appendWhole(const std::filesystem::path& file, std::string_view bytes);

}  // namespace trident
