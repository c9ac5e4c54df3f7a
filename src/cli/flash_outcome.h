#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/ports.h"

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

// What the run's end shows of a board, kept after the board itself has gone: the table's row, the
// JSON events and the history line are made from it.
struct BoardRecord {
  std::string name;
  std::string path;                     // the device's, as the platform names it
  std::string serial;                   // empty when the device has none
  std::optional<FlashOutcome> outcome;  // none while it is unfinished
  bool serverError = false;             // a FileError the server caused, not the firmware file
  std::string version;                  // the release shown, if any
  uint64_t firmwareBytes = 0;
  std::string firmwareSha256;                // of the firmware file, once it came
  std::string firmwareFrom;                  // its URL, or the local file's path
  std::optional<uint64_t> expectedChecksum;  // as the engine compares them (see checksumText)
  std::optional<uint64_t> reportedChecksum;
  double seconds = 0;  // from its taking to its verdict
  uint32_t sent = 0;
  uint32_t total = 0;
};

// How an update ended, read from the engine's final view as the window shows it: trident-flash's
// boards and the window's history read it alike. The first such view counts; a time-out is ended
// by whoever watches the replies, before the engine's own view of it.
class OutcomeView : public WindowPort {
 public:
  const std::optional<FlashOutcome>& outcome() const { return outcome_; }
  bool serverFailed() const { return serverError_; }  // a FileError the server caused
  void end(FlashOutcome outcome) {
    if (!outcome_) outcome_ = outcome;
  }
  void showUpdateResult(bool success) override {
    end(success ? FlashOutcome::Updated : FlashOutcome::ChecksumDiffers);
  }
  void showDeviceRemoved() override { end(FlashOutcome::Removed); }
  void showServerError() override {
    if (!outcome_) serverError_ = true;
    end(FlashOutcome::FileError);
  }
  void adjustToErrorUI() override { end(FlashOutcome::FileError); }

 protected:
  // A new update begins (the window's next click).
  void restart() {
    outcome_.reset();
    serverError_ = false;
  }

 private:
  std::optional<FlashOutcome> outcome_;
  bool serverError_ = false;
};

// The window's last words on an update, as the tool says them.
std::string verdictText(const std::optional<FlashOutcome>& outcome);
// A board's result in the table at the end.
std::string resultText(const std::optional<FlashOutcome>& outcome);
// The same for scripts and the history: "updated", "checksum-differs", "removed", "timed-out",
// "server-error", "file-error" or "interrupted" (an unfinished board counts as interrupted).
std::string resultKey(const BoardRecord& record);
// A checksum as a release line and --checksum write it: "0x" and four hex digits, the board's
// reply bytes in their order ("0xBD53" for the engine's 0x53BD).
std::string checksumText(uint64_t checksum);
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
