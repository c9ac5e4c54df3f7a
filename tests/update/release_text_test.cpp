// The text rules of a release description: decoding, comment lines, and the checksum field.
#include <gtest/gtest.h>

#include "records/release_text.h"

namespace trident {
namespace {

TEST(ChecksumField, GivesTheBoardsReplyBytesSwapped) {
  struct Row {
    const char* field;
    uint64_t expected;
  };
  const Row rows[] = {
      {"0x1234", 13330},     // 0x3412: byte 8 = 0x34, byte 9 = 0x12
      {"0X12AB", 0xAB12},    // case does not matter
      {"ab1234", 0x3412},    // the first two characters are skipped whatever they are
      {"0xzz34", 0x3400},    // a pair that is not hex counts as 0
      {"0x1234\r", 0x3412},  // characters after the sixth are ignored
      {"0x1 34", 0x3401},    // "1 " scans the 1
      {"0x 134", 0x3401},    // " 1" skips the space
      {"0x0x34", 0x3400},    // "0x" with no digit after it reads as the 0
      {"0xé234", 0x3400},    // é is one character, so the pairs are "é2" and "34"
      {"0x12", 0x0012},      // too short for a high byte
      {"", 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ftpChecksumInteger(row.field), row.expected) << '"' << row.field << '"';
  }
}

TEST(HexStringToInteger, FollowsTheScanner) {
  EXPECT_EQ(hexStringToInteger("1f"), 31);
  EXPECT_EQ(hexStringToInteger(" \t\n0X1F"), 31);
  EXPECT_EQ(hexStringToInteger("\u00A0"
                               "1f"),
            31);  // non-breaking space is white space too
  EXPECT_EQ(hexStringToInteger("0xg"), 0);
  EXPECT_EQ(hexStringToInteger("x1"), 0);
  EXPECT_EQ(hexStringToInteger("-1"), 0);
  EXPECT_EQ(hexStringToInteger("FFFFFFFF"), 0xFFFFFFFF);
  EXPECT_EQ(hexStringToInteger("123456789abc"), 0xFFFFFFFF);  // too large: all ones, not wrapped
  EXPECT_EQ(hexStringToInteger("12zz"), 0x12);
}

TEST(ReleaseText, DecodesOnlyValidUtf8) {
  EXPECT_EQ(decodeUtf8("a,é,€,😀"), "a,é,€,😀");
  EXPECT_EQ(decodeUtf8(""), "");
  for (const char* bad :
       {"\xff", "a\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82", "\x80"}) {
    EXPECT_FALSE(decodeUtf8(bad)) << bad;
  }
}

TEST(ReleaseText, DropsEveryLineWithDoubleSlashAndJoinsTheRest) {
  EXPECT_FALSE(hasCommentLines("a,b,c,/d/e.hex"));
  EXPECT_TRUE(hasCommentLines("a,b,c,ftp://x/e.hex"));
  EXPECT_EQ(dropCommentLines("// note\nN,V,0x1234,/a.hex\n"), "N,V,0x1234,/a.hex");
  // Carriage returns stay, line feeds go, and plain lines run together.
  EXPECT_EQ(dropCommentLines("N,V,0x1234,/a.hex\r\n//c\r\nX,Y\n"), "N,V,0x1234,/a.hex\rX,Y");
  EXPECT_EQ(dropCommentLines("keep // not at start\n//\n"), "");
}

TEST(ReleaseText, DescribesRawBytesInGroupsOfFour) {
  EXPECT_EQ(bodyDescription(""), "<>");
  EXPECT_EQ(bodyDescription("N,V,0x\xff"), "<4e2c562c 3078ff>");
}

}  // namespace
}  // namespace trident
