#include "records/url_escape.h"

namespace trident {

namespace {

bool isAsciiLetter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isAsciiDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

bool isKeptUnescaped(unsigned char c) {
  if (isAsciiLetter(c) || isAsciiDigit(c)) return true;
  return std::string_view("!$&'()*+,-./:;=?@_~").find(static_cast<char>(c)) !=
         std::string_view::npos;
}

bool isUrlCharacter(unsigned char c) {
  // What escaping keeps, plus the escape sign itself, the fragment mark and the brackets of an
  // IPv6 host, which may stand in a base URL.
  return isKeptUnescaped(c) || c == '%' || c == '#' || c == '[' || c == ']';
}

}  // namespace

std::string legacyPercentEscape(std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (isKeptUnescaped(c)) {
      escaped.push_back(ch);
    } else {
      escaped.push_back('%');
      escaped.push_back(kHexDigits[c >> 4]);
      escaped.push_back(kHexDigits[c & 0x0F]);
    }
  }
  return escaped;
}

bool isAbsoluteUrl(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  if (!isAsciiLetter(static_cast<unsigned char>(text[0]))) return false;
  for (const char ch : text.substr(0, colon)) {
    const auto c = static_cast<unsigned char>(ch);
    if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '+' && c != '-' && c != '.') return false;
  }
  for (const char ch : text) {
    if (!isUrlCharacter(static_cast<unsigned char>(ch))) return false;
  }
  return true;
}

}  // namespace trident
