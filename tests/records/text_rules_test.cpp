#include "records/url_escape.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "records/checksum_text.h"
#include "records/split.h"

namespace trident {
namespace {

TEST(LegacyPercentEscape, EscapesEveryByteOutsideTheKeptSet) {
  const std::pair<std::string, std::string> cases[] = {
      {"/fw/new board.hex\r\n", "/fw/new%20board.hex%0D%0A"},
      {"/fw/caf\xC3\xA9.hex", "/fw/caf%C3%A9.hex"},
      {"/fw/100%#1.hex", "/fw/100%25%231.hex"},
      {"\"<>[\\]^`{|}", "%22%3C%3E%5B%5C%5D%5E%60%7B%7C%7D"},
      {std::string("\x01\t\x7F\0", 4), "%01%09%7F%00"},
      {"\xFF\xFE\xC3", "%FF%FE%C3"},  // not UTF-8: byte by byte
      {"AZaz09!$&'()*+,-./:;=?@_~", "AZaz09!$&'()*+,-./:;=?@_~"},
  };
  for (const auto& [text, escaped] : cases)
    EXPECT_EQ(legacyPercentEscape(text), escaped);
}

TEST(IsAbsoluteUrl, NeedsASchemeAndOnlyUrlCharacters) {
  for (const char* url :
       {"ftp://127.0.0.1:2121/a%20b.hex", "ftp://[::1]:2121/f.hex", "https://h/f#x"})
    EXPECT_TRUE(isAbsoluteUrl(url)) << url;
  for (const char* url : {"", "/fw/board.hex", ":/f.hex", "1ftp://h/f.hex", "ftp://my host/f.hex"})
    EXPECT_FALSE(isAbsoluteUrl(url)) << url;
}

TEST(SplitBy, KeepsEmptyFieldsAndNeverTrims) {
  using V = std::vector<std::string>;
  EXPECT_EQ(splitByComma(""), V{""});
  EXPECT_EQ(splitByComma("a,,b,"), (V{"a", "", "b", ""}));
  EXPECT_EQ(splitByComma(" a , b\r\n"), (V{" a ", " b\r\n"}));
  EXPECT_EQ(splitByComma(std::string(20000, ',')), V(20001, ""));
  EXPECT_EQ(splitBy("a\r\nb\n\rc\n", '\n'), (V{"a\r", "b", "\rc", ""}));
}

TEST(CheckSumStrLength, CountsCharactersNotBytes) {
  for (const char* text : {"", "0x12", "0x123", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"})
    EXPECT_TRUE(isCheckSumStrTooShort(text)) << text;
  for (const char* text : {"0x1234", "0x1234\r", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9x"})
    EXPECT_FALSE(isCheckSumStrTooShort(text)) << text;
}

}  // namespace
}  // namespace trident
