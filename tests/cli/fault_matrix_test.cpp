// Every way an update can go wrong, end to end: trident-flash, the demo update server over FTP and
// the virtual board program. The demo's tournament image is 6000 bytes, so the board sees: 1 the
// sync sent when it is taken, 2-5 the pre-update commands (sync, 0xA6, 0xB1, 0xA2), 6 the
// transfer's sync, 7 the first transfer frame, 8-113 full data frames, 114 the last data frame
// (whose reply carries the checksum) and 115 the final command.
#include <gtest/gtest.h>

#include "flash_rig.h"

namespace trident {
namespace {

using namespace std::chrono_literals;
using testing::Flash;

struct Fault {
  const char* name;
  std::vector<std::string> board;  // the virtual board's fault options
  int exitStatus;                  // how trident-flash ends
  bool imageGood;                  // the board holds the whole image
};

void PrintTo(const Fault& f, std::ostream* os) {
  *os << f.name;
}

class BoardFaultMatrix : public Flash, public ::testing::WithParamInterface<Fault> {};

TEST_P(BoardFaultMatrix, EndsAsExpectedAndNeverCallsABadImageGood) {
  const Fault& f = GetParam();
  auto board = plug("board", f.board);
  auto run = flash({"--quiet", "--reply-timeout", "0.5"});
  const int status = run->wait(30s);
  EXPECT_EQ(status, f.exitStatus) << run->output();
  const std::string out = run->output();
  const bool saidGood = out.find("Firmware successfully updated.") != std::string::npos;
  EXPECT_EQ(saidGood, status == 0) << out;
  // Nothing is left running: a board that was not unplugged is taken away here.
  board->signal(SIGTERM);
  EXPECT_NE(board->wait(10s), -1);
  if (f.imageGood) {
    EXPECT_EQ(programmed(), testing::hexData(testing::kTournamentHex));
  } else if (status == 0) {
    ADD_FAILURE() << "an update that did not program the whole image was reported good";
  }
}

std::vector<Fault> boardFaults() {
  return {
      // Removed: after answering the frame named, the board disconnects.
      {"removedAfterTakeSync", {"--unplug-after", "1"}, 3, false},
      {"removedAfterPreUpdateSync", {"--unplug-after", "2"}, 3, false},
      {"removedAfterA6", {"--unplug-after", "3"}, 3, false},
      {"removedAfterB1", {"--unplug-after", "4"}, 3, false},
      {"removedAfterA2", {"--unplug-after", "5"}, 3, false},
      {"removedAfterTransferSync", {"--unplug-after", "6"}, 3, false},
      {"removedAfterFirstTransferFrame", {"--unplug-after", "7"}, 3, false},
      {"removedAfterADataFrame", {"--unplug-after", "50"}, 3, false},
      {"removedBeforeTheChecksumReply", {"--unplug-after", "113"}, 3, false},
      // The checksum reply came: a disconnect now is what a board starting its firmware does.
      {"removedAfterTheLastDataFrame", {"--unplug-after", "114"}, 0, true},
      {"removedAfterTheFinalCommand", {"--unplug-after", "115"}, 0, true},
      // Silent: the board stays plugged in and stops answering.
      {"silentFromTheStart", {"--silent-after", "0"}, 4, false},
      {"silentAfterTakeSync", {"--silent-after", "1"}, 4, false},
      {"silentAfterA6", {"--silent-after", "3"}, 4, false},
      {"silentAfterFirstTransferFrame", {"--silent-after", "7"}, 4, false},
      {"silentAfterADataFrame", {"--silent-after", "50"}, 4, false},
      {"silentOnTheLastDataFrame", {"--silent-after", "113"}, 4, false},
      // Replies that do not answer are passed over.
      {"staleReplies", {"--stale-replies"}, 0, true},
      {"duplicateReplies", {"--duplicate-replies"}, 0, true},
      {"staleAndDuplicateReplies", {"--stale-replies", "--duplicate-replies"}, 0, true},
      // The board programmed everything but reports another sum.
      {"wrongChecksum", {"--wrong-checksum"}, 1, true},
  };
}

INSTANTIATE_TEST_SUITE_P(Faults, BoardFaultMatrix, ::testing::ValuesIn(boardFaults()),
                         [](const auto& info) { return std::string(info.param.name); });

struct ServerFault {
  const char* name;
  std::string says;
};

void PrintTo(const ServerFault& f, std::ostream* os) {
  *os << f.name;
}

class ServerFaultMatrix : public Flash, public ::testing::WithParamInterface<ServerFault> {};

TEST_P(ServerFaultMatrix, EndsInAServerErrorWithNothingProgrammed) {
  const std::string name = GetParam().name;
  // A copy of the demo server to take things away from.
  const auto root = dir / "server";
  std::filesystem::copy(testing::kDemo, root, std::filesystem::copy_options::recursive);
  std::vector<std::string> args = {"--quiet"};
  std::unique_ptr<testing::FtpServer> ftp;
  if (name == "refused") {
    args.insert(args.end(), {"--server", "ftp://127.0.0.1:9"});
  } else {
    if (name == "missingRelease") {
      std::filesystem::remove(root /
                              "varnehex/VARNE_TRIDENT_Fighting_Board/TE/"
                              "VARNE_TRIDENT_Fighting_Board_TE.txt");
    } else if (name == "missingFirmware") {
      std::filesystem::remove(root /
                              "varnehex/VARNE_TRIDENT_Fighting_Board/TE/TRIDENT_TE_V2.1.0.hex");
    } else if (name == "missingFolder") {
      std::filesystem::remove_all(root / "varnehex");
    }
    ftp = std::make_unique<testing::FtpServer>(root);
    args.insert(args.end(), {"--server", ftp->url()});
  }
  auto board = plug();
  std::vector<std::string> argv = {testing::builtProgram("src/cli/trident-flash"), "--virtual-hid",
                                   (dir / "hid").string()};
  argv.insert(argv.end(), args.begin(), args.end());
  testing::ChildProcess run(argv);
  EXPECT_EQ(run.wait(30s), 2) << run.output();
  EXPECT_NE(run.output().find(GetParam().says), std::string::npos) << run.output();
  board->signal(SIGTERM);
  board->wait(10s);
  EXPECT_TRUE(programmed().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ServerFaultMatrix,
    ::testing::Values(ServerFault{"refused", "Failed to connect to 127.0.0.1 port 9"},
                      ServerFault{"missingRelease", "The file does not exist"},
                      ServerFault{"missingFirmware", "The file does not exist"},
                      ServerFault{"missingFolder",
                                  "Server denied you to change to the given directory"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace trident
