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

// Boards are chosen by what --list shows; an empty name would choose none and wait for ever.
TEST(FlashOptions, ChoosesBoardsBySerialOrPathAndRefusesAnEmptyOne) {
  const auto options =
      parseFlashOptions({"--serial", "S1", "--path", "/dev/hidraw3", "--serial", "S2"}).options;
  for (const auto& [path, serial, chosen] :
       std::vector<std::tuple<const char*, const char*, bool>>{{"/dev/hidraw0", "S2", true},
                                                               {"/dev/hidraw3", "", true},
                                                               {"/dev/hidraw0", "", false},
                                                               {"/dev/hidraw3x", "S3", false}})
    EXPECT_EQ(options.chooses({path, 0x0416, 0x3F00, "", 1, serial}), chosen) << path << serial;
  EXPECT_TRUE(parseFlashOptions({}).options.chooses({"/dev/hidraw0", 0x0416, 0x3F00, "", 1, ""}));
  for (const char* option : {"--serial", "--path"})
    EXPECT_EQ(parseFlashOptions({"--all", option, ""}).error,
              std::string(option) + " names no board: it is empty");
  for (const char* last : {"--variant", "--hex", "--checksum", "--wait", "--reply-timeout",
                           "--serial", "--path", "--report"})
    EXPECT_EQ(parseFlashOptions({"--all", last}).error, std::string(last) + " needs a value");
}

}  // namespace
}  // namespace trident
