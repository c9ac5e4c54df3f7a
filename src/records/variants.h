#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trident {

// The firmware variants the pop-up offers, in pop-up order; the selected index picks the
// release-description file on the update server, and trident-flash's --variant takes the name.
struct FirmwareVariant {
  std::string_view name;  // on the command line
  std::string_view title;
  std::string_view releasePath;
};

inline constexpr std::array<FirmwareVariant, 2> kFirmwareVariants{{
    {"tournament", "Tournament(No Turbo & Remap)",
     "/varnehex/VARNE_TRIDENT_Fighting_Board/TE/VARNE_TRIDENT_Fighting_Board_TE.txt"},
    {"standard", "Standard",
     "/varnehex/VARNE_TRIDENT_Fighting_Board/VARNE_TRIDENT_Fighting_Board.txt"},
}};

// The pop-up's titles, in index order.
inline std::vector<std::string> getPopUpBtnArray() {
  std::vector<std::string> titles;
  for (const auto& variant : kFirmwareVariants)
    titles.emplace_back(variant.title);
  return titles;
}

// The pop-up index of the variant with this command-line name; none for another name.
inline std::optional<int64_t> variantNamed(std::string_view name) {
  for (size_t i = 0; i < kFirmwareVariants.size(); ++i) {
    if (kFirmwareVariants[i].name == name) return static_cast<int64_t>(i);
  }
  return std::nullopt;
}

}  // namespace trident
