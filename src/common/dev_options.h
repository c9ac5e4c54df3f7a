#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trident {

// The developer options every program of the product takes. Absent, nothing changes: real HID
// devices and the built-in update server are used.
struct DevOptions {
  std::optional<std::string> virtualHidDir;  // --virtual-hid DIR: virtual boards instead of USB
  std::optional<std::string> serverUrl;      // --server URL: replaces the built-in server
  // --release-key KEY: a minisign public key (its base64 line or a .pub file's path) that
  // replaces the built-in one. Nothing turns the check off.
  std::optional<std::string> releaseKey;
};

inline constexpr std::string_view kDevOptionsHelp =
    "  --virtual-hid DIR   use the virtual boards in DIR instead of USB devices (development)\n"
    "  --server URL        use this update server instead of the built-in one\n"
    "                      (ftp://, ftps://, http:// or https://, no trailing '/')\n"
    "  --release-key KEY   trust releases signed by this minisign public key instead of the\n"
    "                      built-in one (its base64 line, or the path of its .pub file)\n";

// Takes the developer options out of `args`, leaving the rest in order. Returns an error text
// when one of them lacks its value or the URL cannot serve as a base URL.
std::optional<std::string> takeDevOptions(std::vector<std::string>& args, DevOptions& options);

}  // namespace trident
