#pragma once

#include <string>
#include <string_view>

namespace trident {

// The escaping our update servers have always been addressed with: letters, digits and
// ! $ & ' ( ) * + , - . / : ; = ? @ _ ~ stay as they are; every other byte (space, %, #, quotes,
// brackets, control characters, DEL and each byte of a non-ASCII character) becomes "%" and two
// upper-case hex digits. Bytes that are not valid UTF-8 are escaped one by one like any other.
std::string legacyPercentEscape(std::string_view text);

// True when text can be taken as an absolute URL: it starts with a scheme ("ftp:", "https:") and
// holds only characters a URL may carry unescaped. Base URLs are not escaped, so a base URL with a
// space or without a scheme fails here rather than in the middle of a download.
bool isAbsoluteUrl(std::string_view text);

}  // namespace trident
