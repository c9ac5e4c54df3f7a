#include "engine/hex_loader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>

#include "common/file_reading.h"

namespace trident {

namespace {

// Lets the hot path decode two hex digits with two table reads.
constexpr std::array<int8_t, 256> makeHexTable() {
  std::array<int8_t, 256> table{};
  for (auto& v : table)
    v = -1;
  for (int c = '0'; c <= '9'; ++c)
    table[c] = static_cast<int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c)
    table[c] = static_cast<int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c)
    table[c] = static_cast<int8_t>(c - 'A' + 10);
  return table;
}
constexpr auto kHex = makeHexTable();

int hexValue(char c) {
  return kHex[static_cast<unsigned char>(c)];
}

// One read of the line buffer: up to 1023 characters, through the next line feed if there is one
// within them.
constexpr size_t kLinePiece = 1023;

// Trace lines are formatted on the stack: the image buffer stays the load's one allocation.
void traceSkippedLine(Diagnostics& diag, int32_t lineNO, const char* piece, size_t length) {
  // The line prints as a C string would: up to an embedded NUL, its line break included.
  std::array<char, 64 + kLinePiece> text;
  const int head =
      std::snprintf(text.data(), text.size(), "lineNO: %d, line[7] or [8] =! 0, line = ", lineNO);
  const size_t printable =
      std::min(strnlen(piece, length), text.size() - static_cast<size_t>(head));
  std::memcpy(text.data() + head, piece, printable);
  diag.standardOutput(std::string_view(text.data(), static_cast<size_t>(head) + printable));
}

// Hands the decoder the characters ahead, at least `want` of them while the file lasts, through a
// 64 KiB buffer: the image stays the load's one allocation.
class FileLines {
 public:
  explicit FileLines(FileReader& file) : file_(file) {}

  std::string_view ahead(size_t want) {
    if (end_ - begin_ < want && !atEof_) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
      while (end_ < buffer_.size()) {
        const size_t got = file_.read(buffer_.data() + end_, buffer_.size() - end_);
        if (got == 0) {
          atEof_ = true;
          break;
        }
        end_ += got;
      }
    }
    return std::string_view(buffer_.data() + begin_, end_ - begin_);
  }
  void consume(size_t count) { begin_ += count; }

 private:
  FileReader& file_;
  std::array<char, 64 * 1024> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool atEof_ = false;
};

// The same for text already in memory: all of it is ahead from the start.
class MemoryLines {
 public:
  explicit MemoryLines(std::string_view text) : rest_(text) {}
  std::string_view ahead(size_t) const { return rest_; }
  void consume(size_t count) { rest_.remove_prefix(count); }

 private:
  std::string_view rest_;
};

// Every data byte takes two characters of the file, so half its size always holds the image;
// anything past the largest image the bootloader takes is refused later, so it is not kept.
void sizeImage(HexImage& image, long long fileSize) {
  const auto capacity = static_cast<uint32_t>(
      std::min<long long>(std::max(fileSize, 0LL) / 2, static_cast<long long>(kMaxImageBytes)));
  image.bytes = std::make_unique_for_overwrite<uint8_t[]>(capacity);
  image.capacity = capacity;
}

