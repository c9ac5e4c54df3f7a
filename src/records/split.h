#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace trident {

// Cuts text at every occurrence of one separator character. Release lines and catalogues have no
// quoting and are never trimmed, and an empty field still counts as a field: "" gives one field,
// "a,,b," gives four. Field positions therefore stay stable however sloppy the line is.
std::vector<std::string> splitBy(std::string_view text, char separator);

inline std::vector<std::string> splitByComma(std::string_view text) {
  return splitBy(text, ',');
}

}  // namespace trident
