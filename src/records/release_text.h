#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/remote_txt_file.h"

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
// code points, as hasChecksumDigits counts them.
uint64_t ftpChecksumInteger(std::string_view checkSumStr);

// A release description is a few lines; a body larger than this is refused unread.
inline constexpr size_t kMaxReleaseDescriptionBytes = 64 * 1024;

// What one release-description body says, decided in one place: the release, or the alert that
// refuses it, and the log lines written on the way, in order.
struct ReleaseReading {
  std::shared_ptr<const RemoteTxtFileViewModel> release;  // the record of the release line, if any
  std::optional<std::string> refusal;  // "Parse txt file error" or "checkSumStr error"
  std::vector<std::string> log;
};

// Reads the body fetched from `url` on the server at `ftpRootUrlStr`. Refused with "Parse txt file
// error": a body over kMaxReleaseDescriptionBytes, one that is not UTF-8 or has fewer than four
// fields, and a firmware path that does not begin with "/" or whose URL names another scheme,
// host or port than the server's, and a fifth field that begins "sha256:" (in any case) without
// the file's SHA-256 in 64 lower-case hex digits after it (any other fifth field is passed over).
// Refused with "checkSumStr error": a checksum text without four
// hex digits after its first two characters. A line break at the end of the path is the file's
// own, not the path's, and is dropped. `release` is set whenever the line had four fields. The
// body's size is the larger of its own and `announcedSize`, what the server said it would send.
ReleaseReading readReleaseText(std::string_view body, std::string_view url,
                               std::string_view ftpRootUrlStr, uint64_t announcedSize = 0);

}  // namespace trident
