#pragma once

#include <atomic>
#include <cstddef>

namespace trident::bench {

// Heap allocations made by this process so far (the benchmarks replace the global operator new).
size_t allocationCount();

}  // namespace trident::bench
