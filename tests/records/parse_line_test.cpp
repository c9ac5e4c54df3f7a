#include "records/parse_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "recording_diagnostics.h"

namespace trident {
namespace {

using std::nullopt;
using ::testing::Contains;
using ::testing::Not;
using Text = std::optional<std::string>;

constexpr const char* kRoot = "ftp://cat.test";

struct Fields {
  Text name, version, checkSum, a, b;
  bool operator==(const Fields&) const = default;
};

struct Parsed {
  Fields fields;
  std::vector<std::string> log;
};

Parsed parse(Text line, std::int64_t type) {
  test::RecordingDiagnostics diagnostics;
  const ParseLineViewModel vm(ParseLineModel(std::move(line), type), kRoot, diagnostics);
  return {{vm.infoNameStr(), vm.versionStr(), vm.checkSumStr(), vm.aHexFileUrlStr(),
           vm.bHexFileUrlStr()},
          diagnostics.systemLogLines};
}

TEST(ParseModeBy, EachTypeLogsItsLabelAndReadsItsLayout) {
  // What each layout reads out of one six-field line: the positions tell the layouts apart.
  const std::string line = "f0,f1,0x1234,/f3,/f4,/f5";
  const Fields single{"f0", "f1", "0x1234", "ftp://cat.test/f3", nullopt};
  const Fields singleTE{"f0", "0x1234", "/f3", "ftp://cat.test/f4", nullopt};
  const Fields ab{"f0", "f1", "0x1234", "ftp://cat.test/f3", "ftp://cat.test/f4"};
  const Fields abTE{"f0", "0x1234", "/f3", "ftp://cat.test/f4", "ftp://cat.test/f5"};
  const Fields thistle{"f1", "0x1234", "/f3", "ftp://cat.test/f4", nullopt};
  const std::string g1 =
      "ParseTyep_Alder || ParseTyep_Maple_Wheel || ParseTyep_RedCedar || ParseTyep_Oak || "
      "ParseTyep_Linden";
  const std::string g2 = "ParseTyep_Alder_TE || ParseTyep_RedCedar_TE";
  const std::string g3 = "ParseTyep_Birch_Old || ParseTyep_Rowan || ParseTyep_juniper";
  // clang-format off
  const std::pair<std::string, Fields> byType[kParseTyepCount] = {
      {g1, ab}, {g2, abTE}, {"ParseTyep_Alder_Wheel", ab}, {g3, single}, {"ParseTyep_Cedar", ab},
      {"ParseTyep_Cedar_TE", abTE}, {"ParseTyep_Cedar_Wheel", ab}, {"ParseTyep_Hazel", single},
      {"ParseTyep_Hazel_TE", singleTE}, {"ParseTyep_Larch", ab}, {"ParseTyep_Willow", single},
      {"ParseTyep_Hawthorn", single}, {"ParseTyep_Maple", ab}, {"ParseTyep_Maple_TE", abTE},
      {g1, ab}, {g1, ab}, {g2, abTE}, {g1, ab}, {g1, ab}, {g3, single},
      {"ParseTyep_Thistle", thistle}, {g3, single}, {g1, ab}, {g2, abTE}};
  // clang-format on
  std::vector<std::tuple<std::int64_t, std::string, Fields>> cases;
  for (std::size_t type = 0; type < kParseTyepCount; ++type) {
    cases.emplace_back(type, byType[type].first, byType[type].second);
  }
  // Compared unsigned: negatives are out of range too, and nothing is parsed.
  for (const std::int64_t type :
       {std::int64_t{24}, std::int64_t{-1}, std::numeric_limits<std::int64_t>::min(),
        std::numeric_limits<std::int64_t>::max()}) {
    cases.emplace_back(type, "To be add mode!!!!", Fields{});
  }
  for (const auto& [type, label, fields] : cases) {
    SCOPED_TRACE(type);
    const Parsed parsed = parse(line, type);
    EXPECT_EQ(parsed.fields, fields);
    ASSERT_GE(parsed.log.size(), 2u);
    EXPECT_EQ(parsed.log[0], "initWith ParseLineModel");
    EXPECT_EQ(parsed.log[1], label);
  }
}

TEST(LayoutRoutines, EachNeedsItsMinimumFieldCount) {
  struct Case {
    ParseTyep type;
    std::string fullLine;  // exactly the minimum field count
    std::string start, tooFew, absent;
  };
  const Case cases[] = {
      {ParseTyep_Birch_Old, "B,v1,0x1234,/b",
       "DEBUG: [Download] parseLine = ", "DEBUG: [Download] ftpInfoTextAry.count < 4",
       "DEBUG: parseLineAB [Download] Parse parseLineSingle error"},
      {ParseTyep_Hazel_TE, "H,TE,v1,0x1234,/h",
       "DEBUG: [Download] parseLineSingle_TE = ", "DEBUG: [Download] ftpInfoTextAry.count < 5",
       "DEBUG: parseLineAB [Download] Parse parseLineSingle_TE error"},
      {ParseTyep_Oak, "O,v1,0x1234,/a,/b",
       "DEBUG: [Download] parseLine = ", "DEBUG: [Download] ftpInfoTextAry.count < 5",
       "DEBUG: parseLineAB [Download] Parse line error"},
      {ParseTyep_Alder_TE, "A,TE,v1,0x1234,/a,/b",
       "DEBUG: [Download] parseLine = ", "DEBUG: [Download] ftpInfoTextAry.count < 6",
       "DEBUG: parseLineAB_TE [Download] Parse line error"},
      {ParseTyep_Thistle, "x,t,v1,0x1234,/t",
       "DEBUG: [Download] parseLine = ", "DEBUG: [Download] parseThistle.count < 5",
       "DEBUG: parseThistle [Download] Parse parseLineSingle error"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fullLine);
    const Parsed full = parse(c.fullLine, c.type);
    EXPECT_TRUE(full.fields.a);
    EXPECT_THAT(full.log, Contains(c.start + c.fullLine));
    EXPECT_THAT(full.log, Not(Contains("DEBUG: checkSumStr error")));
    // One field short, an empty line (one empty field) and a line without commas all fail alike.
    for (const std::string& shortLine :
         {c.fullLine.substr(0, c.fullLine.rfind(',')), std::string(), std::string(9000, 'x')}) {
      const Parsed failed = parse(shortLine, c.type);
      EXPECT_EQ(failed.fields, Fields{});
      EXPECT_EQ(failed.log.back(), c.tooFew);
    }
    const Parsed absent = parse(nullopt, c.type);
    EXPECT_EQ(absent.fields, Fields{});
    EXPECT_EQ(absent.log.back(), c.absent);
  }
}

TEST(LayoutRoutines, ShortChecksumIsLoggedButTheFieldsStay) {
  const Parsed parsed = parse("Birch,v1,0x12,/b.hex", ParseTyep_Birch_Old);
  EXPECT_EQ(parsed.fields, (Fields{"Birch", "v1", "0x12", "ftp://cat.test/b.hex", nullopt}));
  EXPECT_EQ(parsed.log.back(), "DEBUG: checkSumStr error");
}

TEST(LayoutRoutines, TakeFieldsAsWrittenButDropCarriageReturnsFromImagePaths) {
  EXPECT_EQ(parse("Oak\r, v1 ,0x1234\r,/fw\r/oak a.hex,/oak_b.hex\r,extra", ParseTyep_Oak).fields,
            (Fields{"Oak\r", " v1 ", "0x1234\r", "ftp://cat.test/fw/oak a.hex",
                    "ftp://cat.test/oak_b.hex"}));
  EXPECT_EQ(parse("\xFF\xFE,v\x80,0x1234,,/b\xC3", ParseTyep_Oak).fields,
            (Fields{"\xFF\xFE", "v\x80", "0x1234", kRoot, "ftp://cat.test/b\xC3"}));
  EXPECT_EQ(parse(std::string(5000, ','), ParseTyep_Alder_TE).fields,
            (Fields{"", "", "", kRoot, kRoot}));
}

}  // namespace
}  // namespace trident
