#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "records/parse_line.h"

namespace trident {

// A whole multi-family catalogue text, lines separated by line feeds.
class UpgTxtModel {
 public:
  // initWith:
  explicit UpgTxtModel(std::optional<std::string> dataStr);

  const std::optional<std::string>& dataStr() const { return dataStr_; }
  void setDataStr(std::optional<std::string> value) { dataStr_ = std::move(value); }

 private:
  std::optional<std::string> dataStr_;
};

// A catalogue read into 24 family slots, slot n parsed with ParseTyep n. A slot stays absent when
// no line names its family; when several lines do, the last one wins.
//
// The Diagnostics passed in is not owned and must outlive the view model.
class UpgTxtViewModel {
 public:
  using Slot = std::optional<ParseLineViewModel>;
  using Lines = std::vector<std::string>;

  // initWith: — copies the model's text and fills the slots at once.
  UpgTxtViewModel(const UpgTxtModel& model, std::string ftpRootUrlStr, Diagnostics& diagnostics);

  // Splits dataStr into lines and runs every family scan in slot order. Slots that no line (or no
  // line passing the name check) matches keep what they held.
  void parseDataStr();

  // The family scans, one per slot; each logs its slot's five fields when done.
  void parseAlderBy(const Lines& lines_ary) { scanFamily(ParseTyep_Alder, lines_ary); }
  void parseAlder_TE_By(const Lines& lines_ary) { scanFamily(ParseTyep_Alder_TE, lines_ary); }
  void parseAlderSteeringWheelBy(const Lines& lines_ary) {
    scanFamily(ParseTyep_Alder_Wheel, lines_ary);
  }
  void parseBirchOldBy(const Lines& lines_ary) { scanFamily(ParseTyep_Birch_Old, lines_ary); }
  void parseCedar_By(const Lines& lines_ary) { scanFamily(ParseTyep_Cedar, lines_ary); }
  void parseCedar_TE_By(const Lines& lines_ary) { scanFamily(ParseTyep_Cedar_TE, lines_ary); }
  void parseCedar_Wheel_By(const Lines& lines_ary) { scanFamily(ParseTyep_Cedar_Wheel, lines_ary); }
  void parseHazel_By(const Lines& lines_ary) { scanFamily(ParseTyep_Hazel, lines_ary); }
  void parseHazel_TE_By(const Lines& lines_ary) { scanFamily(ParseTyep_Hazel_TE, lines_ary); }
  void parselarch(const Lines& lines_ary) { scanFamily(ParseTyep_Larch, lines_ary); }
  void parsepwillow_vm(const Lines& lines_ary) { scanFamily(ParseTyep_Willow, lines_ary); }
  void parsepHawthorn(const Lines& lines_ary) { scanFamily(ParseTyep_Hawthorn, lines_ary); }
  void parsepMaple(const Lines& lines_ary) { scanFamily(ParseTyep_Maple, lines_ary); }
  void parsepMaple_TE(const Lines& lines_ary) { scanFamily(ParseTyep_Maple_TE, lines_ary); }
  void parsepMaple_wheel(const Lines& lines_ary) { scanFamily(ParseTyep_Maple_Wheel, lines_ary); }
  void parse_redcedar(const Lines& lines_ary) { scanFamily(ParseTyep_RedCedar, lines_ary); }
  void parse_redcedar_TE(const Lines& lines_ary) { scanFamily(ParseTyep_RedCedar_TE, lines_ary); }
  void parse_oak_vm(const Lines& lines_ary) { scanFamily(ParseTyep_Oak, lines_ary); }
  void parse_linden(const Lines& lines_ary) { scanFamily(ParseTyep_Linden, lines_ary); }
  void parse_rowan(const Lines& lines_ary) { scanFamily(ParseTyep_Rowan, lines_ary); }
  void parse_thistle(const Lines& lines_ary) { scanFamily(ParseTyep_Thistle, lines_ary); }
  void parse_juniper(const Lines& lines_ary) { scanFamily(ParseTyep_juniper, lines_ary); }
  void parse_poplar(const Lines& lines_ary) { scanFamily(ParseTyep_Poplar, lines_ary); }
  void parse_poplar_TE(const Lines& lines_ary) { scanFamily(ParseTyep_Poplar_TE, lines_ary); }

  const std::optional<std::string>& dataStr() const { return dataStr_; }
  void setDataStr(std::optional<std::string> value) { dataStr_ = std::move(value); }

  // Every slot, indexed by ParseTyep value.
  const std::array<Slot, kParseTyepCount>& slots() const { return slots_; }

  const Slot& alder_vm() const { return slots_[ParseTyep_Alder]; }
  const Slot& alder_TE_vm() const { return slots_[ParseTyep_Alder_TE]; }
  const Slot& alder_wheel_vm() const { return slots_[ParseTyep_Alder_Wheel]; }
  const Slot& birch_old_vm() const { return slots_[ParseTyep_Birch_Old]; }
  const Slot& cedar_vm() const { return slots_[ParseTyep_Cedar]; }
  const Slot& cedar_TE_vm() const { return slots_[ParseTyep_Cedar_TE]; }
  const Slot& cedar_wheel_vm() const { return slots_[ParseTyep_Cedar_Wheel]; }
  const Slot& hazel_vm() const { return slots_[ParseTyep_Hazel]; }
  const Slot& hazel_TE_vm() const { return slots_[ParseTyep_Hazel_TE]; }
  const Slot& larch_vm() const { return slots_[ParseTyep_Larch]; }
  const Slot& willow_vm() const { return slots_[ParseTyep_Willow]; }
  const Slot& Hawthorn_vm() const { return slots_[ParseTyep_Hawthorn]; }
  const Slot& maple_vm() const { return slots_[ParseTyep_Maple]; }
  const Slot& maple_TE_vm() const { return slots_[ParseTyep_Maple_TE]; }
  const Slot& maple_wheel_vm() const { return slots_[ParseTyep_Maple_Wheel]; }
  const Slot& redcedar_vm() const { return slots_[ParseTyep_RedCedar]; }
  const Slot& redcedar_TE_vm() const { return slots_[ParseTyep_RedCedar_TE]; }
  const Slot& oak_vm() const { return slots_[ParseTyep_Oak]; }
  const Slot& linden_vm() const { return slots_[ParseTyep_Linden]; }
  const Slot& rowan_vm() const { return slots_[ParseTyep_Rowan]; }
  const Slot& thistle_vm() const { return slots_[ParseTyep_Thistle]; }
  const Slot& juniper_vm() const { return slots_[ParseTyep_juniper]; }
  const Slot& poplar_vm() const { return slots_[ParseTyep_Poplar]; }
  const Slot& poplar_TE_vm() const { return slots_[ParseTyep_Poplar_TE]; }

 private:
  void scanFamily(ParseTyep type, const Lines& lines_ary);

  std::optional<std::string> dataStr_;
  std::array<Slot, kParseTyepCount> slots_;
  std::string ftpRootUrlStr_;
  Diagnostics* diagnostics_;  // not owned, never null
};

}  // namespace trident