// A record is at most 521 characters (255 data bytes); a line that fills the window is none.
constexpr size_t kMaxRecordBytes = 5 + 255;

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// Follows where the records put their bytes. The board takes a length and a stream from its base,
// so only data that continues the run before it is programmed as the file means it; its 16-bit
// sum cannot see the order, so nothing else may reach it.
class RecordCheck {
 public:
  // Decodes one record (its line without the line break) into `bytes`; why it is damaged, or null
  // when it is sound.
  const char* damage(std::string_view record, std::array<uint8_t, kMaxRecordBytes>& bytes) {
    if (record.empty() || record[0] != ':') return "no start code";
    if (record.size() < 11) return "record too short";
    if (record.size() > 1 + 2 * kMaxRecordBytes) return "record too long";
    if (record.size() % 2 == 0) return "odd number of hex digits";
    uint8_t sum = 0;
    const size_t count = record.size() / 2;
    for (size_t i = 0; i < count; ++i) {
      const int hi = hexValue(record[1 + 2 * i]);
      const int lo = hexValue(record[2 + 2 * i]);
      if (hi < 0 || lo < 0) return "not a hex digit";
      bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
      sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    const size_t length = bytes[0];
    if (count != 5 + length) return "length byte does not match the line";
    if (sum != 0) return "record checksum";
    const uint32_t offset = static_cast<uint32_t>(bytes[1] << 8 | bytes[2]);
    const uint32_t word = static_cast<uint32_t>(bytes[4] << 8 | bytes[5]);
    const auto lengthFor = [&](size_t expected) {
      return length == expected ? nullptr : "wrong length for its record type";
    };
    switch (bytes[3]) {
      case 0x00:
        return length == 0 ? nullptr : place(base_ + offset, length);
      case 0x01:
        sawEnd_ = true;
        return lengthFor(0);
      case 0x02:
        base_ = uint64_t{word} << 4;
        return lengthFor(2);
      case 0x04:
        base_ = uint64_t{word} << 16;
        return lengthFor(2);
      case 0x03:
      case 0x05:
        return lengthFor(4);
      default:
        return "unknown record type";
    }
  }
  bool sawEnd() const { return sawEnd_; }

 private:
  // Data at `start` must begin where the data before it ended.
  const char* place(uint64_t start, size_t length) {
    if (next_ && start != *next_) {
      if (start > *next_) return "gap in the data";
      return start < last_ ? "data goes back" : "data overlaps";
    }
    last_ = start;
    next_ = start + length;
    return nullptr;
  }

  uint64_t base_ = 0;
  uint64_t last_ = 0;  // where the last data record began
  std::optional<uint64_t> next_;
  bool sawEnd_ = false;
};

template <typename Lines>
void decodeLines(Lines& lines, HexImage& image, int32_t& lineNO, Diagnostics& diag) {
  RecordCheck check;
  std::array<uint8_t, kMaxRecordBytes> bytes;
  for (;;) {
    const std::string_view ahead = lines.ahead(kLinePiece + 1);
    if (ahead.empty()) break;

    const char* piece = ahead.data();
    const size_t window = std::min(ahead.size(), kLinePiece);
    const auto* newline = static_cast<const char*>(std::memchr(piece, '\n', window));
    const size_t length = newline ? static_cast<size_t>(newline - piece) + 1 : window;
    lines.consume(length);
    ++lineNO;

    size_t content = length;
    if (content > 0 && piece[content - 1] == '\n') --content;
    if (content > 0 && piece[content - 1] == '\r') --content;
    const std::string_view record(piece, content);
    const bool blank = isBlank(record);
    const char* damage = newline == nullptr && ahead.size() > window ? "line too long"
                         : blank                                     ? nullptr
                                                                     : check.damage(record, bytes);
    if (damage) {
      image.damagedLine = Error{damage, lineNO + 1};  // users count lines from 1
      return;
    }
    if (blank || piece[7] != '0' || piece[8] != '0') {
      traceSkippedLine(diag, lineNO, piece, length);
      continue;
    }
    size_t count = bytes[0];
    if (count > image.capacity - image.length) {
      image.tooLarge = true;
      count = image.capacity - image.length;
    }
    std::memcpy(image.bytes.get() + image.length, bytes.data() + 4, count);
    image.length += static_cast<uint32_t>(count);
  }
  // Every tool writes one; without it a download cut at a line boundary would pass. A file with
  // no lines at all is not damaged but empty, and refused as such.
  if (!check.sawEnd() && lineNO >= 0)
    image.damagedLine = Error{"no end-of-file record", lineNO + 2};
}

}  // namespace

HexLoadStatus readHexImage(const std::filesystem::path& file, HexImage& image, int32_t& lineNO,
                           Diagnostics& diag) {
  image = HexImage{};
  lineNO = -1;
  FileReader reader(file);
  if (!reader.isOpen()) return HexLoadStatus::CannotOpen;

  diag.standardOutput("fopen(Acode) success\n");
  std::array<char, 64 + 4096> text;
  std::string storage;
  const std::string_view name = pathText(file, storage);
  int n = std::snprintf(text.data(), text.size(), "path of Acode : %.*s",
                        static_cast<int>(std::min<size_t>(name.size(), 4096)), name.data());
  diag.systemLog(std::string_view(text.data(), static_cast<size_t>(n)));
  const long long size = std::max(reader.size(), 0LL);
  n = std::snprintf(text.data(), text.size(), "fsize=%lld\n", size);
  diag.standardOutput(std::string_view(text.data(), static_cast<size_t>(n)));

  sizeImage(image, size);
  FileLines lines(reader);
  decodeLines(lines, image, lineNO, diag);

  diag.standardOutput(
      "===================== eof reading file, then send cmd-sync, then update A\n\n");
  return HexLoadStatus::Loaded;
}

std::string damagedFileMessage(const Error& damage) {
  return strprintf("Error: The firmware file is damaged (line %d)", damage.line.value_or(0));
}

std::optional<ImageRefusal> imageRefusal(const HexImage& image) {
  if (const auto& damage = image.damagedLine) {
    return ImageRefusal{strprintf("the firmware file is damaged at line %d (%s)",
                                  damage->line.value_or(0), damage->reason.c_str()),
                        damagedFileMessage(*damage)};
  }
  if (image.tooLarge) {
    return ImageRefusal{strprintf("the image holds more than %u bytes", kMaxImageBytes),
                        "Error: The firmware file is too large for this board"};
  }
  if (image.length == 0) {
    return ImageRefusal{"the firmware file holds no data records",
                        "Error: The firmware file holds no firmware data"};
  }
  return std::nullopt;
}

void decodeHexText(std::string_view text, HexImage& image, int32_t& lineNO, Diagnostics& diag) {
  image = HexImage{};
  lineNO = -1;
  sizeImage(image, static_cast<long long>(text.size()));
  MemoryLines lines(text);
  decodeLines(lines, image, lineNO, diag);
}

}  // namespace trident
