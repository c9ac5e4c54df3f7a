#include "common/dev_options.h"

#include <array>

namespace trident {

std::optional<std::string> takeDevOptions(std::vector<std::string>& args, DevOptions& options) {
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg != "--virtual-hid" && arg != "--server" && arg != "--release-key") {
      rest.push_back(arg);
      continue;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) return arg + " needs a value";
    std::string value = args[++i];
    if (arg == "--virtual-hid" || arg == "--release-key") {
      (arg == "--virtual-hid" ? options.virtualHidDir : options.releaseKey) = std::move(value);
      continue;
    }
    static constexpr std::array<std::string_view, 4> kSchemes = {"ftp://", "ftps://", "http://",
                                                                 "https://"};
    bool known = false;
    for (auto scheme : kSchemes)
      known = known || std::string_view(value).starts_with(scheme);
    if (!known) return "--server takes an ftp://, ftps://, http:// or https:// URL: " + value;
    // Paths are appended to the base URL as they stand, so a trailing '/' would double it.
    while (value.size() > 1 && value.back() == '/')
      value.pop_back();
    options.serverUrl = std::move(value);
  }
  args = std::move(rest);
  return std::nullopt;
}

}  // namespace trident
