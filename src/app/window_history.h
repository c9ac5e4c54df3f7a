#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/flash_outcome.h"
#include "cli/update_history.h"
#include "engine/one_board_sink.h"
#include "engine/update_engine.h"

namespace trident {

// The window as the engine sees it, with the update history kept on the way: every view goes on
// to the window unchanged, and each update, from the click on "Update" to the view that ends it,
// leaves one line in the history, as trident-flash's do. One that the window's closing cuts short
// counts as interrupted: its owner calls closing() while the engine is still there.
class HistoryWindow final : public OutcomeView {
 public:
  // `engine` and `board` are only read once an update ends, so they may be built after this.
  HistoryWindow(WindowPort& window, UpdateHistory& history, const UpdateEngine& engine,
                const OneBoardSink& board)
      : window_(window), history_(history), engine_(engine), board_(board) {}
  HistoryWindow(const HistoryWindow&) = delete;
  HistoryWindow& operator=(const HistoryWindow&) = delete;

  // The variant chosen in the pop-up (0 is the first).
  void variantChosen(int64_t index) { variant_ = index; }
  // The board stopped answering: the error view that follows is a time-out.
  void timedOut() { end(FlashOutcome::TimedOut); }
  // The application ends: an update still going is written as interrupted.
  void closing() { conclude(); }

  void fillVariantPopUp(const std::vector<std::string>& titles) override {
    window_.fillVariantPopUp(titles);
  }
  void showFetching() override { window_.showFetching(); }
  void showReady(std::string_view versionStr) override;
  void showDownloading() override;
  void showDownloadProgress(uint64_t received, uint64_t expected) override {
    window_.showDownloadProgress(received, expected);
  }
  void setUpUpdateHexUI() override { window_.setUpUpdateHexUI(); }
  void showProgressPicture(int index, uint32_t sent, uint32_t total) override {
    window_.showProgressPicture(index, sent, total);
  }
  void showUpdateResult(bool success) override;
  void showDeviceRemoved() override;
  void showServerError() override;
  void adjustToErrorUI() override;
  void alertA(std::string_view message) override { window_.alertA(message); }
  void terminate() override { window_.terminate(); }

 private:
  // The update that began with the last click has ended (or is cut short): its line is written.
  void conclude();

  WindowPort& window_;
  UpdateHistory& history_;
  const UpdateEngine& engine_;
  const OneBoardSink& board_;
  int64_t variant_ = 0;
  std::string version_;
  std::optional<std::chrono::steady_clock::time_point> started_;  // none between updates
};

}  // namespace trident
