#include "cli/board_list.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "cli/flash_outcome.h"
#include "cli/json_lines.h"
#include "common/diagnostics.h"
#include "engine/one_board_sink.h"

namespace trident {

namespace {

// A node the user may not open is the usual first sight of a real board on Linux: the reason
// says what lets the user in.
constexpr const char* kUdevHint =
    "; install the udev rule 70-trident-updater.rules (README: \"A real board on Linux\") and plug "
    "the board in again";

}  // namespace

int listBootloaders(HidBackend& backend, const FlashOptions& options, std::FILE* out) {
  JsonLines json(out);
  const std::string startError = backend.startError();
  if (!startError.empty()) {
    const std::string line = "trident-flash: cannot start the HID library: " + startError;
    if (options.json) {
      json.write("error", {{"message", line}});
      json.write("summary", {{"status", 2}, {"count", 0}});
    } else {
      std::fprintf(stderr, "%s\n", printSafe(line, false).c_str());
    }
    return static_cast<int>(FlashOutcome::FileError);
  }
  std::vector<HidDeviceInfo> found = backend.enumerate();
  std::erase_if(found, [&](const auto& d) { return !isBootloader(d) || !options.chooses(d); });
  std::ranges::sort(found, {}, &HidDeviceInfo::path);

  std::vector<std::array<std::string, 3>> rows{{"path", "serial", "opens"}};
  for (const HidDeviceInfo& device : found) {
    std::string reason;
    const bool opens = backend.open(device.path, reason) != nullptr;  // and closed at once
    if (!opens && reason.find(std::strerror(EACCES)) != std::string::npos) reason += kUdevHint;
    if (options.json) {
      nlohmann::ordered_json fields{{"board", boardName(device)}, {"path", device.path}};
      if (!device.serial.empty()) fields["serial"] = device.serial;
      fields["opens"] = opens;
      if (!opens) fields["reason"] = reason;
      json.write("bootloader", fields);
    } else {
      rows.push_back({printSafe(device.path, false),
                      device.serial.empty() ? "-" : printSafe(device.serial, false),
                      opens ? "yes" : "no: " + printSafe(reason, false)});
    }
  }
  if (options.json) {
    json.write("summary", {{"status", 0}, {"count", found.size()}});
    return 0;
  }
  if (found.empty()) {
    const bool chosen = !options.serials.empty() || !options.paths.empty();
    std::fputs(chosen ? "None of the bootloaders plugged in is among those chosen.\n"
                      : "No bootloader is plugged in.\n",
               out);
    return 0;
  }
  size_t widths[2] = {0, 0};
  for (const auto& row : rows)
    for (size_t column = 0; column < 2; ++column)
      widths[column] = std::max(widths[column], row[column].size());
  for (const auto& row : rows) {
    std::fprintf(out, "%-*s  %-*s  %s\n", static_cast<int>(widths[0]), row[0].c_str(),
                 static_cast<int>(widths[1]), row[1].c_str(), row[2].c_str());
  }
  return 0;
}

}  // namespace trident
