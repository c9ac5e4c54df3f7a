#include "engine/frame.h"

namespace trident {

void putU32LE(Frame& frame, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i)
    frame[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getU32LE(const Frame& frame, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i)
    value |= static_cast<uint32_t>(frame[offset + i]) << (8 * i);
  return value;
}

Frame makeFrame(Command command, uint32_t packetNumber) {
  Frame frame{};
  frame[0] = static_cast<uint8_t>(command);
  frame[4] = static_cast<uint8_t>(packetNumber);
  frame[5] = static_cast<uint8_t>(packetNumber >> 8);
  return frame;
}

Frame makeSyncFrame() {
  Frame frame = makeFrame(Command::Sync, 1);
  frame[8] = 0x01;
  return frame;
}

uint16_t replyPacketNumber(const Frame& report) {
  return static_cast<uint16_t>(report[4] | (report[5] << 8));
}

std::string hexDump(const Frame& frame) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(kReportSize * 2, '0');
  for (size_t i = 0; i < kReportSize; ++i) {
    out[2 * i] = kDigits[frame[i] >> 4];
    out[2 * i + 1] = kDigits[frame[i] & 0x0F];
  }
  return out;
}

namespace {
std::string framedDump(std::string_view heading, const Frame& frame) {
  std::string out;
  out.reserve(heading.size() + kReportSize * 2 + 3);
  out += '\n';
  out += heading;
  out += '\n';
  out += hexDump(frame);
  out += '\n';
  return out;
}
}  // namespace

std::string sendDump(const Frame& frame) {
  return framedDump("send to hidc:", frame);
}
std::string receiveDump(const Frame& frame) {
  return framedDump("get from hid:", frame);
}

}  // namespace trident
