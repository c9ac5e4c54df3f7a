// What the host itself costs: decoding the largest firmware file, driving the largest transfer,
// checking a release (its signature, and the hash of the largest firmware download), and keeping
// the record of an update (a --json progress line, a line of the update history).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "board_simulator.h"
#include "cli/json_lines.h"
#include "cli/update_history.h"
#include "engine/hex_loader.h"
#include "engine/update_engine.h"
#include "update/release_signature.h"

namespace trident {
namespace {

namespace fs = std::filesystem;

// The largest image the bootloader takes, as objcopy writes it (16-byte records, CRLF).
const fs::path& largestHexFile() {
  static const fs::path file = [] {
    const fs::path dir = fs::temp_directory_path() / "trident-bench";
    fs::create_directories(dir);
    const fs::path bin = dir / "largest.bin";
    const fs::path hex = dir / "largest.hex";
    std::vector<char> data(kMaxImageBytes);
    std::mt19937 random(42);
    for (auto& b : data)
      b = static_cast<char>(random());
    std::ofstream(bin, std::ios::binary).write(data.data(), static_cast<long>(data.size()));
    const std::string cmd =
        "objcopy -I binary -O ihex '" + bin.string() + "' '" + hex.string() + "'";
    if (std::system(cmd.c_str()) != 0) std::abort();
    return hex;
  }();
  return file;
}

void BM_LoadLargestHexFile(benchmark::State& state) {
  const fs::path& hex = largestHexFile();
  NullDiagnostics diag;
  size_t allocations = 0;
  for (auto _ : state) {
    HexImage image;
    int32_t lineNO = 0;
    const size_t before = bench::allocationCount();
    readHexImage(hex, image, lineNO, diag);
    allocations = bench::allocationCount() - before;
    benchmark::DoNotOptimize(image.bytes.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(hex)));
  state.counters["allocations"] = static_cast<double>(allocations);
}
BENCHMARK(BM_LoadLargestHexFile)->Unit(benchmark::kMillisecond);

// The same file through GNU objcopy, the usual tool for the job (process start included).
void BM_ObjcopyLargestHexFile(benchmark::State& state) {
  const fs::path& hex = largestHexFile();
  const std::string cmd = "objcopy -I ihex -O binary '" + hex.string() + "' '" +
                          (hex.parent_path() / "objcopy.bin").string() + "'";
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("objcopy failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(hex)));
}
BENCHMARK(BM_ObjcopyLargestHexFile)->Unit(benchmark::kMillisecond)->UseRealTime();

struct NullWindow final : NullWindowPort {
  void showUpdateResult(bool ok) override { success = ok; }
  bool success = false;
};

struct BoardLink final : ReportPort {
  void writeReport(const Frame& frame) override {
    ++frames;
    auto response = board.receive(frame.data(), frame.size());
    for (const auto& r : response.replies)
      pending.push_back(r);
  }
  // Hands the board's replies to the engine, as the main loop would, until none is left.
  void answerUntilDone(UpdateEngine& engine) {
    while (!pending.empty()) {
      const Frame reply = pending.front();
      pending.pop_front();
      engine.InputReportCallback(reply.data(), reply.size());
    }
  }
  BoardSimulator board;
  std::deque<Frame> pending;
  size_t frames = 0;
};

void reportPerFrame(benchmark::State& state, size_t frames) {
  state.counters["frames"] = static_cast<double>(frames);
  state.counters["per_frame"] =
      benchmark::Counter(static_cast<double>(frames) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The firmware file as the engine finds it after a download.
fs::path storedFirmware() {
  const fs::path tmpHex = largestHexFile().parent_path() / "tmp.hex";
  fs::copy_file(largestHexFile(), tmpHex, fs::copy_options::overwrite_existing);
  return tmpHex;
}

// A whole largest-image update after the download: load, pre-update, transfer, verdict. The
// board's side runs in the same loop, so the figure is an upper bound on the engine's share.
void BM_LargestUpdatePerFrame(benchmark::State& state) {
  const fs::path tmpHex = storedFirmware();
  size_t frames = 0;
  for (auto _ : state) {
    NullDiagnostics diag;
    NullWindow window;
    NullUpdateServerPort server;
    BoardLink link;
    UpdateEngine engine({link, window, server, diag}, tmpHex);
    engine.SyncOnTake();
    link.pending.clear();
    engine.releaseAccepted("bench");
    state.PauseTiming();
    HexImage warm;  // keep the file in the page cache, out of the timing
    int32_t n = 0;
    readHexImage(tmpHex, warm, n, diag);
    state.ResumeTiming();
    engine.firmwareStored(0);
    link.answerUntilDone(engine);
    frames = link.frames;
    benchmark::DoNotOptimize(window.success);
  }
  reportPerFrame(state, frames);
}
BENCHMARK(BM_LargestUpdatePerFrame)->Unit(benchmark::kMillisecond);

// The transfer alone, with the image already loaded: the per-frame cost of the engine's loop.
void BM_TransferFramesOnly(benchmark::State& state) {
  const fs::path tmpHex = storedFirmware();
  size_t frames = 0;
  for (auto _ : state) {
    state.PauseTiming();
    NullDiagnostics diag;
    NullWindow window;
    NullUpdateServerPort server;
    BoardLink link;
    UpdateEngine engine({link, window, server, diag}, tmpHex);
    engine.releaseAccepted("bench");
    engine.firmwareStored(0);
    const size_t before = link.frames;
    state.ResumeTiming();
    link.answerUntilDone(engine);
    frames = link.frames - before;
  }
  reportPerFrame(state, frames);
}
BENCHMARK(BM_TransferFramesOnly)->Unit(benchmark::kMillisecond);

// The SHA-256 of the largest firmware file the client accepts, computed on the transfer's thread
// before the file is written.
void BM_HashLargestFirmwareDownload(benchmark::State& state) {
  std::ifstream in(largestHexFile(), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto _ : state)
    benchmark::DoNotOptimize(sha256Hex(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_HashLargestFirmwareDownload)->Unit(benchmark::kMillisecond);

// The demo release's signature checked against the demo key, read and verified as the client does.
void BM_CheckReleaseSignature(benchmark::State& state) {
  const auto read = [](const std::string& name) {
    std::ifstream in(TRIDENT_SOURCE_DIR "/update-server/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  const std::string release =
      "varnehex/VARNE_TRIDENT_Fighting_Board/TE/VARNE_TRIDENT_Fighting_Board_TE.txt";
  const std::string text = read(release), signature = read(release + ".minisig");
  Error why;
  const auto key = readReleaseKey(read("demo-release-key.pub"), why);
  const std::string name = "VARNE_TRIDENT_Fighting_Board_TE.txt";
  if (!key || checkReleaseSignature(*key, signature, text, name).refusal) std::abort();
  for (auto _ : state)
    benchmark::DoNotOptimize(checkReleaseSignature(*key, signature, text, name));
}
BENCHMARK(BM_CheckReleaseSignature)->Unit(benchmark::kMicrosecond);

// One --json progress event, written and flushed as trident-flash writes it (at most ten a second
// per board).
void BM_JsonProgressLine(benchmark::State& state) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen("/dev/null", "w"), &std::fclose);
  JsonLines lines(out.get());
  const nlohmann::ordered_json fields{{"board", "/dev/hidraw3 (TRIDENT-0001)"},
                                      {"path", "/dev/hidraw3"},
                                      {"serial", "TRIDENT-0001"},
                                      {"sent", 14336},
                                      {"total", 32768}};
  for (auto _ : state)
    lines.write("progress", fields);
}
BENCHMARK(BM_JsonProgressLine)->Unit(benchmark::kMicrosecond);

// One update's line appended to the history: opened, written in one go and closed, as each
// verdict does.
void BM_AppendHistoryLine(benchmark::State& state) {
  const fs::path file = fs::temp_directory_path() / "trident-bench" / "history.jsonl";
  fs::remove(file);
  UpdateHistory history(file, "trident-flash", [](const std::string&) {});
  BoardRecord record;
  record.name = "/dev/hidraw3 (TRIDENT-0001)";
  record.path = "/dev/hidraw3";
  record.serial = "TRIDENT-0001";
  record.outcome = FlashOutcome::Updated;
  record.version = "V2.1.0";
  record.firmwareSha256 = std::string(64, 'd');
  record.expectedChecksum = record.reportedChecksum = 0x53BD;
  for (auto _ : state)
    history.add(record, "tournament");
  fs::remove(file);
}
BENCHMARK(BM_AppendHistoryLine)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace trident

BENCHMARK_MAIN();
