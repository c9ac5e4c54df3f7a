// One program per fuzz target: TRIDENT_FUZZ_TARGET names its function. Built with libFuzzer it
// fuzzes; built without, it runs each file in the folders it is given once, as libFuzzer does
// with -runs=0: the test suite replays the seeds and the findings through it.
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <span>
#include <string>

#include "support/test_support.h"

namespace trident::fuzz {
void TRIDENT_FUZZ_TARGET(std::span<const uint8_t> input);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  trident::fuzz::TRIDENT_FUZZ_TARGET(std::span<const uint8_t>(data, size));
  return 0;
}

#ifndef TRIDENT_LIBFUZZER
int main(int argc, char** argv) {
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;  // an option for libFuzzer
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      // Named before it runs: an input that trips the target ends the process.
      std::cerr << "replaying " << entry.path().string() << '\n';
      const std::string bytes = trident::testing::readFile(entry.path());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++replayed;
    }
  }
  return replayed > 0 ? 0 : 1;
}
#endif
