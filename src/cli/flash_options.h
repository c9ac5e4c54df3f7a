#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/dev_options.h"
#include "engine/board_sink.h"
#include "engine/reply_watch.h"
#include "update/release_signature.h"

namespace trident {

struct FlashOptions {
  int64_t variant = 0;                  // index in the pop-up's order: tournament 0, standard 1
  std::optional<std::string> hexFile;   // --hex: program a local file instead
  std::optional<std::string> checksum;  // --checksum: its checksum text, as a release line has it
  DevOptions dev;
  std::optional<ReleaseKey> releaseKey = builtInReleaseKey();  // --release-key's, or built in
  std::optional<std::chrono::milliseconds> wait;               // bound on the wait for a bootloader
  std::chrono::milliseconds replyTimeout = kReplyTimeout;
  bool loop = false;
  bool all = false;  // every bootloader at once
  bool quiet = false;
  bool json = false;  // JSON Lines on standard output, nothing else there
  bool help = false;
  bool version = false;
  bool list = false;                  // name the bootloaders plugged in, update none
  bool history = true;                // --no-history: no line in the update history
  std::optional<std::string> report;  // --report FILE
  // --serial and --path, each as often as wanted: only the bootloaders they name are taken.
  std::vector<std::string> serials;
  std::vector<std::string> paths;

  // The firmware variant's name (tournament, standard); none for a local file.
  std::optional<std::string> variantName() const;
  // Whether the run may take `device`: every bootloader, unless --serial or --path name some.
  bool chooses(const HidDeviceInfo& device) const;
};

// The command line, or a one-line reason it cannot be used.
struct ParsedFlashOptions {
  FlashOptions options;
  std::optional<std::string> error;
};

ParsedFlashOptions parseFlashOptions(const std::vector<std::string>& args);

extern const char* const kFlashUsage;

}  // namespace trident
