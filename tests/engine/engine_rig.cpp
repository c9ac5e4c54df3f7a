#include "engine_rig.h"

#include <numeric>

namespace trident::testing {

void WindowRecorder::fillVariantPopUp(const std::vector<std::string>& titles) {
  std::string joined;
  for (const auto& t : titles)
    joined += (joined.empty() ? "" : "|") + t;
  add("fillVariantPopUp", joined);
}

SimRig::SimRig(WindowPort* view, BoardFaults faults, std::filesystem::path hexFile)
    : board(faults),
      engine({*this, view ? *view : window, server, diag},
             hexFile.empty() ? dir / "tmp.hex" : std::move(hexFile)) {}

void SimRig::writeReport(const Frame& frame) {
  sent.push_back(frame);
  if (!attached) return;
  auto response = board.receive(frame.data(), frame.size());
  pending.insert(pending.end(), response.replies.begin(), response.replies.end());
  disconnectPending = disconnectPending || response.disconnect;
}

bool SimRig::pumpOne() {
  if (pending.empty()) {
    if (!disconnectPending) return false;
    disconnectPending = attached = false;
    engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
    return true;
  }
  const Frame reply = pending.front();
  pending.pop_front();
  engine.InputReportCallback(reply.data(), reply.size());
  return true;
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

}  // namespace trident::testing
