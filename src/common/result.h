#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace trident {

// Why a core parser refused its input, carried up to the one place that shows it: the reason in
// a few words, and for a file the line that shows it, counted from 1. That place decides what the
// user is told; the reason is for the log.
struct Error {
  std::string reason;
  std::optional<int32_t> line;

  bool operator==(const Error&) const = default;
};

}  // namespace trident
