#pragma once

#include <cstdio>
#include <cstdlib>

namespace trident::fuzz {

// A broken invariant is a finding like a sanitizer report: say which, and stop so that libFuzzer
// keeps the input that did it.
inline void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

}  // namespace trident::fuzz
