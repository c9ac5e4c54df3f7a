#include "records/upg_txt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recording_diagnostics.h"
#include "records/split.h"

namespace trident {
namespace {

using ::testing::Contains;
using Text = std::optional<std::string>;

constexpr const char* kRoot = "ftp://cat.test";

std::string readFixture(const std::string& name) {
  std::ifstream in(std::string(TRIDENT_RECORDS_FIXTURES) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> downloadLines(const std::vector<std::string>& log) {
  std::vector<std::string> lines;
  for (const std::string& line : log) {
    if (line.starts_with("[DEBUG] download: ")) lines.push_back(line);
  }
  return lines;
}

// Slot by slot in ParseTyep order: slot|name|version|checksum|A path|B path (empty: no B image).
const char* const kAllFamilies[] = {
    "alder_vm|Alder|v1.10|0x1A2B|/alder/alder_a.hex|/alder/alder_b.hex",
    "alder_TE_vm|Alder|v1.11|0x1A2C|/alder/alder_te_a.hex|/alder/alder_te_b.hex",
    "alder_wheel_vm|AlderSteeringWheel|v1.12|0x1A2D|/alder/wheel_a.hex|/alder/wheel_b.hex",
    "birch_old_vm|Birch|v2.01|0x2B01|/birch/birch.hex|",
    "cedar_vm|Cedar|v3.00|0x3C00|/cedar/cedar_a.hex|/cedar/cedar_b.hex",
    "cedar_TE_vm|Cedar|v3.01|0x3C01|/cedar/cedar_te_a.hex|/cedar/cedar_te_b.hex",
    "cedar_wheel_vm|CedarSteering|v3.02|0x3C02|/cedar/steering_a.hex|/cedar/steering_b.hex",
    "hazel_vm|Hazel|v4.00|0x4D00|/hazel/hazel.hex|",
    "hazel_TE_vm|Hazel|v4.01|0x4D01|/hazel/hazel_te.hex|",
    "larch_vm|Larch|v5.00|0x5E00|/larch/larch_a.hex|/larch/larch_b.hex",
    "willow_vm|Willow|v6.00|0x6F00|/willow/willow.hex|",
    "Hawthorn_vm|Hawthorn|v7.00|0x7A00|/hawthorn/hawthorn.hex|",
    "maple_vm|Maple|v8.00|0x8B00|/maple/maple_a.hex|/maple/maple_b.hex",
    "maple_TE_vm|Maple|v8.01|0x8B01|/maple/maple_te_a.hex|/maple/maple_te_b.hex",
    "maple_wheel_vm|MapleSteering|v8.02|0x8B02|/maple/steering_a.hex|/maple/steering_b.hex",
    "redcedar_vm|RedCedar|v9.00|0x9C00|/redcedar/redcedar_a.hex|/redcedar/redcedar_b.hex",
    "redcedar_TE_vm|RedCedar|v9.01|0x9C01|/redcedar/redcedar_te_a.hex|/redcedar/redcedar_te_b.hex",
    "oak_vm|Oak|v10.00|0xAD00|/oak/oak_a.hex|/oak/oak_b.hex",
    "linden_vm|Larch|v5.00|0x5E00|/larch/larch_a.hex|/larch/larch_b.hex",
    "rowan_vm|Rowan|v11.00|0xBE00|/rowan/rowan.hex|",
    "thistle_vm|thistle|v12.00|0xCF00|/thistle/thistle.hex|",
    "juniper_vm|JuniperBoard|v13.00|0xD000|/juniper/juniper.hex|",
    "poplar_vm|Poplar|v14.00|0xE100|/poplar/poplar_a.hex|/poplar/poplar_b.hex",
    "poplar_TE_vm|Poplar|v14.01|0xE101|/poplar/poplar_te_a.hex|/poplar/poplar_te_b.hex",
};

TEST(UpgTxtViewModel, AllFamiliesFixtureFillsEverySlotAlikeWithLfAndCrLf) {
  std::string crlf;
  for (const char c : readFixture("catalogue-all-families.txt")) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  for (const std::string& text : {readFixture("catalogue-all-families.txt"), crlf}) {
    SCOPED_TRACE(text.find('\r') == std::string::npos ? "LF" : "CRLF");
    test::RecordingDiagnostics diagnostics;
    const UpgTxtViewModel catalogue(UpgTxtModel(text), kRoot, diagnostics);
    EXPECT_EQ(diagnostics.systemLogLines.front(), "lines_ary.count = 25");
    std::vector<std::string> expectedLog;
    for (std::size_t type = 0; type < kParseTyepCount; ++type) {
      const auto want = splitBy(kAllFamilies[type], '|');
      const Text b = want[5].empty() ? Text() : Text(kRoot + want[5]);
      const std::vector<std::pair<std::string, Text>> fields = {{"infoNameStr", want[1]},
                                                                {"versionStr", want[2]},
                                                                {"checkSumStr", want[3]},
                                                                {"aHexFileUrlStr", kRoot + want[4]},
                                                                {"bHexFileUrlStr", b}};
      for (const auto& [field, value] : fields) {
        expectedLog.push_back("[DEBUG] download: " + want[0] + "." + field + " = " +
                              std::string(orNull(value)));
      }
      const auto& slot = catalogue.slots()[type];
      ASSERT_TRUE(slot) << want[0];
      EXPECT_EQ(slot->parseType(), static_cast<std::int64_t>(type));
      EXPECT_EQ((std::vector<Text>{slot->infoNameStr(), slot->versionStr(), slot->checkSumStr(),
                                   slot->aHexFileUrlStr(), slot->bHexFileUrlStr()}),
                (std::vector<Text>{want[1], want[2], want[3], kRoot + want[4], b}));
    }
    EXPECT_EQ(downloadLines(diagnostics.systemLogLines), expectedLog);
    EXPECT_EQ(catalogue.linden_vm()->infoNameStr(), "Larch");
    EXPECT_EQ(catalogue.Hawthorn_vm()->infoNameStr(), "Hawthorn");
  }
}

TEST(UpgTxtViewModel, AbsentOrEmptyTextLeavesEverySlotAbsentAndStillLogsThem) {
  for (const auto& [text, count] : {std::pair<Text, std::string>{std::nullopt, "0"}, {"", "1"}}) {
    test::RecordingDiagnostics diagnostics;
    const UpgTxtViewModel catalogue(UpgTxtModel(text), kRoot, diagnostics);
    for (const auto& slot : catalogue.slots())
      EXPECT_FALSE(slot);
    EXPECT_EQ(diagnostics.systemLogLines.front(), "lines_ary.count = " + count);
    const auto lines = downloadLines(diagnostics.systemLogLines);
    ASSERT_EQ(lines.size(), kParseTyepCount * 5);
    EXPECT_EQ(lines.back(), "[DEBUG] download: poplar_TE_vm.bHexFileUrlStr = (null)");
  }
}

TEST(UpgTxtViewModel, NameCheckKeepsRedCedarAndBrokenLinesOutOfCedarAndHazel) {
  test::RecordingDiagnostics diagnostics;
  const UpgTxtViewModel catalogue(UpgTxtModel("Cedar,v3.00,0x3C00,/c_a.hex,/c_b.hex\n"
                                              "RedCedar,v9.00,0x9C00,/r_a.hex,/r_b.hex\n"
                                              "RedCedar,TE,v9.01,0x9C01,/t_a.hex,/t_b.hex\n"
                                              "Hazel,v4.00,0x4D00,/h.hex\n"
                                              "Hazel,v4.01,0x4D01\n"
                                              "Hazel,TE,v4.01,0x4D01\n"),
                                  kRoot, diagnostics);
  EXPECT_EQ(catalogue.cedar_vm()->versionStr(), "v3.00");
  EXPECT_FALSE(catalogue.cedar_TE_vm());
  EXPECT_EQ(catalogue.redcedar_vm()->versionStr(), "v9.00");
  EXPECT_EQ(catalogue.redcedar_TE_vm()->versionStr(), "v9.01");
  EXPECT_EQ(catalogue.hazel_vm()->versionStr(), "v4.00");
  EXPECT_FALSE(catalogue.hazel_TE_vm());
}

TEST(UpgTxtViewModel, LastMatchWinsAndUnreadableLinesStillFillUncheckedSlots) {
  test::RecordingDiagnostics diagnostics;
  const UpgTxtViewModel catalogue(UpgTxtModel("Birch,v2.00,0x2B00,/old.hex\n"
                                              "Birch,v2.01,0x2B01,/new.hex\n"
                                              "Oak,v1,0x1234,/o.hex\n"),
                                  kRoot, diagnostics);
  EXPECT_EQ(catalogue.birch_old_vm()->versionStr(), "v2.01");
  ASSERT_TRUE(catalogue.oak_vm());
  EXPECT_EQ(catalogue.oak_vm()->infoNameStr(), std::nullopt);
  EXPECT_THAT(diagnostics.systemLogLines,
              Contains("[DEBUG] download: oak_vm.infoNameStr = (null)"));
}

TEST(UpgTxtViewModel, KeysAreCaseSensitiveAndFoundAnywhereInALine) {
  test::RecordingDiagnostics diagnostics;
  const UpgTxtViewModel catalogue(UpgTxtModel("x,Thistle,v12,0xCF00,/T.hex\n"
                                              "legacy,Rowan,v11,0xBE00,/r.hex\n"
                                              "Alder,TE-preview"),
                                  kRoot, diagnostics);
  EXPECT_FALSE(catalogue.thistle_vm());
  // Fields are still read by position from the start of the line.
  EXPECT_EQ(catalogue.rowan_vm()->versionStr(), "Rowan");
  ASSERT_TRUE(catalogue.alder_TE_vm());
  EXPECT_FALSE(catalogue.alder_vm());
}

TEST(UpgTxtViewModel, SurvivesHostileText) {
  std::string text = "\r\n\n\r\r\n,,,,\n" + std::string(10000, ',') + "Oak,v" +
                     std::string(10000, ',') + "\n\xFF\xFE,Birch,v\x80,\n";
  for (int i = 0; i < 2000; ++i)
    text += "Willow,v6." + std::to_string(i) + ",0x6F00,/w.hex\r\n";
  test::RecordingDiagnostics diagnostics;
  const UpgTxtViewModel catalogue(UpgTxtModel(text), kRoot, diagnostics);
  EXPECT_EQ(catalogue.oak_vm()->aHexFileUrlStr(), kRoot);
  EXPECT_EQ(catalogue.birch_old_vm()->infoNameStr(), "\xFF\xFE");
  EXPECT_EQ(catalogue.willow_vm()->versionStr(), "v6.1999");
  EXPECT_EQ(catalogue.willow_vm()->aHexFileUrlStr(), "ftp://cat.test/w.hex");
}

}  // namespace
}  // namespace trident
