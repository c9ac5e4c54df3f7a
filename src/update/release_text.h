#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trident {

// The release-description body as text: present only when the bytes are valid UTF-8 (no overlong
// forms, no surrogates, nothing past U+10FFFF). An absent text reads as no fields at all.
std::optional<std::string> decodeUtf8(std::string_view body);

// Release files may carry comment lines: any line with "//" in it, wherever it stands. The lines
// that remain are joined with nothing between them, so their line feeds go (carriage returns
// stay); a release line therefore must not hold "//", and two plain lines run together.
bool hasCommentLines(std::string_view text);
std::string dropCommentLines(std::string_view text);

// A body as the log shows raw bytes: hex digits in groups of four bytes, in angle brackets.
std::string bodyDescription(std::string_view body);

// Reads a hex number the way the release tools' scanner always has: leading white space skipped,
// an optional 0x or 0X, digits in either case, 0xFFFFFFFF when it does not fit in 32 bits, and 0
// when the text does not start with a hex digit ("0x" without a digit after it reads as the 0).
int64_t hexStringToInteger(std::string_view text);

// The checksum the board must report, from a release line's checksum text "0xHHLL": the first
// two characters are skipped whatever they are, then the next two are the board's high byte and
// the two after them its low byte. The board sends its sum low byte first and the engine reads
// its reply as byte 8 * 256 + byte 9, so the value is kept swapped: "0x1234" gives 0x3412. A pair
// that is not hex counts as 0; characters after the sixth are ignored. Characters are counted as
// code points, as the checksum length rule counts them.
uint64_t ftpChecksumInteger(std::string_view checkSumStr);

}  // namespace trident
