#include "records/utf8.h"

namespace trident {

std::optional<std::u32string> codePoints(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    size_t extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + extra >= bytes.size()) return std::nullopt;
    for (size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      cp = cp << 6 | (next & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    out.push_back(cp);
    i += extra + 1;
  }
  return out;
}

void appendUtf8(std::string& out, char32_t code) {
  if ((code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
    return;
  }
  // The lead byte holds the top bits after its length mark; each following byte six more.
  const int more = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
  out += static_cast<char>(((0xFF00 >> (more + 1)) & 0xFF) | (code >> (6 * more)));
  for (int i = more - 1; i >= 0; --i)
    out += static_cast<char>(0x80 | ((code >> (6 * i)) & 0x3F));
}

}  // namespace trident
