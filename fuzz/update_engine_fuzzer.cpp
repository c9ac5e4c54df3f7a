// The update state machine fed a sequence of events: input reports of 0 to 64 bytes (arbitrary
// ones, and the virtual board's replies), removals, the take, the click, the release and the
// stored firmware, in any order. The engine runs in the tests' rig against the virtual board:
// the image goes out in order, the counts of sent and unsent bytes add up to it, and the window's
// verdict comes only for the whole image.
//
// Input: one byte picks how far the update has come before the events start (fresh, board
// taken, "Update" clicked, programming begun); then events, each an opcode byte and its operands.
#include <functional>

#include "engine/engine_rig.h"
#include "fuzz_check.h"

namespace trident::fuzz {

void updateEngine(std::span<const uint8_t> input) {
  // The firmware: 108 bytes, so the transfer has a first frame, a full data frame and a short
  // last one; objcopy writes its file once for the whole run.
  static const std::vector<uint8_t> kImage = testing::randomBytes(108, 7);
  static const testing::TempDir dir;
  static const std::filesystem::path hexFile = testing::objcopyHex(dir, kImage);
  testing::SimRig rig({}, hexFile);
  UpdateEngine& engine = rig.engine;
  const EngineState& st = engine.state();
  size_t at = 0;  // past the input's end every byte reads as 0
  const auto byte = [&]() -> uint8_t { return at < input.size() ? input[at++] : 0; };
  const auto word = [&] {
    const uint8_t low = byte();
    return static_cast<uint16_t>(low | byte() << 8);
  };
  const uint64_t announced = testing::SimRig::expectedChecksumFor(kImage);

  size_t views = 0;  // the views already looked at
  const auto checkAll = [&] {
    const auto& programmed = rig.board.programmed();
    check(programmed.size() <= kImage.size() &&
              std::equal(programmed.begin(), programmed.end(), kImage.begin()),
          "frames carry the image in order");
    for (; views < rig.window.events.size(); ++views) {
      if (!rig.window.events[views].starts_with("showUpdateResult")) continue;
      check(programmed == kImage, "a verdict only after the whole image");
    }
    check(st.acodeTotal <= st.acodeCapacity, "the announced length is stored");
    if (st.iStatus == STATUS_PEND_UPDATE || st.iStatus == STATUS_WAIT_CHECKSUM) {
      check(st.acodeOffset + st.acodeLength == st.acodeTotal, "sent and unsent make the image");
    }
  };

  const uint8_t start = byte() % 4;
  if (start >= 1) rig.takeBoard();
  if (start >= 2) {
    engine.releaseAccepted("V2.1.0");
    engine.OnActionButtonClick();
  }
  if (start >= 3) engine.firmwareStored(announced);

  // Each event: an opcode byte (modulo the count), then its operands.
  const std::function<void()> events[] = {
      [&] {  // any report of 0 to 64 bytes
        const size_t length = std::min<size_t>(byte() % 65, input.size() - at);
        engine.InputReportCallback(input.data() + at, length);
        at += length;
      },
      [&] {  // the board's next reply (or its disconnect), or that reply with the given checksum
        const bool own = byte() & 1;
        const uint16_t given = word();
        if (!own && !rig.pending.empty()) {
          rig.pending.front()[8] = static_cast<uint8_t>(given);
          rig.pending.front()[9] = static_cast<uint8_t>(given >> 8);
        }
        rig.pumpOne();
      },
      [&] { engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID); },
      [&] {  // some other device goes away
        const uint16_t vid = word();
        engine.RemovalRule(vid, word());
      },
      [&] { engine.SyncOnTake(); },
      [&] { engine.OnActionButtonClick(); },
      [&] { engine.releaseAccepted("V2.1.0"); },
      [&] { engine.firmwareStored(announced); },
      [&] { engine.firmwareStored(word()); },
      [&] {
        byte() & 1 ? engine.showErrorAlertWithMessage("Parse txt file error")
                   : engine.showSetupErrorAlertWithMessage("Error: Please check your network");
      },
  };
  while (at < input.size()) {
    events[byte() % std::size(events)]();
    checkAll();
  }
}

}  // namespace trident::fuzz
