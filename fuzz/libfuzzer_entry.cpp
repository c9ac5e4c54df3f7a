// One libFuzzer program per target: TRIDENT_FUZZ_TARGET names the function in targets.h.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  trident::fuzz::TRIDENT_FUZZ_TARGET(std::span<const uint8_t>(data, size));
  return 0;
}
