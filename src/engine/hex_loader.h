#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/diagnostics.h"
#include "common/result.h"
#include "engine/frame.h"

namespace trident {

// The image decoded from an Intel HEX text: the data bytes of every data record, in file order,
// back to back. Load addresses are not used; the bootloader places the image itself.
struct HexImage {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t capacity = 0;  // size of `bytes`
  uint32_t length = 0;    // bytes stored; always equal to the sum of the stored record bytes
  bool tooLarge = false;  // the file held more than kMaxImageBytes data bytes
  // Why the file is damaged or scattered, and the first line that shows it (see readHexImage);
  // the file must not be programmed. A missing end-of-file record is reported on the line after
  // the last.
  std::optional<Error> damagedLine;
};

// The most text a HEX file of the largest image can hold, with room to spare: two digits per data
// byte, and each line's framing (start code, count, address, type, checksum, line end: 13
// characters) under two more per byte for records of eight bytes or more; the few address records
// fit in the rest. A longer file is refused before it is read whole.
inline constexpr size_t kMaxHexTextBytes = 4 * size_t{kMaxImageBytes};

enum class HexLoadStatus { Loaded, CannotOpen };

// Reads the file in one pass with a fixed line window of 1023 characters and writes the loader's
// trace lines. Every record is checked on the way: a line longer than the window, a record whose
// start code, digits, length or checksum is wrong, a record type other than 00-05, data that does
// not continue the run of the data before it (after the extended segment and linear address
// records are applied: no gap, no overlap, never back), and a file without an end-of-file record
// all set `damagedLine`, and reading stops there. Blank lines are skipped; data after the
// end-of-file record still counts where it continues the run. The image is sized once from the
// file size, capped just above the largest image the bootloader accepts; `lineNO` receives the
// number of the last line examined.
HexLoadStatus readHexImage(const std::filesystem::path& file, HexImage& image, int32_t& lineNO,
                           Diagnostics& diag);

// The decoding readHexImage does once the file is open, on a whole file's text already in memory:
// the same image, line count and per-line trace; the file's own trace lines (open, path, size,
// end of file) are left out. The fuzz targets feed the decoder through it without a file system.
void decodeHexText(std::string_view text, HexImage& image, int32_t& lineNO, Diagnostics& diag);

// What the user is told of a damaged file: its line, not the reason.
std::string damagedFileMessage(const Error& damage);

// Why a loaded image must not be programmed, for the log and for the user: a damaged or scattered
// file can only be programmed wrong, one past the packet-number limit could never finish, and one
// with no data would leave the board without firmware. None when it may be programmed.
struct ImageRefusal {
  std::string log;
  std::string alert;
};
std::optional<ImageRefusal> imageRefusal(const HexImage& image);

}  // namespace trident
