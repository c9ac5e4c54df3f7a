// trident-flash run as a user runs it: the built program against the demo update server on
// loopback and virtual boards over their sockets. The demo's tournament image is 6000 bytes, so
// the board sees: 1 the sync sent when it is taken, 2-5 the pre-update commands (sync, 0xA6, 0xB1,
// 0xA2), 6 the transfer's sync, 7 the first transfer frame, 8-113 full data frames, 114 the last
// data frame (whose reply carries the checksum) and 115 the final command.
#include <gtest/gtest.h>

#include <csignal>
#include <numeric>

#include "support/process.h"
#include "support/test_support.h"
#include "update/servers.h"

namespace trident::testing {
namespace {

using namespace std::chrono_literals;

const std::string kDemo = TRIDENT_SOURCE_DIR "/update-server";
constexpr const char* kTournament =
    "/varnehex/VARNE_TRIDENT_Fighting_Board/TE/TRIDENT_TE_V2.1.0.hex";
const std::string kRestart = "The Setup didn't finish and will restart.";
const std::string kGood = "Firmware successfully updated.";

std::function<bool(const std::string&)> says(const std::string& text) {
  return [text](const std::string& out) { return out.find(text) != std::string::npos; };
}

class Flash : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(dir / "hid"); }
  std::unique_ptr<ChildProcess> flash(const std::vector<std::string>& args) {
    std::vector<std::string> argv{builtProgram("src/cli/trident-flash"), "--virtual-hid",
                                  (dir / "hid").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(argv);
  }
  std::vector<uint8_t> saved(const std::string& name) {
    const std::string bytes = readFile(dir / name);
    return {bytes.begin(), bytes.end()};
  }
  TempDir dir;
};

struct FlashCase {
  const char* name;
  std::vector<std::string> board;  // the virtual board's options
  // trident-flash's options after --virtual-hid (and --server, when served); LOCAL and SUM stand
  // for a HEX file objcopy wrote and its checksum.
  std::vector<std::string> args;
  const char* served;  // nullptr: no server; "": the demo server; else the demo without this file
  int status;
  std::vector<std::string> output;  // found in what trident-flash writes
  const char* image = nullptr;  // what the board holds: a demo HEX file's bytes, LOCAL, "" nothing,
                                // or nullptr for a part of it
};

void PrintTo(const FlashCase& run, std::ostream* os) {
  *os << run.name;
}

class FlashRun : public Flash, public ::testing::WithParamInterface<FlashCase> {};

// Every way a run ends: the exit status, what it says, what the board holds. An update that did
// not program the whole image is never called good, and bad usage never reaches the board.
TEST_P(FlashRun, EndsWithItsStatusAndSaysWhy) {
  const FlashCase& r = GetParam();
  const auto data = randomBytes(12345, 3);
  const auto local = objcopyHex(dir, data);
  std::vector<std::string> args = {"--save-image", (dir / "board.bin").string()};
  args.insert(args.end(), r.board.begin(), r.board.end());
  auto board = plugBoard(dir / "hid", args);
  std::unique_ptr<FtpServer> server;
  args.clear();
  if (r.served) {
    const auto root = dir / "server";
    std::filesystem::copy(kDemo, root, std::filesystem::copy_options::recursive);
    if (*r.served) std::filesystem::remove_all(root / r.served);
    server = std::make_unique<FtpServer>(root);
    args = {"--server", server->url()};
  }
  args.push_back("--reply-timeout");
  args.push_back("0.5");
  for (auto arg : r.args)
    args.push_back(arg == "LOCAL" ? local.string()
                   : arg == "SUM"
                       ? strprintf("0x%04x", std::accumulate(data.begin(), data.end(), 0u) & 0xFFFF)
                       : arg);
  auto run = flash(args);
  const int status = run->wait(30s);
  const std::string out = run->output();
  EXPECT_EQ(status, r.status) << out;
  for (const auto& text : r.output) {
    EXPECT_NE(out.find(text), std::string::npos) << text << " not in:\n" << out;
  }
  if (status != 0) {
    EXPECT_EQ(out.find(kGood), std::string::npos) << out;
  }
  const bool quiet = std::count(args.begin(), args.end(), "-q") > 0;
  EXPECT_EQ(out.find("\nsend to hidc:\n") != std::string::npos, !quiet && status < 64);
  board->signal(SIGTERM);
  EXPECT_NE(board->wait(10s), -1);
  if (status == 64) {
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(board->output().find(" frames;"), std::string::npos) << board->output();
  }
  if (!r.image) return;
  const std::string image = r.image;
  EXPECT_EQ(saved("board.bin"), image == "LOCAL" ? data
                                : image.empty()  ? std::vector<uint8_t>{}
                                                 : hexData(dir, kDemo + image));
}

constexpr const char* kStandard = "/varnehex/VARNE_TRIDENT_Fighting_Board/TRIDENT_V2.1.0.hex";
constexpr const char* kRelease =
    "varnehex/VARNE_TRIDENT_Fighting_Board/TE/VARNE_TRIDENT_Fighting_Board_TE.txt";
const std::string kSilent = "trident-flash: the board stopped answering (no reply to frame ";
const std::string kCheck =
    "--checksum takes the board's checksum as 0x and four hex digits (e.g. 0x1234), not ";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Runs, FlashRun, ::testing::ValuesIn(std::vector<FlashCase>{
    // Updated, from the server or from a local file. Replies that do not answer are passed over;
    // a disconnect once the checksum reply came is what a board starting its firmware does.
    {"tournament", {}, {}, "", 0, {"IOHIDManager打开成功", "VID：0416 PID : 3F00",
        "The lastest version: V2.1.0", "progress 100%  6000/6000 bytes", kGood,
        "\nsend to hidc:\na4000000010000000100", "iStatus = STATUS_WAIT_CHECKSUM"}, kTournament},
    {"standard", {}, {"--variant", "standard", "-q"}, "", 0, {kGood}, kStandard},
    {"localFile", {}, {"--hex", "LOCAL", "--checksum", "SUM", "-q"}, nullptr, 0,
        {"The lastest version: image.hex", kGood}, "LOCAL"},
    {"staleReplies", {"--stale-replies"}, {"-q"}, "", 0, {kGood}, kTournament},
    {"duplicateReplies", {"--duplicate-replies"}, {"-q"}, "", 0, {kGood}, kTournament},
    {"staleAndDuplicate", {"--stale-replies", "--duplicate-replies"}, {"-q"}, "", 0, {kGood},
        kTournament},
    {"removedAfterTheLastDataFrame", {"--unplug-after", "114"}, {"-q"}, "", 0, {kGood}, kTournament},
    {"removedAfterTheFinalCommand", {"--unplug-after", "115"}, {"-q"}, "", 0, {kGood}, kTournament},
    // The board programmed everything but reports another sum.
    {"wrongChecksum", {"--wrong-checksum"}, {"-q"}, "", 1, {kRestart}, kTournament},
    // Server, release and firmware file faults program nothing.
    {"serverDown", {}, {"-q", "--server", "ftp://127.0.0.1:9"}, nullptr, 2,
        {"trident-flash: Failed to connect to 127.0.0.1 port 9"}, ""},
    {"missingRelease", {}, {"-q"}, kRelease, 2, {"trident-flash: The file does not exist"}, ""},
    {"missingFirmware", {}, {"-q"}, kTournament + 1, 2, {"The file does not exist"}, ""},
    {"missingFolder", {}, {"-q"}, "varnehex", 2,
        {"trident-flash: Server denied you to change to the given directory"}, ""},
    {"missingLocalFile", {}, {"-q", "--hex", "missing.hex", "--checksum", "0x1234"}, nullptr, 2,
        {"trident-flash: cannot read missing.hex"}, ""},
    // Removed after answering the frame named: before the transfer nothing is programmed.
    {"removedAfterTakeSync", {"--unplug-after", "1"}, {"-q"}, "", 3, {kRestart}, ""},
    {"removedAfterPreUpdateSync", {"--unplug-after", "2"}, {"-q"}, "", 3, {kRestart}, ""},
    {"removedAfterA6", {"--unplug-after", "3"}, {"-q"}, "", 3, {kRestart}, ""},
    {"removedAfterB1", {"--unplug-after", "4"}, {"-q"}, "", 3, {kRestart}, ""},
    {"removedAfterA2", {"--unplug-after", "5"}, {"-q"}, "", 3, {kRestart}, ""},
    {"removedAfterTransferSync", {"--unplug-after", "6"}, {"-q"}, "", 3, {kRestart}, ""},
    {"removedAfterFirstTransferFrame", {"--unplug-after", "7"}, {"-q"}, "", 3, {kRestart}},
    {"removedAfterADataFrame", {"--unplug-after", "50"}, {"-q"}, "", 3, {kRestart}},
    {"removedBeforeTheChecksumReply", {"--unplug-after", "113"}, {"-q"}, "", 3, {kRestart}},
    // Silent: the board stays plugged in and stops answering. The frame named is the packet
    // number of the frame left unanswered.
    {"silentFromTheStart", {"--silent-after", "0"}, {"-q"}, "", 4, {kSilent}, ""},
    {"silentAfterTakeSync", {"--silent-after", "1"}, {"-q"}, "", 4, {kSilent + "1)"}, ""},
    {"silentAfterA6", {"--silent-after", "3"}, {"-q"}, "", 4, {kSilent + "5)"}, ""},
    {"silentAfterFirstTransferFrame", {"--silent-after", "7"}, {"-q"}, "", 4, {kSilent + "5)"}},
    {"silentAfterADataFrame", {"--silent-after", "50"}, {"-q"}, "", 4, {kSilent + "91)"}},
    {"silentOnTheLastDataFrame", {"--silent-after", "113"}, {"-q"}, "", 4, {kSilent + "217)"}},
    // Only a mouse is plugged in.
    {"noBootloader", {"--vid", "046d"}, {"-q", "--wait", "0.3"}, nullptr, 4,
        {"trident-flash: no bootloader appeared in time"}, ""},
    // Bad usage: one line naming it.
    {"unknownOption", {}, {"--frobnicate"}, nullptr, 64,
        {"trident-flash: unknown option --frobnicate (see trident-flash --help)"}, ""},
    {"unknownVariant", {}, {"--variant", "turbo"}, nullptr, 64,
        {"--variant takes tournament or standard, not turbo"}, ""},
    {"hexWithoutChecksum", {}, {"--hex", "LOCAL"}, nullptr, 64,
        {"--hex and --checksum go together"}, ""},
    {"shortChecksum", {}, {"--hex", "LOCAL", "--checksum", "0x12"}, nullptr, 64,
        {kCheck + "0x12 "}, ""},
    {"nonHexChecksum", {}, {"--hex", "LOCAL", "--checksum", "0xzz34"}, nullptr, 64,
        {kCheck + "0xzz34 "}, ""},
    {"gopherServer", {}, {"--server", "gopher://127.0.0.1"}, nullptr, 64,
        {"--server takes an ftp://, ftps://, http:// or https:// URL: gopher://127.0.0.1"}, ""},
    {"wordyTimeout", {}, {"--reply-timeout", "soon"}, nullptr, 64,
        {"--reply-timeout takes a number of seconds, not soon"}, ""},
    {"zeroTimeout", {}, {"--reply-timeout", "0"}, nullptr, 64,
        {"--reply-timeout takes a number of seconds, not 0"}, ""},
    {"waitWithoutValue", {}, {"--wait"}, nullptr, 64, {"trident-flash: --wait needs a value"}, ""},
    {"helpOverrulesTheRest", {}, {"-q", "--help", "--checksum", "0x12"}, nullptr, 0,
        {"usage: trident-flash", "130 interrupted."}, ""},
}), [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// With --loop, one board after another, each with its own verdict line, until interrupted. Each
// board comes once the tool says it waits for one.
TEST_F(Flash, LoopUpdatesOneBoardAfterAnother) {
  FtpServer server(kDemo);
  auto run = flash({"--server", server.url(), "--loop", "--quiet"});
  for (const std::string board : {"1", "2"}) {
    ASSERT_TRUE(run->waitForOutput(
        [](const std::string& out) {
          return out.ends_with("Waiting for the board: hold its button while plugging it in...\n");
        },
        within(30s)))
        << run->output();
    EXPECT_EQ(plugBoard(dir / "hid", {"--name", board, "--save-image", (dir / board).string()})
                  ->wait(30s),
              0);
    EXPECT_EQ(saved(board), hexData(dir, kDemo + kTournament));
  }
  EXPECT_TRUE(run->waitForOutput(
      [](const std::string& out) {
        const auto first = out.find("\nboard 1: " + kGood + " (V2.1.0, ");
        return first != std::string::npos &&
               out.find(": " + kGood + " (V2.1.0, ", first + 10) != std::string::npos;
      },
      within(30s)))
      << run->output();
  run->signal(SIGINT);
  EXPECT_EQ(run->wait(10s), 130);
}

TEST_F(Flash, InterruptedBetweenFramesEndsCleanly) {
  const auto data = randomBytes(200000, 8);
  auto board = plugBoard(dir / "hid", {"--reply-delay-ms", "1"});
  auto run = flash({"--hex", objcopyHex(dir, data).string(), "--checksum", "0x1234", "--quiet"});
  ASSERT_TRUE(run->waitForOutput(says("progress  10%"), within(30s))) << run->output();
  run->signal(SIGINT);
  EXPECT_EQ(run->wait(10s), 130) << run->output();
  EXPECT_NE(run->output().find("trident-flash: interrupted"), std::string::npos);
}

}  // namespace
}  // namespace trident::testing
