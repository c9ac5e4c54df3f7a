#include "engine/fw_info.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "recording_diagnostics.h"

namespace trident {
namespace {

using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

// A report as the board sends it: header bytes we never read, the two ROM names, an unread gap,
// the version (least significant byte first) and the unique ID.
Bytes makeReport(const std::array<std::uint8_t, 4>& version = {0, 0, 1, 2}) {
  const std::string ids = std::string(24, '\xA5') + "QKLDR120" + "qkAPP301" + "\xA5\xA5\xA5\xA5";
  Bytes report(ids.begin(), ids.end());
  report.insert(report.end(), version.begin(), version.end());
  for (const char c : std::string("TRD0001234ABCDEF"))
    report.push_back(static_cast<std::uint8_t>(c));
  return report;
}

TEST(FwInfoDataViewModel, DecodesAWholeReport) {
  const Bytes report = makeReport();
  test::RecordingDiagnostics diagnostics;
  const FwInfoDataViewModel info(FwInfoDataModel(report.data(), report.size()), diagnostics);
  EXPECT_EQ(info.ld_rom_str(), "QKLDR120");
  EXPECT_EQ(info.ap_rom_str(), "qkAPP301");
  EXPECT_EQ(info.version_str(), "V2.1");
  EXPECT_EQ(info.uid_str(), "TRD0001234ABCDEF");
  EXPECT_THAT(diagnostics.systemLogLines,
              ElementsAre("LdRomStr = QKLDR120, qkStr = QK", "ApRomStr = qkAPP301, qkStr = QK"));
}

TEST(VersionRule, EveryRowReadFromARealReportWithBytesUnsigned) {
  // clang-format off
  const std::pair<std::array<std::uint8_t, 4>, std::string> cases[] = {
      {{0, 0, 0, 2}, "V2.0"}, {{0, 0, 1, 2}, "V2.1"}, {{0, 3, 1, 2}, "V2.1.3"},
      {{4, 3, 1, 2}, "V2.1.3.4"}, {{0, 0, 0, 0}, "V0.0"}, {{0, 5, 0, 1}, "V1.0.5"},
      {{255, 255, 255, 255}, "Unknown!"}, {{0, 0, 0, 255}, "V255.0"},
      {{255, 255, 255, 254}, "V254.255.255.255"}, {{0x80, 0, 0x90, 1}, "V1.144.0.128"}};
  // clang-format on
  for (const auto& [bytes, version] : cases) {
    const Bytes report = makeReport(bytes);
    test::RecordingDiagnostics diagnostics;
    const FwInfoDataViewModel info(FwInfoDataModel(report.data(), report.size()), diagnostics);
    EXPECT_EQ(info.version_str(), version);
    EXPECT_EQ(info.getVersionStrBy(Bytes(bytes.begin(), bytes.begin() + 3)), "Get version Error!");
  }
}

TEST(RomRule, AcceptsNamesStartingWithQkInEitherCaseAndCountsCharacters) {
  struct Case {
    std::string bytes, text, log;
  };
  const Case cases[] = {
      {"qkldr120", "qkldr120", "LdRomStr = qkldr120, qkStr = QK"},
      {"qKx", "qKx", "LdRomStr = qKx, qkStr = QK"},
      {"ABLDR120", "Unknown!", "LdRomStr = ABLDR120, qkStr = AB"},
      // Zero bytes give no character: they neither count nor take the first places.
      {std::string("\0QK\0x", 5), "QKx", "LdRomStr = QKx, qkStr = QK"},
      {std::string("QK\0\0\0\0\0\0", 8), "Unknown!!", ""},
      // Bytes above 0x7F are one Latin-1 character each, written as two bytes of UTF-8.
      {"\xE9\xE9x", "Unknown!", "LdRomStr = \xC3\xA9\xC3\xA9x, qkStr = \xC3\x89\xC3\x89"},
      {"\xE9X", "Unknown!!", ""},
      {"QK", "Unknown!!", ""},
      {"Q", "Unknown!", ""},
      {"", "Unknown!", ""}};
  for (const Case& c : cases) {
    const Bytes report = makeReport();
    test::RecordingDiagnostics diagnostics;
    const FwInfoDataViewModel info(FwInfoDataModel(report.data(), report.size()), diagnostics);
    diagnostics.systemLogLines.clear();
    EXPECT_EQ(info.getLdRomStrBy(Bytes(c.bytes.begin(), c.bytes.end())), c.text) << c.text;
    EXPECT_EQ(diagnostics.systemLogLines,
              c.log.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.log});
  }
}

TEST(UidRule, IsTheCharactersWithoutAnyTest) {
  Bytes report = makeReport();
  std::copy_n("ID\0\xFF\x7F", 5, report.begin() + 48);
  test::RecordingDiagnostics diagnostics;
  const FwInfoDataViewModel info(FwInfoDataModel(report.data(), report.size()), diagnostics);
  EXPECT_EQ(info.uid_str(), std::string("ID\xC3\xBF\x7F") + "01234ABCDEF");
  EXPECT_EQ(info.getUidStrBy({}), "");
}

TEST(FwInfoDataModel, FieldsBeyondTheBufferAreAbsentAndTheRestIsCopiedOut) {
  struct Case {
    std::size_t size;
    std::string ld, ap, version, uid;
  };
  const Case cases[] = {{0, "Unknown!", "Unknown!", "Get version Error!", ""},
                        {31, "Unknown!", "Unknown!", "Get version Error!", ""},
                        {32, "QKLDR120", "Unknown!", "Get version Error!", ""},
                        {47, "QKLDR120", "qkAPP301", "Get version Error!", ""},
                        {63, "QKLDR120", "qkAPP301", "V2.1", ""},
                        {64, "QKLDR120", "qkAPP301", "V2.1", "TRD0001234ABCDEF"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    // Exactly c.size bytes, so reading past them is reading past the allocation.
    Bytes buffer = makeReport();
    buffer.resize(c.size);
    buffer.shrink_to_fit();
    const FwInfoDataModel model(buffer.data(), buffer.size());
    std::fill(buffer.begin(), buffer.end(), 0);
    test::RecordingDiagnostics diagnostics;
    const FwInfoDataViewModel info(model, diagnostics);
    EXPECT_EQ(info.ld_rom_str(), c.ld);
    EXPECT_EQ(info.ap_rom_str(), c.ap);
    EXPECT_EQ(info.version_str(), c.version);
    EXPECT_EQ(info.uid_str(), c.uid);
  }
  const FwInfoDataModel nothing(nullptr, 64);
  EXPECT_TRUE(nothing.report().empty());
  EXPECT_FALSE(nothing.uid_ascii_ary());
}

}  // namespace
}  // namespace trident
