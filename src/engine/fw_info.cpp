#include "engine/fw_info.h"

namespace trident {

namespace {

constexpr std::size_t kLdRomOffset = 24;
constexpr std::size_t kApRomOffset = 32;
constexpr std::size_t kRomLength = 8;
constexpr std::size_t kVersionOffset = 44;
constexpr std::size_t kVersionLength = 4;
constexpr std::size_t kUidOffset = 48;
constexpr std::size_t kUidLength = 16;

std::optional<FwInfoDataModel::Bytes> fieldOf(std::span<const std::uint8_t> report,
                                              std::size_t offset, std::size_t length) {
  if (report.size() < offset + length) return std::nullopt;
  const auto field = report.subspan(offset, length);
  return FwInfoDataModel::Bytes(field.begin(), field.end());
}

std::span<const std::uint8_t> bytesOf(const std::optional<FwInfoDataModel::Bytes>& ary) {
  return ary ? std::span<const std::uint8_t>(*ary) : std::span<const std::uint8_t>();
}

void appendCharacter(std::string& text, std::uint8_t byte) {
  if (byte == 0) return;
  if (byte < 0x80) {
    text.push_back(static_cast<char>(byte));
    return;
  }
  text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
  text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
}

// Zero bytes give no character, so the characters of an array are its non-zero bytes.
std::vector<std::uint8_t> charactersOf(std::span<const std::uint8_t> ary) {
  std::vector<std::uint8_t> characters;
  for (const std::uint8_t byte : ary) {
    if (byte != 0) characters.push_back(byte);
  }
  return characters;
}

std::string textOf(std::span<const std::uint8_t> characters) {
  std::string text;
  for (const std::uint8_t byte : characters)
    appendCharacter(text, byte);
  return text;
}

// Upper case within Latin-1: a-z and the accented small letters (not the division sign).
std::uint8_t upperCaseOf(std::uint8_t character) {
  const bool asciiSmall = character >= 'a' && character <= 'z';
  const bool latinSmall = character >= 0xE0 && character <= 0xFE && character != 0xF7;
  return (asciiSmall || latinSmall) ? static_cast<std::uint8_t>(character - 0x20) : character;
}

}  // namespace

FwInfoDataModel::FwInfoDataModel(const std::uint8_t* report, std::size_t size)
    : report_(report ? std::span<const std::uint8_t>(report, size)
                     : std::span<const std::uint8_t>()),
      ld_rom_ascii_ary_(fieldOf(report_, kLdRomOffset, kRomLength)),
      ap_rom_ascii_ary_(fieldOf(report_, kApRomOffset, kRomLength)),
      version_ascii_ary_(fieldOf(report_, kVersionOffset, kVersionLength)),
      uid_ascii_ary_(fieldOf(report_, kUidOffset, kUidLength)) {}

FwInfoDataViewModel::FwInfoDataViewModel(const FwInfoDataModel& model, Diagnostics& diagnostics)
    : diagnostics_(&diagnostics),
      ld_rom_str_(getLdRomStrBy(bytesOf(model.ld_rom_ascii_ary()))),
      ap_rom_str_(getApRomStrBy(bytesOf(model.ap_rom_ascii_ary()))),
      version_str_(getVersionStrBy(bytesOf(model.version_ascii_ary()))),
      uid_str_(getUidStrBy(bytesOf(model.uid_ascii_ary()))) {}

std::string FwInfoDataViewModel::getLdRomStrBy(std::span<const std::uint8_t> ary) const {
  return romStrBy(ary, "LdRomStr");
}

std::string FwInfoDataViewModel::getApRomStrBy(std::span<const std::uint8_t> ary) const {
  return romStrBy(ary, "ApRomStr");
}

std::string FwInfoDataViewModel::romStrBy(std::span<const std::uint8_t> ary,
                                          std::string_view logName) const {
  if (ary.size() < 2) return "Unknown!";
  const std::vector<std::uint8_t> characters = charactersOf(ary);
  if (characters.size() < 3) return "Unknown!!";
  const std::uint8_t qk[] = {upperCaseOf(characters[0]), upperCaseOf(characters[1])};
  const std::string qkStr = textOf(qk);
  std::string text = textOf(characters);
  diagnostics_->systemLog(
      std::string(logName).append(" = ").append(text).append(", qkStr = ").append(qkStr));
  return qkStr == "QK" ? text : "Unknown!";
}

std::string FwInfoDataViewModel::getVersionStrBy(std::span<const std::uint8_t> ary) const {
  if (ary.size() < 4) return "Get version Error!";
  // Element 0 is report byte 44, the least significant component.
  const int a = ary[0];
  const int b = ary[1];
  const int c = ary[2];
  const int d = ary[3];
  if (a == 255 && b == 255 && c == 255 && d == 255) return "Unknown!";
  if (a == 0 && b == 0 && c == 0) return strprintf("V%d.0", d);
  if (a == 0 && b == 0) return strprintf("V%d.%d", d, c);
  if (a == 0) return strprintf("V%d.%d.%d", d, c, b);
  return strprintf("V%d.%d.%d.%d", d, c, b, a);
}

std::string FwInfoDataViewModel::getUidStrBy(std::span<const std::uint8_t> ary) const {
  return textOf(charactersOf(ary));
}

}  // namespace trident
