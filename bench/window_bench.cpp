// What a frame the board takes costs the window's accessibility when no screen reader listens: the
// programming picture keeps the two counts it reads its percentage from, and nothing more.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>

#include "bench_support.h"
#include "ui/window_accessibility.h"

namespace trident {
namespace {

void BM_ProgrammingFrameUnheard(benchmark::State& state) {
  QLabel picture;
  ProgrammingProgress progress(picture);
  progress.started();
  constexpr uint32_t kTotal = 131072;  // a real firmware's size, 56 bytes a frame
  uint32_t sent = 0;
  const size_t before = bench::allocationCount();
  for (auto _ : state) {
    sent = sent < kTotal ? sent + 56 : 0;
    progress.frame(sent, kTotal);
    benchmark::ClobberMemory();
  }
  state.counters["allocations"] = static_cast<double>(bench::allocationCount() - before);
}
BENCHMARK(BM_ProgrammingFrameUnheard);

}  // namespace
}  // namespace trident

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::benchmark::Initialize(&argc, argv);
  ::benchmark::RunSpecifiedBenchmarks();
  ::benchmark::Shutdown();
  return 0;
}
