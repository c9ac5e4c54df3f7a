// trident-flash run as a user runs it: the built program against the demo update server on
// loopback and virtual boards over their sockets.
#include <gtest/gtest.h>

#include <csignal>
#include <numeric>

#include "flash_rig.h"

namespace trident {
namespace {

using namespace std::chrono_literals;
using testing::checksumText;
using testing::ChildProcess;
using testing::Flash;
using testing::hexData;
using testing::kStandardHex;
using testing::kTournamentHex;
using testing::within;

TEST_F(Flash, UpdatesABoardFromTheServer) {
  auto board = plug();
  auto run = flash({});
  EXPECT_EQ(run->wait(30s), 0) << run->output();
  EXPECT_EQ(board->wait(), 0);
  EXPECT_EQ(programmed(), hexData(kTournamentHex));
  const std::string out = run->output();
  EXPECT_NE(out.find("The lastest version: V2.1.0"), std::string::npos);
  EXPECT_NE(out.find("progress 100%  6000/6000 bytes"), std::string::npos);
  EXPECT_NE(out.find("Firmware successfully updated."), std::string::npos);
  // Without --quiet the protocol trace and the log come along.
  EXPECT_NE(out.find("\nsend to hidc:\na4000000010000000100"), std::string::npos);
  EXPECT_NE(out.find("iStatus = STATUS_WAIT_CHECKSUM"), std::string::npos);
}

TEST_F(Flash, StandardVariantAndQuietRun) {
  auto board = plug();
  auto run = flash({"--variant", "standard", "--quiet"});
  EXPECT_EQ(run->wait(30s), 0) << run->output();
  EXPECT_EQ(programmed(), hexData(kStandardHex));
  EXPECT_EQ(run->output().find("send to hidc"), std::string::npos);
}

TEST_F(Flash, ProgramsALocalFileWrittenByObjcopy) {
  const auto data = testing::randomBytes(12345, 3);
  const auto hex = testing::objcopyHex(dir, data);
  auto board = plug();
  auto run = flash({"--hex", hex.string(), "--checksum", checksumText(data), "--quiet"}, false);
  EXPECT_EQ(run->wait(30s), 0) << run->output();
  EXPECT_EQ(programmed(), data);
}

struct FailureCase {
  const char* name;
  std::vector<std::string> boardFaults;
  std::vector<std::string> flashArgs;
  int exitStatus;
  const char* says;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class FlashFailure : public Flash, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FlashFailure, EndsWithItsExitStatus) {
  const auto& c = GetParam();
  auto board = plug("board", c.boardFaults);
  std::vector<std::string> args = {"--quiet"};
  args.insert(args.end(), c.flashArgs.begin(), c.flashArgs.end());
  auto run = flash(args);
  EXPECT_EQ(run->wait(30s), c.exitStatus) << run->output();
  EXPECT_NE(run->output().find(c.says), std::string::npos) << run->output();
}

INSTANTIATE_TEST_SUITE_P(Boards, FlashFailure,
                         ::testing::Values(FailureCase{"wrongChecksum",
                                                       {"--wrong-checksum"},
                                                       {},
                                                       1,
                                                       "The Setup didn't finish and will restart."},
                                           FailureCase{"removedMidTransfer",
                                                       {"--unplug-after", "40"},
                                                       {},
                                                       3,
                                                       "The Setup didn't finish and will restart."},
                                           FailureCase{"silentBoard",
                                                       {"--silent-after", "30"},
                                                       {"--reply-timeout", "0.3"},
                                                       4,
                                                       "the board stopped answering"},
                                           FailureCase{"serverDown",
                                                       {},
                                                       {"--server", "ftp://127.0.0.1:9"},
                                                       2,
                                                       "Failed to connect to 127.0.0.1 port 9"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Flash, NoBootloaderWithinTheWaitIsATimeOut) {
  auto run = flash({"--wait", "0.3", "--quiet"}, false);
  EXPECT_EQ(run->wait(10s), 4) << run->output();
  EXPECT_NE(run->output().find("no bootloader appeared in time"), std::string::npos);
}

TEST_F(Flash, BadUsageSendsNothingToTheBoard) {
  const auto hex = testing::objcopyHex(dir, testing::randomBytes(100, 1));
  auto board = plug();
  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{"--frobnicate"}, 64},
      {{"--variant", "turbo"}, 64},
      {{"--hex", hex.string()}, 64},
      {{"--hex", hex.string(), "--checksum", "0x12"}, 64},
      {{"--hex", hex.string(), "--checksum", "0xzz34"}, 64},
      {{"--server", "gopher://127.0.0.1"}, 64},
      {{"--reply-timeout", "soon"}, 64},
      {{"--hex", (dir / "missing.hex").string(), "--checksum", "0x1234"}, 2},
  };
  for (const auto& [args, status] : cases) {
    auto run = flash(args, false);
    EXPECT_EQ(run->wait(10s), status) << args.front() << ": " << run->output();
    const std::string out = run->output();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;  // one line naming it
  }
  // The board never saw a host: it is still waiting for one when it is taken away.
  board->signal(SIGTERM);
  EXPECT_EQ(board->wait(), 130) << board->output();
}

TEST_F(Flash, LoopUpdatesOneBoardAfterAnother) {
  auto run = flash({"--loop", "--quiet"});
  auto first = plug("first");
  EXPECT_EQ(first->wait(30s), 0);
  ASSERT_TRUE(run->waitForOutput(
      [](const std::string& out) { return out.find("board 1: ") != std::string::npos; },
      within(30s)));
  auto second = plug("second");
  EXPECT_EQ(second->wait(30s), 0);
  ASSERT_TRUE(run->waitForOutput(
      [](const std::string& out) { return out.find("board 2: ") != std::string::npos; },
      within(30s)));
  run->signal(SIGINT);
  EXPECT_EQ(run->wait(10s), 130);
  EXPECT_EQ(programmed("first"), hexData(kTournamentHex));
  EXPECT_EQ(programmed("second"), hexData(kTournamentHex));
  EXPECT_NE(run->output().find("board 1: Firmware successfully updated. (V2.1.0"),
            std::string::npos);
}

TEST_F(Flash, InterruptedBetweenFramesEndsCleanly) {
  const auto data = testing::randomBytes(200000, 8);
  const auto hex = testing::objcopyHex(dir, data);
  auto board = plug("board", {"--reply-delay-ms", "1"});
  auto run = flash({"--hex", hex.string(), "--checksum", checksumText(data), "--quiet"}, false);
  ASSERT_TRUE(run->waitForOutput(
      [](const std::string& out) { return out.find("progress  10%") != std::string::npos; },
      within(30s)));
  run->signal(SIGINT);
  EXPECT_EQ(run->wait(10s), 130) << run->output();
  EXPECT_NE(run->output().find("interrupted"), std::string::npos);
}

}  // namespace
}  // namespace trident
