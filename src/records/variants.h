#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace trident {

// The firmware variants the pop-up offers, in pop-up order; the selected index picks the
// release-description file on the update server.
struct FirmwareVariant {
  std::string_view title;
  std::string_view releasePath;
};

inline constexpr std::array<FirmwareVariant, 2> kFirmwareVariants{{
    {"Tournament(No Turbo & Remap)",
     "/varnehex/VARNE_TRIDENT_Fighting_Board/TE/VARNE_TRIDENT_Fighting_Board_TE.txt"},
    {"Standard", "/varnehex/VARNE_TRIDENT_Fighting_Board/VARNE_TRIDENT_Fighting_Board.txt"},
}};

// The pop-up's titles, in index order.
inline std::vector<std::string> getPopUpBtnArray() {
  std::vector<std::string> titles;
  for (const auto& variant : kFirmwareVariants)
    titles.emplace_back(variant.title);
  return titles;
}

}  // namespace trident
