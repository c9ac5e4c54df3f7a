#pragma once

#include <string_view>

namespace trident {

// A checksum text is written "0x" and four hex digits: the board's checksum, as a release line
// and trident-flash's --checksum give it.

// The one rule a checksum text is taken by, wherever it comes from: strict UTF-8, and four hex
// digits after its first two characters, whatever those are; characters after the sixth are not
// read. A pair that is not hex would read as 0, and the board be judged against a value nobody
// wrote. Characters are counted, not bytes.
bool hasChecksumDigits(std::string_view checkSumStr);

// The catalogue only logs a checksum text too short to carry the four digits: five characters or
// fewer. Characters are counted, not bytes.
bool isCheckSumStrTooShort(std::string_view checkSumStr);

}  // namespace trident
