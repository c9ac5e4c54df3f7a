#include "engine_rig.h"

#include <numeric>

namespace trident::testing {

void WindowRecorder::fillVariantPopUp(const std::vector<std::string>& titles) {
  std::string joined;
  for (const auto& t : titles)
    joined += (joined.empty() ? "" : "|") + t;
  events.push_back("fillVariantPopUp(" + joined + ")");
}
void WindowRecorder::showReady(std::string_view versionStr) {
  events.push_back("showReady(" + std::string(versionStr) + ")");
}
void WindowRecorder::showUpdateResult(bool success) {
  events.push_back(success ? "showUpdateResult(complete)" : "showUpdateResult(failed)");
}
void WindowRecorder::alertA(std::string_view message) {
  events.push_back("alertA(" + std::string(message) + ")");
}

SimRig::SimRig(BoardFaults faults, std::filesystem::path hexFile)
    : SimRig(window, faults, std::move(hexFile)) {}

SimRig::SimRig(WindowPort& view, BoardFaults faults, std::filesystem::path hexFile)
    : board(faults),
      engine({*this, view, server, diag}, hexFile.empty() ? dir / "tmp.hex" : std::move(hexFile)) {}

void SimRig::writeReport(const Frame& frame) {
  sent.push_back(frame);
  if (!attached) {
    ++dropped;
    return;
  }
  auto response = board.receive(frame.data(), frame.size());
  pending.insert(pending.end(), response.replies.begin(), response.replies.end());
  if (response.disconnect) disconnectPending = true;
}

void SimRig::pump() {
  while (!pending.empty() || disconnectPending) {
    if (!pending.empty()) {
      const Frame reply = pending.front();
      pending.pop_front();
      engine.InputReportCallback(reply.data(), reply.size());
    } else {
      disconnectPending = false;
      attached = false;
      engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
    }
  }
}

void SimRig::takeBoard() {
  engine.SyncOnTake();
  pump();
}

uint64_t SimRig::expectedChecksumFor(const std::vector<uint8_t>& image) {
  const auto sum = static_cast<uint16_t>(std::accumulate(image.begin(), image.end(), 0u));
  // The release line writes the board's sum as 0xHHLL; the engine keeps it byte-swapped, the way
  // the board's reply reads.
  return static_cast<uint64_t>((sum & 0xFF) << 8 | sum >> 8);
}

void SimRig::storeFirmware(const std::filesystem::path& hexFile, uint64_t checksum) {
  if (hexFile != engine.hexFile()) std::filesystem::copy_file(hexFile, engine.hexFile());
  engine.firmwareStored(checksum);
  pump();
}

void SimRig::runUpdate(const std::filesystem::path& hexFile, uint64_t checksum) {
  takeBoard();
  engine.releaseAccepted("V1.0");
  engine.OnActionButtonClick();
  storeFirmware(hexFile, checksum);
}

}  // namespace trident::testing
