#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/diagnostics.h"

namespace trident {

// The fields of the board's 64-byte firmware-information report, byte for byte:
//   24-31 loader ROM identification, 32-39 application ROM identification,
//   44-47 version (byte 47 is the major component), 48-63 unique ID.
// A field is absent when the buffer ends before its last byte, so a short or truncated report can
// never be read past its end.
class FwInfoDataModel {
 public:
  using Bytes = std::vector<std::uint8_t>;

  // initWith: — the bytes are copied out at once; the buffer is only borrowed and must outlive any
  // use of report(). A null pointer reads as an empty report.
  FwInfoDataModel(const std::uint8_t* report, std::size_t size);

  std::span<const std::uint8_t> report() const { return report_; }
  const std::optional<Bytes>& ld_rom_ascii_ary() const { return ld_rom_ascii_ary_; }
  const std::optional<Bytes>& ap_rom_ascii_ary() const { return ap_rom_ascii_ary_; }
  const std::optional<Bytes>& version_ascii_ary() const { return version_ascii_ary_; }
  const std::optional<Bytes>& uid_ascii_ary() const { return uid_ascii_ary_; }

  void setReport(std::span<const std::uint8_t> value) { report_ = value; }
  void setLd_rom_ascii_ary(std::optional<Bytes> value) { ld_rom_ascii_ary_ = std::move(value); }
  void setAp_rom_ascii_ary(std::optional<Bytes> value) { ap_rom_ascii_ary_ = std::move(value); }
  void setVersion_ascii_ary(std::optional<Bytes> value) { version_ascii_ary_ = std::move(value); }
  void setUid_ascii_ary(std::optional<Bytes> value) { uid_ascii_ary_ = std::move(value); }

 private:
  std::span<const std::uint8_t> report_;
  std::optional<Bytes> ld_rom_ascii_ary_;
  std::optional<Bytes> ap_rom_ascii_ary_;
  std::optional<Bytes> version_ascii_ary_;
  std::optional<Bytes> uid_ascii_ary_;
};

// The report as display text. Bytes are unsigned throughout (0xFF is 255). A byte becomes one
// character: 0 gives nothing, 0x01-0x7F the ASCII character, 0x80-0xFF the Latin-1 character,
// written as UTF-8. The rules treat an absent array like an empty one.
//
// The Diagnostics passed in is not owned and must outlive the view model.
class FwInfoDataViewModel {
 public:
  // initWith:
  FwInfoDataViewModel(const FwInfoDataModel& model, Diagnostics& diagnostics);

  // A ROM identification is shown only when it starts with "QK" in either case; our ROMs are
  // named that way, so anything else is not one of ours ("Unknown!"), and a text of fewer than
  // three characters is too short to be a name at all ("Unknown!!").
  std::string getLdRomStrBy(std::span<const std::uint8_t> ary) const;
  std::string getApRomStrBy(std::span<const std::uint8_t> ary) const;
  // "V" and the components from the major one down, trailing zero components dropped (a lone
  // major component keeps one ".0"); "Unknown!" for an erased (all 0xFF) version field.
  std::string getVersionStrBy(std::span<const std::uint8_t> ary) const;
  std::string getUidStrBy(std::span<const std::uint8_t> ary) const;

  const std::string& ld_rom_str() const { return ld_rom_str_; }
  const std::string& ap_rom_str() const { return ap_rom_str_; }
  const std::string& version_str() const { return version_str_; }
  const std::string& uid_str() const { return uid_str_; }

  void setLd_rom_str(std::string value) { ld_rom_str_ = std::move(value); }
  void setAp_rom_str(std::string value) { ap_rom_str_ = std::move(value); }
  void setVersion_str(std::string value) { version_str_ = std::move(value); }
  void setUid_str(std::string value) { uid_str_ = std::move(value); }

 private:
  std::string romStrBy(std::span<const std::uint8_t> ary, std::string_view logName) const;

  Diagnostics* diagnostics_;  // not owned, never null
  std::string ld_rom_str_;
  std::string ap_rom_str_;
  std::string version_str_;
  std::string uid_str_;
};

}  // namespace trident
