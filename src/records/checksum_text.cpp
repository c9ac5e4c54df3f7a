#include "records/checksum_text.h"

#include <cstddef>

namespace trident {

bool isCheckSumStrTooShort(std::string_view checkSumStr) {
  std::size_t characters = 0;
  for (const char ch : checkSumStr) {
    // UTF-8 continuation bytes (10xxxxxx) belong to the character before them.
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++characters;
  }
  return characters <= 5;
}

}  // namespace trident
