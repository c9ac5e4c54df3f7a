// A whole multi-family catalogue text: every line is tried against all 24 families' keys and read
// with the layout of each family it names.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "records/upg_txt.h"
#include "targets.h"

namespace trident::fuzz {

void catalogue(std::span<const uint8_t> input) {
  NullDiagnostics diag;
  const UpgTxtViewModel catalogue(
      UpgTxtModel(std::string(reinterpret_cast<const char*>(input.data()), input.size())),
      "ftp://127.0.0.1:2121", diag);
  for (size_t type = 0; type < kParseTyepCount; ++type) {
    const auto& slot = catalogue.slots()[type];
    if (!slot) continue;
    check(slot->parseType() == static_cast<int64_t>(type), "slot n holds family n");
    check(slot->parseLine().has_value(), "a filled slot came from a line");
  }
}

}  // namespace trident::fuzz
