#include "records/upg_txt.h"

#include <string_view>

#include "records/split.h"

namespace trident {

namespace {

struct Family {
  std::string_view slotName;
  // Searched for anywhere in a line, case-sensitively.
  std::string_view key;
  // Where a key also occurs inside another family's key ("Cedar,v" in "RedCedar,v"), the parsed
  // name must equal this before the line may fill the slot.
  std::optional<std::string_view> requiredName;
};

// Indexed by ParseTyep value. Larch and Linden boards ship the same firmware, so both slots are
// filled from the "Larch,v" line; the Thistle catalogue line has always been written lower case.
constexpr std::array<Family, kParseTyepCount> kFamilies{{
    {"alder_vm", "Alder,v", std::nullopt},
    {"alder_TE_vm", "Alder,TE", std::nullopt},
    {"alder_wheel_vm", "AlderSteeringWheel,v", std::nullopt},
    {"birch_old_vm", "Birch,v", std::nullopt},
    {"cedar_vm", "Cedar,v", "Cedar"},
    {"cedar_TE_vm", "Cedar,TE,v", "Cedar"},
    {"cedar_wheel_vm", "CedarSteering,v", "CedarSteering"},
    {"hazel_vm", "Hazel,v", "Hazel"},
    {"hazel_TE_vm", "Hazel,TE,v", "Hazel"},
    {"larch_vm", "Larch,v", std::nullopt},
    {"willow_vm", "Willow,v", std::nullopt},
    {"Hawthorn_vm", "Hawthorn,v", std::nullopt},
    {"maple_vm", "Maple,v", std::nullopt},
    {"maple_TE_vm", "Maple,TE,v", std::nullopt},
    {"maple_wheel_vm", "MapleSteering,v", std::nullopt},
    {"redcedar_vm", "RedCedar,v", std::nullopt},
    {"redcedar_TE_vm", "RedCedar,TE,v", std::nullopt},
    {"oak_vm", "Oak,v", std::nullopt},
    {"linden_vm", "Larch,v", std::nullopt},
    {"rowan_vm", "Rowan,v", std::nullopt},
    {"thistle_vm", "thistle,v", std::nullopt},
    {"juniper_vm", "JuniperBoard,v", std::nullopt},
    {"poplar_vm", "Poplar,v", std::nullopt},
    {"poplar_TE_vm", "Poplar,TE,v", std::nullopt},
}};

}  // namespace

UpgTxtModel::UpgTxtModel(std::optional<std::string> dataStr) : dataStr_(std::move(dataStr)) {}

UpgTxtViewModel::UpgTxtViewModel(const UpgTxtModel& model, std::string ftpRootUrlStr,
                                 Diagnostics& diagnostics)
    : dataStr_(model.dataStr()),
      ftpRootUrlStr_(std::move(ftpRootUrlStr)),
      diagnostics_(&diagnostics) {
  parseDataStr();
}

void UpgTxtViewModel::parseDataStr() {
  const Lines lines_ary = dataStr_ ? splitBy(*dataStr_, '\n') : Lines{};
  diagnostics_->systemLog(strprintf("lines_ary.count = %ld", static_cast<long>(lines_ary.size())));
  for (std::size_t type = 0; type < kParseTyepCount; ++type) {
    scanFamily(static_cast<ParseTyep>(type), lines_ary);
  }
}

void UpgTxtViewModel::scanFamily(ParseTyep type, const Lines& lines_ary) {
  const Family& family = kFamilies[static_cast<std::size_t>(type)];
  Slot& slot = slots_[static_cast<std::size_t>(type)];
  for (const std::string& line : lines_ary) {
    if (line.find(family.key) == std::string::npos) continue;
    ParseLineViewModel parsed(ParseLineModel(line, type), ftpRootUrlStr_, *diagnostics_);
    if (family.requiredName && parsed.infoNameStr() != *family.requiredName) continue;
    slot = std::move(parsed);
  }

  const auto logField = [&](std::string_view fieldName, const std::optional<std::string>& value) {
    std::string line("[DEBUG] download: ");
    line.append(family.slotName).append(".").append(fieldName).append(" = ").append(orNull(value));
    diagnostics_->systemLog(line);
  };
  const std::optional<std::string> absent;
  logField("infoNameStr", slot ? slot->infoNameStr() : absent);
  logField("versionStr", slot ? slot->versionStr() : absent);
  logField("checkSumStr", slot ? slot->checkSumStr() : absent);
  logField("aHexFileUrlStr", slot ? slot->aHexFileUrlStr() : absent);
  logField("bHexFileUrlStr", slot ? slot->bHexFileUrlStr() : absent);
}

}  // namespace trident
