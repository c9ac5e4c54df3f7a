#include "window_history.h"

#include "records/variants.h"

namespace trident {

void HistoryWindow::showReady(std::string_view versionStr) {
  version_ = std::string(versionStr);
  window_.showReady(versionStr);
}

void HistoryWindow::showDownloading() {
  restart();
  started_ = std::chrono::steady_clock::now();
  window_.showDownloading();
}

// Each view that ends an update writes its line first: the window may be closed from it.
void HistoryWindow::showUpdateResult(bool success) {
  OutcomeView::showUpdateResult(success);
  conclude();
  window_.showUpdateResult(success);
}

void HistoryWindow::showDeviceRemoved() {
  OutcomeView::showDeviceRemoved();
  conclude();
  window_.showDeviceRemoved();
}

void HistoryWindow::showServerError() {
  OutcomeView::showServerError();
  conclude();
  window_.showServerError();
}

void HistoryWindow::adjustToErrorUI() {
  OutcomeView::adjustToErrorUI();
  conclude();
  window_.adjustToErrorUI();
}

void HistoryWindow::conclude() {
  if (!started_) return;
  const EngineState& state = engine_.state();
  const HidDeviceInfo& device = board_.takenBoard();
  BoardRecord record;
  record.name = boardName(device);
  record.path = device.path;
  record.serial = device.serial;
  record.outcome = outcome();
  record.serverError = serverFailed();
  record.version = version_;
  record.firmwareBytes = state.firmwareBytes;
  record.firmwareSha256 = state.firmwareSha256;
  if (!state.firmwareSha256.empty()) record.expectedChecksum = state.ftp_checksum_integer;
  record.reportedChecksum = state.reportedChecksum;
  record.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - *started_).count();
  started_.reset();
  const size_t variant = static_cast<size_t>(variant_);
  history_.add(record, variant < kFirmwareVariants.size()
                           ? std::optional<std::string>(kFirmwareVariants[variant].name)
                           : std::nullopt);
}

}  // namespace trident
