// The one firmware source that every board of a run asks, fed by a recording upstream.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <sstream>

#include "cli/firmware_source.h"
#include "support/test_support.h"

namespace trident {
namespace {

using testing::PrintTo;

struct Queue final : Executor {
  void post(std::function<void()> work) override { waiting.push_back(std::move(work)); }
  void run() {
    while (!waiting.empty()) {
      auto work = std::move(waiting.front());
      waiting.pop_front();
      work();
    }
  }
  std::deque<std::function<void()>> waiting;
};

struct Rig {
  struct Board final : FirmwareWaiter {
    Board(Rig& rig, size_t n) : rig(rig), n(n) {}
    void fetching() override { said("fetching"); }
    void releaseAccepted(std::string_view v) override { said("release " + std::string(v)); }
    void serverError(std::string_view m) override { said("error " + std::string(m)); }
    void firmwareStored(uint64_t c) override { said("firmware " + std::to_string(c)); }
    void downloadProgress(uint64_t got, uint64_t) override { said("got " + std::to_string(got)); }
    void said(const std::string& what) { rig.log(std::to_string(n) + ":" + what); }
    Rig& rig;
    size_t n;
  };
  // Asks as the update server's client does: the fetch shows itself first.
  struct Upstream final : UpdateServerPort {
    explicit Upstream(Rig& rig) : rig(rig) {}
    void fetchVariant(int64_t variant) override {
      rig.source.notices().showFetching();
      rig.log("fetch" + std::to_string(variant));
    }
    void downloadNewVerHexFile() override { rig.log("download"); }
    Rig& rig;
  };

  Rig() { source.setUpstream(std::make_unique<Upstream>(*this)); }
  void log(const std::string& what) { events += (events.empty() ? "" : " ") + what; }
  FirmwareWaiter* board(size_t n) {
    if (!boards.count(n)) return nullptr;
    return boards.at(n).get();
  }
  void ask(bool release, size_t n) {
    if (!boards.count(n)) boards[n] = std::make_unique<Board>(*this, n);
    release ? source.askRelease(n) : source.askFirmware(n);
  }

  Queue loop;
  std::map<size_t, std::unique_ptr<Board>> boards;
  FirmwareSource source{loop, [this](size_t n) { return board(n); }, "fw.hex", 1};
  std::string events;
};

// Steps: "r N" board N asks for the release, "f N" for the firmware; "V x" the release is
// accepted with version x, "E x" the server fails with x, "C n" the firmware is stored with
// checksum n, "P n" n bytes of it have come; "gone N" forgets board N; "run" runs what was posted.
struct SourceCase {
  std::string name;
  std::string steps;
  std::string events;
};

class FirmwareSourceRun : public ::testing::TestWithParam<SourceCase> {};

TEST_P(FirmwareSourceRun, AsksOnceAndAnswersEveryBoardThatWaits) {
  Rig rig;
  std::istringstream steps(GetParam().steps);
  for (std::string verb, word; steps >> verb;) {
    if (verb == "run") {
      rig.loop.run();
      continue;
    }
    steps >> word;
    if (verb == "r" || verb == "f") rig.ask(verb == "r", std::stoul(word));
    if (verb == "gone") rig.boards.erase(std::stoul(word));
    if (verb == "V") rig.source.releaseAccepted(word);
    if (verb == "E") rig.source.showErrorAlertWithMessage(word);
    if (verb == "C") rig.source.firmwareStored(std::stoull(word));
    if (verb == "P") rig.source.downloadProgress(std::stoull(word), 0);
  }
  EXPECT_EQ(rig.events, GetParam().events);
  EXPECT_EQ(rig.source.hexFile(), "fw.hex");
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FirmwareSourceRun,
    ::testing::Values(
        // The first board's question goes to the server; the others wait for its answer, and a
        // board that asks later gets it as the server's own would come: posted.
        SourceCase{"releaseOnceForAll", "r 0 r 1 V v2 r 2 run",
                   "0:fetching fetch1 0:release v2 1:release v2 2:release v2"},
        SourceCase{"firmwareOnceForAll", "f 0 f 1 P 5 C 42 f 2 run",
                   "download 0:got 5 1:got 5 0:firmware 42 1:firmware 42 2:firmware 42"},
        // An error reaches those who waited and is forgotten: the next board asks again.
        SourceCase{"errorIsForgotten", "r 0 r 1 E down r 2",
                   "0:fetching fetch1 0:error down 1:error down 2:fetching fetch1"},
        // Once the download was asked for, an error is the download's.
        // So is the download's progress.
        SourceCase{"downloadErrorReachesThoseWaitingForFirmware", "r 0 V v2 f 0 r 1 P 9 E cut run",
                   "0:fetching fetch1 0:release v2 download 0:got 9 0:error cut 1:release v2"},
        SourceCase{"goneBoardsHearNothing", "r 0 r 1 gone 0 V v2 f 1 gone 1 C 7 r 2 gone 2 run",
                   "0:fetching fetch1 1:release v2 download"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace trident
