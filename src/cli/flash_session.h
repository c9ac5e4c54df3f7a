#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "cli/flash_options.h"
#include "common/event_loop.h"
#include "engine/update_engine.h"
#include "hid/hid_link.h"
#include "update/update_server_client.h"

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

// What a run takes from its options, one board or several: the HID layer, where the firmware file
// is, and the version a local file is shown under (its name).
std::unique_ptr<HidBackend> hidBackendFor(const FlashOptions& options);
std::filesystem::path firmwarePathFor(const FlashOptions& options,
                                      const std::filesystem::path& workDir);
std::string localFileVersion(const FlashOptions& options);

// "m:ss", for times left and taken.
std::string clockText(double seconds);
// A bar of `share`, followed by its figures.
std::string progressBar(double share, const std::string& figures);

// Where a board's status lines and progress go: straight to standard error, or (several boards)
// to that board's row.
class ConsoleOutput {
 public:
  virtual ~ConsoleOutput() = default;
  virtual void say(const std::string& line) = 0;
  // `share` of the image has been sent; `figures` says so ("45%  14336/32768 bytes  0:02 left").
  virtual void progress(double share, const std::string& figures) = 0;
  // A line that must not be lost among the others (an error).
  virtual void alert(const std::string& line) { say(line); }
};

// One board on a stream: lines, and a bar kept in place on a terminal or a line at every tenth
// of the image otherwise.
class StreamOutput final : public ConsoleOutput {
 public:
  StreamOutput(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
  void say(const std::string& line) override;
  void progress(double share, const std::string& figures) override;

 private:
  std::FILE* out_;
  bool terminal_;
  int lastPlainStep_ = -1;
  bool barDrawn_ = false;
};

// The window's part on a console: status lines and progress, the outcome kept for the exit
// status.
class ConsoleWindow final : public WindowPort {
 public:
  explicit ConsoleWindow(ConsoleOutput& out) : out_(out) {}
  void watch(const UpdateEngine& engine) { engine_ = &engine; }

  void fillVariantPopUp(const std::vector<std::string>&) override {}
  void showFetching() override;
  void showReady(std::string_view versionStr) override;
  void showDownloading() override;
  void setUpUpdateHexUI() override;
  void showProgressPicture(int index) override;
  void showUpdateResult(bool success) override;
  void showDeviceRemoved() override;
  void showServerError() override { end(FlashOutcome::FileError); }
  void adjustToErrorUI() override { end(FlashOutcome::FileError); }
  void alertA(std::string_view message) override;
  void terminate() override {}

  void say(const std::string& line) { out_.say(line); }
  // The release is shown: the tool clicks "Update" on the user's behalf.
  bool takeReady() { return std::exchange(ready_, false); }
  bool ready() const { return ready_; }
  const std::optional<FlashOutcome>& outcome() const { return outcome_; }
  void end(FlashOutcome outcome);
  const std::string& version() const { return version_; }
  std::string verdict() const;

 private:
  void drawProgress();

  ConsoleOutput& out_;
  const UpdateEngine* engine_ = nullptr;
  bool ready_ = false;
  std::string version_;
  std::optional<FlashOutcome> outcome_;
  std::string alert_;
  std::chrono::steady_clock::time_point programmingStarted_;
};

// One board's update, from waiting for its bootloader to its verdict.
class FlashSession final : public UpdateServerPort {
 public:
  FlashSession(const FlashOptions& options, EventLoop& loop, Diagnostics& diag,
               const std::filesystem::path& workDir, ConsoleWindow& window);

  FlashOutcome run(const std::atomic<bool>& interrupted);
  // A board was taken (it may have failed since).
  bool boardTaken() const { return link_.deviceAttached(); }
  // After the outcome: waits until the board has gone, so that the next session does not take it
  // again; with --wait, no longer than that.
  enum class Removal { Gone, Interrupted, TimedOut };
  Removal waitForRemoval(const std::atomic<bool>& interrupted);

  // UpdateServerPort, in front of the client: the chosen variant, or the local file.
  void fetchVariant(int64_t selectedIndex) override;
  void downloadNewVerHexFile() override;

 private:
  const FlashOptions& options_;
  EventLoop& loop_;
  ConsoleWindow& window_;
  HidLink link_;
  UpdateServerClient client_;
  UpdateEngine engine_;
};

}  // namespace trident
