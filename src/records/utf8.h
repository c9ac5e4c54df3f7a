#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trident {

// Strict UTF-8 as code points: absent on the first malformed sequence (an overlong form, a
// surrogate, anything past U+10FFFF, a sequence cut short).
std::optional<std::u32string> codePoints(std::string_view bytes);

// Adds a code point to `out` as UTF-8; a surrogate or anything past U+10FFFF becomes U+FFFD.
void appendUtf8(std::string& out, char32_t code);

}  // namespace trident
