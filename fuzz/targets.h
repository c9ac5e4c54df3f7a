#pragma once

#include <cstdint>
#include <span>

// The fuzz targets' bodies. libfuzzer_entry.cpp makes each a libFuzzer program; the test suite
// replays the seeds and every input a fuzzer ever found through the same functions, so a fixed
// finding stays fixed in the normal build. A target returns normally on any input; a sanitizer
// report or a broken invariant (check() in fuzz_check.h) ends the process.
namespace trident::fuzz {

void hexLoader(std::span<const uint8_t> input);
void releaseText(std::span<const uint8_t> input);
void parseLine(std::span<const uint8_t> input);
void catalogue(std::span<const uint8_t> input);
void fwInfo(std::span<const uint8_t> input);
void updateEngine(std::span<const uint8_t> input);

}  // namespace trident::fuzz
