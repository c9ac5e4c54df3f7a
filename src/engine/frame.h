#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace trident {

// Every message to and from the bootloader is one 64-byte report.
inline constexpr size_t kReportSize = 64;
using Frame = std::array<uint8_t, kReportSize>;

// Command codes of the bootloader protocol.
enum class Command : uint8_t {
  Data = 0x00,  // continuation of the image; carries no code
  FirstTransfer = 0xA0,
  PreUpdateA2 = 0xA2,
  Sync = 0xA4,
  MagicLetters = 0xA6,
  PreUpdateB1 = 0xB1,
  Final = 0xAB,
};

// Command code in bytes 0-3, packet number in bytes 4-7 (only its low 16 bits travel, bytes 6-7
// stay zero), payload in bytes 8-63, everything else zero, all little-endian.
Frame makeFrame(Command command, uint32_t packetNumber);

// The transfer: the first transfer frame (packet number 3) carries the image's length and the
// image's first bytes, each data frame after it (5, 7, ...) the next ones; a data frame shorter
// than its room, or empty, is the last, and its reply carries the board's checksum.
inline constexpr size_t kImageLengthAt = 12;  // little-endian, in the first transfer frame
inline constexpr size_t kFirstPayloadAt = 16;
inline constexpr uint32_t kFirstPayloadBytes = 48;
inline constexpr size_t kDataPayloadAt = 8;
inline constexpr uint32_t kDataPayloadBytes = 56;
inline constexpr size_t kChecksumReplyAt = 8;  // two bytes
inline constexpr uint32_t kFirstDataPacket = 5;
// The last data frame must carry a packet number of at most 65533, because the reply to 65535
// would need 65536 in a 16-bit field.
inline constexpr uint32_t kLastDataPacket = 65533;

// The largest image the bootloader can take: full data frames up to the one before the last
// number, and a short last one.
inline constexpr uint32_t kMaxImageBytes =
    kFirstPayloadBytes + kDataPayloadBytes * ((kLastDataPacket - kFirstDataPacket) / 2) +
    (kDataPayloadBytes - 1);
static_assert(kMaxImageBytes == 1'834'887);

// The sync frame is the same whoever sends it: A4 00 00 00 01 00 00 00 01 and 55 zeros.
Frame makeSyncFrame();

void putU32LE(Frame& frame, size_t offset, uint32_t value);
uint32_t getU32LE(const Frame& frame, size_t offset);

// Packet number a report carries in bytes 4-5, a reply or a frame of ours. Reports shorter than 6
// bytes carry none.
uint16_t replyPacketNumber(const Frame& report);

// The 128 lower-case hex digits of a report, bytes 0 to 63.
std::string hexDump(const Frame& frame);

// The trace lines that surround each dump.
std::string sendDump(const Frame& frame);     // "\nsend to hidc:\n<hex>\n"
std::string receiveDump(const Frame& frame);  // "\nget from hid:\n<hex>\n"

}  // namespace trident
