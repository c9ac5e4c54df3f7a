#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "cli/firmware_source.h"
#include "cli/flash_outcome.h"
#include "cli/run_view.h"
#include "engine/board_sink.h"
#include "engine/reply_watch.h"
#include "engine/update_engine.h"

namespace trident {

// One taken board's update: its engine, the window's part on the console, its own reply
// time-out and its record. Its frames go out through the link under its own handle, its requests
// through the shared firmware source, what it shows to the run's view under its number.
class BoardRun final : public ReportPort,
                       public UpdateServerPort,
                       public OutcomeView,
                       public FirmwareWaiter {
 public:
  using Clock = std::chrono::steady_clock;
  struct Context {
    BoardLink& link;
    FirmwareSource& source;
    RunView& view;
    const std::filesystem::path& hexFile;
    std::chrono::milliseconds replyTimeout;
  };

  BoardRun(Context context, const HidDeviceRef& device, size_t number);
  BoardRun(const BoardRun&) = delete;
  BoardRun& operator=(const BoardRun&) = delete;

  uint64_t handle() const { return handle_; }
  size_t number() const { return number_; }
  UpdateEngine& engine() { return engine_; }
  // Something for the next tick to do at once: the release shown, or a verdict.
  bool wantsTick() const { return ready_ || (outcome() && !concluded_); }
  bool concluded() const { return concluded_; }
  bool busy() const { return !outcome(); }
  // One look, in a fixed order: the click the tool makes for the user once the release is shown,
  // the reply time-out, the verdict. True when the board has just concluded.
  bool tick(Clock::time_point now);
  // The run ends: a verdict that came since the last look is concluded, else the record says how
  // far it got.
  bool settle(Clock::time_point now);
  const BoardRecord& record() const { return record_; }

  // ReportPort
  void writeReport(const Frame& frame) override;
  // UpdateServerPort
  void fetchVariant(int64_t) override { context_.source.askRelease(number_); }
  void downloadNewVerHexFile() override { context_.source.askFirmware(number_); }
  // FirmwareWaiter
  void fetching() override { showFetching(); }
  void releaseAccepted(std::string_view versionStr) override;
  void serverError(std::string_view message) override;
  void firmwareStored(uint64_t expectedChecksum) override;
  void downloadProgress(uint64_t received, uint64_t expected) override {
    engine_.downloadProgress(received, expected);
  }
  void firmwareFetched(const FetchedFirmware& firmware) override;
  // WindowPort
  void fillVariantPopUp(const std::vector<std::string>&) override {}
  void showFetching() override;
  void showReady(std::string_view versionStr) override;
  void showDownloading() override;
  void showDownloadProgress(uint64_t received, uint64_t expected) override;
  void setUpUpdateHexUI() override;
  void showProgressPicture(int index, uint32_t sent, uint32_t total) override;
  void alertA(std::string_view message) override;
  void terminate() override {}

 private:
  void say(const std::string& line) { context_.view.say(number_, line); }
  void drawProgress();
  void capture(Clock::time_point now);

  Context context_;
  const uint64_t handle_;
  const size_t number_;
  UpdateEngine engine_;
  ReplyWatch watch_;
  BoardRecord record_;
  Clock::time_point taken_ = Clock::now();
  Clock::time_point programmingStarted_{};
  bool ready_ = false;
  bool concluded_ = false;
};

}  // namespace trident
