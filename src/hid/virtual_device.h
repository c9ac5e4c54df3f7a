#pragma once

#include <sys/un.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trident {

// A virtual board is the socket DIR/VVVV-PPPP-NAME.sock: the vendor and product IDs as four
// lower-case hex digits each, NAME of [A-Za-z0-9_.-]+.
std::string virtualDeviceFileName(uint16_t vendorId, uint16_t productId, std::string_view name);

// The address of a UNIX-domain socket at `path`; none when the path does not fit in one.
std::optional<sockaddr_un> unixSocketAddress(const std::string& path);

}  // namespace trident
