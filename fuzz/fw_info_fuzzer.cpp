// The firmware-information report decoder on reports of any length and content, and each display
// rule on arbitrary byte arrays: whatever the board sends, the window gets valid UTF-8 text.
#include <cstdint>
#include <span>
#include <string>

#include "engine/fw_info.h"
#include "fuzz_check.h"
#include "targets.h"
#include "records/release_text.h"

namespace trident::fuzz {

void fwInfo(std::span<const uint8_t> input) {
  NullDiagnostics diag;
  const FwInfoDataModel model(input.data(), input.size());
  check(model.report().size() == input.size(), "the report is taken whole");
  check(model.uid_ascii_ary().has_value() == (input.size() >= 64), "the last field needs 64 bytes");
  const FwInfoDataViewModel info(model, diag);
  const auto utf8 = [](const std::string& text) { return decodeUtf8(text).has_value(); };
  check(utf8(info.ld_rom_str()) && utf8(info.ap_rom_str()) && utf8(info.version_str()) &&
            utf8(info.uid_str()),
        "report text is UTF-8");
  check(utf8(info.getLdRomStrBy(input)) && utf8(info.getApRomStrBy(input)) &&
            utf8(info.getVersionStrBy(input)) && utf8(info.getUidStrBy(input)),
        "display text is UTF-8 for any array");
}

}  // namespace trident::fuzz
