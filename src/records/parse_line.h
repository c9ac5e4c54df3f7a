#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/diagnostics.h"

namespace trident {

// The family a catalogue line belongs to; it selects the line's layout. The values are also the
// catalogue's slot numbers, so they must stay 0 to 23 in this order.
enum ParseTyep : std::int64_t {
  ParseTyep_Alder = 0,
  ParseTyep_Alder_TE = 1,
  ParseTyep_Alder_Wheel = 2,
  ParseTyep_Birch_Old = 3,
  ParseTyep_Cedar = 4,
  ParseTyep_Cedar_TE = 5,
  ParseTyep_Cedar_Wheel = 6,
  ParseTyep_Hazel = 7,
  ParseTyep_Hazel_TE = 8,
  ParseTyep_Larch = 9,
  ParseTyep_Willow = 10,
  ParseTyep_Hawthorn = 11,
  ParseTyep_Maple = 12,
  ParseTyep_Maple_TE = 13,
  ParseTyep_Maple_Wheel = 14,
  ParseTyep_RedCedar = 15,
  ParseTyep_RedCedar_TE = 16,
  ParseTyep_Oak = 17,
  ParseTyep_Linden = 18,
  ParseTyep_Rowan = 19,
  ParseTyep_Thistle = 20,
  ParseTyep_juniper = 21,
  ParseTyep_Poplar = 22,
  ParseTyep_Poplar_TE = 23,
};

inline constexpr std::size_t kParseTyepCount = 24;

// One raw catalogue line (it may still end in a carriage return) and the family it is read as.
class ParseLineModel {
 public:
  // initWith:type:
  ParseLineModel(std::optional<std::string> parseLine, std::int64_t parseType);

  const std::optional<std::string>& parseLine() const { return parseLine_; }
  std::int64_t parseType() const { return parseType_; }
  void setParseLine(std::optional<std::string> value) { parseLine_ = std::move(value); }
  void setParseType(std::int64_t value) { parseType_ = value; }

 private:
  std::optional<std::string> parseLine_;
  std::int64_t parseType_;
};

// A catalogue line cut into its fields by the layout of its family. The image fields hold full URL
// text (base URL + path, carriage returns removed, not escaped). A line that cannot be read leaves
// the fields absent and says why in the system log; it never fails its caller.
//
// The Diagnostics passed in is not owned and must outlive the view model.
class ParseLineViewModel {
 public:
  // initWith: — copies the model and parses it at once.
  ParseLineViewModel(const ParseLineModel& model, std::string ftpRootUrlStr,
                     Diagnostics& diagnostics);

  // Runs the layout routine of parseType; a value outside 0 to 23 parses nothing.
  void parseModeBy(std::int64_t parseType);

  // The five line layouts. Each re-reads parseLine and overwrites only the fields it sets.
  void parseLineSingle();     // name, version, checksum, A
  void parseLineSingle_TE();  // name, TE marker, version, checksum, A
  void parseLineAB();         // name, version, checksum, A, B
  void parseLineAB_TE();      // name, TE marker, version, checksum, A, B
  void parseThistle();        // leading field, name, version, checksum, A

  const std::optional<std::string>& parseLine() const { return parseLine_; }
  std::int64_t parseType() const { return parseType_; }
  const std::optional<std::string>& infoNameStr() const { return infoNameStr_; }
  const std::optional<std::string>& versionStr() const { return versionStr_; }
  const std::optional<std::string>& checkSumStr() const { return checkSumStr_; }
  const std::optional<std::string>& aHexFileUrlStr() const { return aHexFileUrlStr_; }
  const std::optional<std::string>& bHexFileUrlStr() const { return bHexFileUrlStr_; }

  void setParseLine(std::optional<std::string> value) { parseLine_ = std::move(value); }
  void setParseType(std::int64_t value) { parseType_ = value; }
  void setInfoNameStr(std::optional<std::string> value) { infoNameStr_ = std::move(value); }
  void setVersionStr(std::optional<std::string> value) { versionStr_ = std::move(value); }
  void setCheckSumStr(std::optional<std::string> value) { checkSumStr_ = std::move(value); }
  void setAHexFileUrlStr(std::optional<std::string> value) { aHexFileUrlStr_ = std::move(value); }
  void setBHexFileUrlStr(std::optional<std::string> value) { bHexFileUrlStr_ = std::move(value); }

  struct Layout;

 private:
  void parseBy(const Layout& layout);

  std::optional<std::string> parseLine_;
  std::int64_t parseType_;
  std::optional<std::string> infoNameStr_;
  std::optional<std::string> versionStr_;
  std::optional<std::string> checkSumStr_;
  std::optional<std::string> aHexFileUrlStr_;
  std::optional<std::string> bHexFileUrlStr_;
  std::string ftpRootUrlStr_;
  Diagnostics* diagnostics_;  // not owned, never null
};

}  // namespace trident
