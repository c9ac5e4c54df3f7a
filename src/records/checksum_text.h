#pragma once

#include <string_view>

namespace trident {

// A checksum text is written "0x" and four hex digits; anything of five characters or fewer
// cannot carry the four digits the board's checksum is read from. Both the release fetch and the
// catalogue judge checksum texts by this one length rule. Characters are counted, not bytes.
bool isCheckSumStrTooShort(std::string_view checkSumStr);

}  // namespace trident
