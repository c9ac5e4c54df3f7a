#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace trident {

// How one board's update ended; the values are the tool's exit statuses.
enum class FlashOutcome : int {
  Updated = 0,
  ChecksumDiffers = 1,
  FileError = 2,  // server, release description or firmware file
  Removed = 3,
  TimedOut = 4,
  Interrupted = 130,
};

// What the run's end shows of a board, kept after the board itself has gone.
struct BoardRecord {
  std::string name;
  std::optional<FlashOutcome> outcome;  // none while it is unfinished
  std::string version;                  // the release shown, if any
  double seconds = 0;                   // from its taking to its verdict
  uint32_t sent = 0;
  uint32_t total = 0;
};

// The window's last words on an update, as the tool says them.
std::string verdictText(const std::optional<FlashOutcome>& outcome);
// A board's result in the table at the end.
std::string resultText(const std::optional<FlashOutcome>& outcome);
// "m:ss", for times left and taken.
std::string clockText(double seconds);
// A bar of `share`, followed by its figures.
std::string progressBar(double share, const std::string& figures);

// Which progress lines a plain stream (a pipe, a file) gets: one at each tenth of a known share,
// and one a second while the share is unknown (below 0: a download whose size was not told).
class PlainProgress {
 public:
  bool due(double share);
  // A new stage: its progress counts from its start.
  void restart() { step_ = -1; }

 private:
  int step_ = -1;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace trident
