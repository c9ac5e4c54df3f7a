// What trident-flash takes from its command line, where it shares a rule with the window.
#include <gtest/gtest.h>

#include "cli/flash_options.h"
#include "records/release_text.h"

namespace trident {
namespace {

// A checksum text is judged by one rule whether a release line or --checksum gives it: four hex
// digits after the first two characters; more characters are not read. Typed by hand, the first
// two are "0x" as well.
TEST(ChecksumText, OneRuleForTheReleaseLineAndTheChecksumOption) {
  // clang-format off
  const std::pair<std::string, bool> texts[] = {
      {"0x1234", true}, {"0XBd53", true}, {"ab1234", true}, {"éx1234", true}, {"0x1234\r", true},
      {"0x12345", true}, {"0x12", false}, {"0x123", false}, {"ééééé", false}, {"0xzz34", false},
      {"0x123g", false}, {"0xé234", false}, {"0x 123", false}, {"\xff\xff" "1234", false},
      {"121234", true}, {"", false}};
  // clang-format on
  for (const auto& [text, taken] : texts) {
    SCOPED_TRACE(text);
    const ReleaseReading release =
        readReleaseText("N,V," + text + ",/fw/a.hex", "ftp://h/r.txt", "ftp://h");
    EXPECT_EQ(!release.refusal, taken) << release.refusal.value_or("");
    const auto option = parseFlashOptions({"--hex", "a.hex", "--checksum", text});
    const bool typed = text.starts_with("0x") || text.starts_with("0X");
    EXPECT_EQ(option.error, taken && typed
                                ? std::nullopt
                                : std::optional<std::string>(
                                      "--checksum takes the board's checksum as 0x and four "
                                      "hex digits (e.g. 0x1234), not " +
                                      text));
  }
}

}  // namespace
}  // namespace trident
