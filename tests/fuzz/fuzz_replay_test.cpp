// Every seed and every input a fuzzer found a fault with, run through its fuzz target: a target
// aborts on a broken invariant, and the sanitizer build reports memory and undefined-behaviour
// faults, so each finding stays a test after its fix.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <span>
#include <string>

#include "support/test_support.h"
#include "targets.h"

namespace trident {
namespace {

namespace fs = std::filesystem;

struct Target {
  const char* program;
  void (*run)(std::span<const uint8_t>);
};

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SeedsAndFindingsRunClean) {
  const Target& target = GetParam();
  const fs::path folders[] = {fs::path(TRIDENT_SOURCE_DIR) / "fuzz" / "corpus" / target.program,
                              fs::path(TRIDENT_FIXTURES_DIR) / "fuzz" / target.program};
  size_t replayed = 0;
  for (const fs::path& folder : folders) {
    if (!fs::is_directory(folder)) continue;
    for (const auto& entry : fs::directory_iterator(folder)) {
      // Named before it runs: an input that trips the target ends the process.
      std::cerr << "replaying " << entry.path().string() << '\n';
      const std::string bytes = testing::readFile(entry.path());
      target.run(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0u) << "no seeds for " << target.program;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         ::testing::Values(Target{"hex_loader_fuzzer", fuzz::hexLoader},
                                           Target{"release_text_fuzzer", fuzz::releaseText},
                                           Target{"parse_line_fuzzer", fuzz::parseLine},
                                           Target{"catalogue_fuzzer", fuzz::catalogue},
                                           Target{"fw_info_fuzzer", fuzz::fwInfo},
                                           Target{"update_engine_fuzzer", fuzz::updateEngine}),
                         [](const ::testing::TestParamInfo<Target>& info) {
                           return std::string(info.param.program);
                         });

}  // namespace
}  // namespace trident
