#include "records/checksum_text.h"

#include <algorithm>
#include <cstddef>

#include "records/utf8.h"

namespace trident {

bool hasChecksumDigits(std::string_view checkSumStr) {
  const auto points = codePoints(checkSumStr);
  if (!points || points->size() < 6) return false;
  return std::all_of(points->begin() + 2, points->begin() + 6, [](char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

bool isCheckSumStrTooShort(std::string_view checkSumStr) {
  std::size_t characters = 0;
  for (const char ch : checkSumStr) {
    // UTF-8 continuation bytes (10xxxxxx) belong to the character before them.
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++characters;
  }
  return characters <= 5;
}

}  // namespace trident
