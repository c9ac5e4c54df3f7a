#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace trident::fuzz {

// A fuzz target returns normally on any input; a sanitizer report or a broken invariant ends the
// process. A broken invariant is a finding like a sanitizer report: say which, and stop so that
// libFuzzer keeps the input that did it.
inline void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

}  // namespace trident::fuzz
