// The Intel HEX loader on arbitrary firmware-file text: the downloaded tmp.hex is whatever the
// server sent, so no line of it may take the loader past its line or past the image.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/hex_loader.h"
#include "fuzz_check.h"
#include "targets.h"

namespace trident::fuzz {
namespace {

// Counts what the loader reports, so that the trace can be held against the line count.
class CountingDiagnostics final : public Diagnostics {
 public:
  void systemLog(std::string_view) override {}
  void standardOutput(std::string_view) override { ++traced; }
  int32_t traced = 0;
};

}  // namespace

void hexLoader(std::span<const uint8_t> input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  HexImage image;
  int32_t lineNO = 0;
  CountingDiagnostics diag;
  decodeHexText(text, image, lineNO, diag);
  check(image.length <= image.capacity, "image length within its capacity");
  check(image.capacity <= text.size() / 2, "image sized from the text");
  check(!image.tooLarge, "an image this small is never too large");
  check(lineNO >= -1 && static_cast<size_t>(lineNO + 1) <= text.size(), "lines are not empty");
  check(text.empty() || lineNO >= 0, "text gives at least one line");
  check(diag.traced <= lineNO + 1, "at most one trace line per line");

  // The record-length field reads as the C library reads it.
  if (text.size() >= 2) {
    const std::string field{text[0], text[1]};
    const auto expected = static_cast<uint32_t>(std::strtoul(field.c_str(), nullptr, 16));
    check(hexField2(text[0], text[1]) == expected, "hexField2 agrees with strtoul");
  }
}

}  // namespace trident::fuzz
