// trident-flash run as a user runs it: the built program against the demo update server on
// loopback and virtual boards over their sockets. The demo's tournament image is 6000 bytes, so
// the board sees: 1 the sync sent when it is taken, 2-5 the pre-update commands (sync, 0xA6, 0xB1,
// 0xA2), 6 the transfer's sync, 7 the first transfer frame, 8-113 full data frames, 114 the last
// data frame (whose reply carries the checksum) and 115 the final command.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <map>
#include <nlohmann/json.hpp>
#include <numeric>
#include <set>
#include <sstream>

#include "support/process.h"
#include "support/test_support.h"
#include "update/servers.h"

namespace trident::testing {
namespace {

using testing::PrintTo;

using namespace std::chrono_literals;
using ::testing::HasSubstr;

const std::string kDemo = TRIDENT_SOURCE_DIR "/update-server";
const std::string kBoardDir = "varnehex/VARNE_TRIDENT_Fighting_Board/";
const std::string kTournament = kBoardDir + "TE/TRIDENT_TE_V2.1.0.hex";
const std::string kStandard = kBoardDir + "TRIDENT_V2.1.0.hex";
const std::string kTournamentRelease = kBoardDir + "TE/VARNE_TRIDENT_Fighting_Board_TE.txt";
const std::string kTournamentSignature = kTournamentRelease + ".minisig";
const std::string kGood = "Firmware successfully updated.";
const std::string kRestart = "The Setup didn't finish and will restart.";
const std::string kSilent =
    "trident-flash: Error: The board stopped answering. Unplug it, hold its button and plug it in "
    "again.";
const std::string kSilentLog = "The board stopped answering (no reply to frame ";

// What a board program saved: it writes the image once the final command came, which may be a
// moment after trident-flash has written that command and ended.
std::string savedImage(const std::filesystem::path& file, size_t size) {
  std::error_code ignored;
  waitFor([&] { return std::filesystem::file_size(file, ignored) == size; }, 10s);
  return readFile(file);
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// trident-flash on the virtual boards in `dir`/hid, with `dir`/tmp as its temporary folder and
// `dir`/state as the user's state folder (the update history's) unless `args` holds a TMPDIR=... or
// an XDG_STATE_HOME=...; LOCAL, DAMAGED, EMPTY and FIFO in `args` stand for `dir`/image.hex,
// damaged.hex, empty.hex and fifo (nobody reads it), and /dev/stdin is image.hex through a pipe.
std::unique_ptr<ChildProcess> flash(const TempDir& dir, const std::string& args) {
  std::filesystem::create_directories(dir / "tmp");
  auto argv = words("/usr/bin/env TMPDIR=" + (dir / "tmp").string() + " XDG_STATE_HOME=" +
                    (dir / "state").string() + " " + builtProgram("src/cli/trident-flash") +
                    " --virtual-hid " + (dir / "hid").string() + " " + args);
  std::stable_partition(argv.begin() + 3, argv.end(),
                        [](auto& w) { return w.starts_with("TMP") || w.starts_with("XDG_"); });
  for (auto& word : argv)
    for (const auto& [name, file] : std::map<std::string, std::string>{{"LOCAL", "image.hex"},
                                                                       {"DAMAGED", "damaged.hex"},
                                                                       {"EMPTY", "empty.hex"},
                                                                       {"FIFO", "fifo"}})
      if (const size_t at = word.find(name); at != std::string::npos)
        word.replace(at, name.size(), (dir / file).string());
  if (args.find("/dev/stdin") != std::string::npos)
    argv.insert(argv.begin(),
                {"/bin/bash", "-c", "exec \"$@\" < <(cat \"$0\")", (dir / "image.hex").string()});
  return std::make_unique<ChildProcess>(argv);
}

struct FlashCase {
  std::string name;
  std::string board;   // the virtual board's options
  std::string args;    // trident-flash's, after --virtual-hid (and --server when served)
  const char* served;  // nullptr: no server; "": the demo server; else the demo without this path
  int status;
  std::vector<std::string> says;  // found in what trident-flash writes
  // The demo HEX file whose bytes the board holds; "": nothing; nullptr: a part, unchecked.
  const char* image = nullptr;
};

class FlashRun : public ::testing::TestWithParam<FlashCase> {};

// Every way a run ends: the exit status, what it says, what the board holds. An update that did
// not program the whole image is never called good, bad usage never reaches the board, and the
// tool leaves nothing behind in the temporary folder.
TEST_P(FlashRun, EndsWithItsStatusAndSaysWhy) {
  const FlashCase& r = GetParam();
  TempDir dir;
  auto board =
      plugBoard(dir / "hid", words("--save-image " + (dir / "board.bin").string() + " " + r.board));
  std::unique_ptr<FtpServer> server;
  std::string args = "--reply-timeout 0.5 " + r.args;
  if (r.served) {
    std::filesystem::copy(kDemo, dir / "server", std::filesystem::copy_options::recursive);
    if (*r.served) std::filesystem::remove_all(dir / "server" / r.served);
    server = std::make_unique<FtpServer>(dir / "server");
    args = "--server " + server->url() + " " + args;
  }
  const std::string local = hexData(dir, kDemo + "/" + kTournament);
  const std::string hex = readFile(objcopyHex(dir, {local.begin(), local.end()}));
  // The same file with its second and third records swapped: every record sound, the order not.
  const size_t second = hex.find('\n') + 1, third = hex.find('\n', second) + 1,
               fourth = hex.find('\n', third) + 1;
  writeFile(dir / "damaged.hex", hex.substr(0, second) + hex.substr(third, fourth - third) +
                                     hex.substr(second, third - second) + hex.substr(fourth));
  writeFile(dir / "empty.hex", ":00000001FF\r\n");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  auto run = flash(dir, args);
  const int status = run->wait(30s);
  const std::string out = run->output();
  EXPECT_EQ(status, r.status) << out;
  for (const auto& text : r.says)
    EXPECT_THAT(out, HasSubstr(text));
  EXPECT_TRUE(status == 0 || out.find(kGood) == std::string::npos) << out;
  EXPECT_LE(occurrences(out, "The board stopped answering"), 2u)
      << out;  // the log's line, the alert
  EXPECT_EQ(out.find("\nsend to hidc:\n") != std::string::npos,
            r.args.find("-q") == std::string::npos && status < 64);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));  // its working folder is gone
  board->signal(SIGTERM);
  EXPECT_NE(board->wait(10s), -1);
  EXPECT_TRUE(status != 64 || (std::count(out.begin(), out.end(), '\n') == 1 &&
                               board->output().find(" frames;") == std::string::npos))
      << out << board->output();
  if (r.image) {
    EXPECT_EQ(readFile(dir / "board.bin"), *r.image ? hexData(dir, kDemo + "/" + r.image) : "");
  }
}

std::vector<FlashCase> runs() {
  const char* tournament = kTournament.c_str();
  // clang-format off
  std::vector<FlashCase> runs{
    // Updated, from the server or from a local file. Replies that do not answer are passed over.
    {"tournament", "", "", "", 0, {"IOHIDManager打开成功", "VID：0416 PID : 3F00",
        "The lastest version: V2.1.0", "Downloading the firmware...",
        "progress 100%  6000/6000 bytes", kGood,
        "\nsend to hidc:\na4000000010000000100", "iStatus = STATUS_WAIT_CHECKSUM"}, tournament},
    {"standard", "", "--variant standard -q", "", 0, {kGood}, kStandard.c_str()},
    // With a TMPDIR that names no folder, or a plain file, its working folder is made in /tmp.
    {"localFile", "", "TMPDIR=/nonexistent --hex LOCAL --checksum 0xBd53 -q", nullptr, 0,
        {"The lastest version: image.hex", kGood}, tournament},
    {"tmpdirAPlainFile", "", "TMPDIR=EMPTY -q", "", 0, {kGood}, tournament},
    // A report or an update history that cannot be written is said; the verdict stands.
    {"reportUnwritable", "", "-q --report /nonexistent/r.txt", "", 0, {kGood, "trident-flash: "
        "cannot write the report to /nonexistent/r.txt: No such file or directory\n"}, tournament},
    {"reportOverTheHexFile", "", "--hex LOCAL --checksum 0xBd53 --report LOCAL", nullptr, 64,
        {"trident-flash: --report names the --hex file, which it would overwrite (see"}, ""},
    {"reportToAFifoNobodyReads", "", "-q --report FIFO", "", 0, {kGood, "/fifo: No such device or "
        "address\n"}, tournament},
    {"historyUnwritable", "", "XDG_STATE_HOME=EMPTY", "", 0, {kGood, "trident-flash: the update "
        "history cannot be kept in "}, tournament},
    // Read once, through a pipe.
    {"localFileFromAPipe", "", "--hex /dev/stdin --checksum 0xBd53 -q", nullptr, 0,
        {"The lastest version: stdin", kGood}, tournament},
    {"staleAndDuplicate", "--stale-replies --duplicate-replies", "-q", "", 0, {kGood}, tournament},
    // Slow replies are still answers: only silence ends the wait. At the end no time is left.
    {"slowBoard", "--reply-delay-ms 10", "", "", 0, {kGood, "100%  6000/6000 bytes  0:00 left"},
        tournament},
    // The board programmed everything but reports another sum.
    {"wrongChecksum", "--wrong-checksum", "-q", "", 1, {kRestart}, tournament},
    // Server, release and firmware file faults program nothing.
    {"serverDown", "", "-q --server ftp://127.0.0.1:9", nullptr, 2,
        {"trident-flash: Failed to connect to 127.0.0.1 port 9"}, ""},
    {"missingRelease", "", "-q", kTournamentRelease.c_str(), 2,
        {"trident-flash: The file does not exist"}, ""},
    {"missingFirmware", "", "-q", tournament, 2, {"The file does not exist"}, ""},
    // A release its publisher did not sign, or signed with another key than the one trusted.
    {"unsignedRelease", "", "", kTournamentSignature.c_str(), 2, {"trident-flash: The release is not signed by its publisher.\n",
        "is refused: no signature file (The file does not exist)"}, ""},
    {"anotherKey", "", "-q --release-key RWSN8MXQyyAtzL/LMD9J02vaj+SDnJFfeQ1jvwI3R8kNf8hY4w7wjsOU",
        "", 2, {"trident-flash: The release is not signed by its publisher.\n"}, ""},
    {"demoKeyFromItsFile", "", "-q --release-key " + kDemo + "/demo-release-key.pub", "", 0,
        {kGood}, tournament},
    {"missingFolder", "", "-q", "varnehex", 2,
        {"trident-flash: Server denied you to change to the given directory"}, ""},
    {"missingLocalFile", "", "-q --hex missing.hex --checksum 0x1234", nullptr, 2,
        {"trident-flash: cannot read missing.hex: No such file or directory\n"}, ""},
    {"localFolder", "", "-q --hex / --checksum 0x1234", nullptr, 2,
        {"trident-flash: / is a folder, not a firmware file\n"}, ""},
    // Judged before a board is waited for: the board never hears of it.
    {"damagedLocalFile", "", "-q --hex DAMAGED --checksum 0xBd53", nullptr, 2,
        {"trident-flash: Error: The firmware file is damaged (line 2)\n"}, ""},
    {"emptyLocalFile", "", "-q --hex EMPTY --checksum 0x0000", nullptr, 2,
        {"trident-flash: Error: The firmware file holds no firmware data\n"}, ""},
    // Only a mouse is plugged in.
    {"noBootloader", "--vid 046d", "-q --wait 0.3", nullptr, 4,
        {"trident-flash: no bootloader appeared in time"}, ""},
    // Bad usage: one line naming it.
    {"unknownOption", "", "--frobnicate", nullptr, 64,
        {"trident-flash: unknown option --frobnicate (see trident-flash --help)"}, ""},
    {"unknownVariant", "", "--variant turbo", nullptr, 64,
        {"--variant takes tournament or standard, not turbo"}, ""},
    {"hexWithoutChecksum", "", "--hex x.hex", nullptr, 64, {"--hex and --checksum go together"}, ""},
    {"gopherServer", "", "--server gopher://127.0.0.1", nullptr, 64,
        {"--server takes an ftp://, ftps://, http:// or https:// URL: gopher://127.0.0.1"}, ""},
    {"wordyTimeout", "", "--reply-timeout soon", nullptr, 64,
        {"--reply-timeout takes a number of seconds, not soon"}, ""},
    {"zeroTimeout", "", "--reply-timeout 0", nullptr, 64, {"takes a number of seconds, not 0 "}, ""},
    {"releaseKeyOfNothing", "", "--release-key " + kDemo + "/demo-release-key.key", nullptr, 64,
        {"trident-flash: --release-key: " + kDemo + "/demo-release-key.key holds no minisign "
         "public key (see trident-flash --help)\n"}, ""},
    {"helpOverrulesTheRest", "", "-q --help --checksum 0x12", nullptr, 0,
        {"usage: trident-flash", "130 interrupted."}, ""},
    {"version", "", "-q --version", nullptr, 0, {"trident-flash 0.1.0\n"}, ""},
  };
  // Removed after answering frame n: nothing is programmed before the transfer, and once the
  // checksum reply came the board's verdict stands. The board keeps an image only when the final
  // command reached it.
  for (int n : {1, 2, 3, 4, 5, 6, 7, 50, 113, 114, 115})
    runs.push_back({"removedAfterFrame" + std::to_string(n), "--unplug-after " + std::to_string(n),
        "-q", "", n < 114 ? 3 : 0, {n < 114 ? kRestart : kGood},
        n < 7 || n == 114 ? "" : n < 114 ? nullptr : tournament});
  // Silent after answering frame n; the board stays plugged in. The alert says so once, in the
  // window's words; the log names the packet number of the frame left unanswered.
  for (const auto& [n, packet] : std::vector<std::pair<int, std::string>>{
           {0, ""}, {1, "1)"}, {3, "5)"}, {7, "5)"}, {50, "91)"}, {113, "217)"}})
    runs.push_back({"silentAfterFrame" + std::to_string(n), "--silent-after " + std::to_string(n),
        "", "", 4, {kSilent, kSilentLog + packet}, n < 7 ? "" : nullptr});
  // clang-format on
  return runs;
}

INSTANTIATE_TEST_SUITE_P(Runs, FlashRun, ::testing::ValuesIn(runs()),
                         [](const auto& info) { return info.param.name; });

// With --loop, one board after another, each with its own verdict line; with --wait the run ends
// with the highest status, a board that never answered included, once no board has come or been
// busy for that long, even with the last one left plugged in.
// Each board comes once the tool says it waits for one.
TEST(Flash, LoopUpdatesOneBoardAfterAnother) {
  TempDir dir;
  FtpServer server(kDemo);
  auto run = flash(dir, "--server " + server.url() + " --loop --wait 3 --reply-timeout 0.5 -q");
  size_t waits = 0;
  for (const std::string board : {"1", "2", "mute"}) {
    ASSERT_TRUE(run->waitForText("Waiting for the board: hold its button while plugging it in...\n",
                                 30s, ++waits))
        << run->output();
    const auto saved = dir / board;
    auto plugged =
        plugBoard(dir / "hid", words("--name " + board + " --save-image " + saved.string() +
                                     (board == "mute" ? " --silent-after 0" : "")));
    // A board that never answered and stays plugged in still ends the run within --wait.
    if (board == "mute") {
      EXPECT_EQ(run->wait(30s), 4);
      plugged->signal(SIGTERM);
    }
    EXPECT_EQ(plugged->wait(30s), board == "mute" ? 5 : 0);
    EXPECT_EQ(readFile(saved), board == "mute" ? "" : hexData(dir, kDemo + "/" + kTournament));
  }
  const std::string out = run->output(), verdict = ": " + kGood + " (V2.1.0, ";
  EXPECT_EQ(out.find("board 1" + verdict), out.find("board ")) << out;
  EXPECT_NE(out.find(verdict, out.find("board 2: ")), std::string::npos) << out;
  EXPECT_THAT(out, HasSubstr("board 3: " + kRestart + " (no release, "));
  EXPECT_TRUE(out.ends_with("trident-flash: no further board appeared in time\n")) << out;
}

struct LoopCase {
  std::string name;
  std::vector<std::string> boards;  // each board's program options, in the order they come
  int status;
};

class FlashLoopRun : public ::testing::TestWithParam<LoopCase> {};

// One board after another: the run's status is the highest among its boards, whichever came
// last, as it is with --all. --wait counts from when the last board was busy, not from when it was
// taken: a board that takes longer than --wait still leaves the full time for the next one.
TEST_P(FlashLoopRun, EndsWithTheHighestStatusAmongItsBoards) {
  TempDir dir;
  FtpServer server(kDemo);
  auto run = flash(dir, "--server " + server.url() + " --loop --wait 1 --reply-timeout 0.5 -q");
  std::vector<std::unique_ptr<ChildProcess>> boards;
  for (size_t i = 0; i < GetParam().boards.size(); ++i) {
    ASSERT_TRUE(run->waitForText("Waiting for the board", 30s, i + 1)) << run->output();
    boards.push_back(
        plugBoard(dir / "hid", words("--name b" + std::to_string(i) + " " + GetParam().boards[i])));
  }
  EXPECT_EQ(run->wait(30s), GetParam().status) << run->output();
  EXPECT_EQ(occurrences(run->output(), "\nboard "), GetParam().boards.size()) << run->output();
}

INSTANTIATE_TEST_SUITE_P(
    Boards, FlashLoopRun,
    ::testing::Values(
        LoopCase{"silentThenWrongChecksum", {"--silent-after 3", "--wrong-checksum"}, 4},
        LoopCase{"wrongChecksumThenUpdated", {"--wrong-checksum", ""}, 1},
        LoopCase{"removedThenSilentThenUpdated", {"--unplug-after 50", "--silent-after 20", ""}, 4},
        // 115 frames answered 25 ms late: longer than --wait.
        LoopCase{"slowThenUpdated", {"--reply-delay-ms 25", ""}, 0}),
    [](const auto& info) { return info.param.name; });

struct AllCase {
  std::string name;
  std::vector<std::string> boards;  // one board program's options each
  int status;
  std::map<std::string, std::string> results;  // each board's line in the table
};

class FlashAllRun : public ::testing::TestWithParam<AllCase> {};

// --all: every board plugged in is updated at once, each on its own. A fault on one ends that one
// alone (faults aimed at one board of a program reach no other), and the exit status is the
// worst board's. An updated board holds the exact image.
TEST_P(FlashAllRun, UpdatesEveryBoardOnItsOwn) {
  const AllCase& r = GetParam();
  TempDir dir;
  const std::string image = hexData(dir, kDemo + "/" + kTournament);
  objcopyHex(dir, {image.begin(), image.end()});
  std::vector<std::unique_ptr<ChildProcess>> boards;
  for (const auto& options : r.boards) {
    const std::string name = words(options)[1];
    boards.push_back(plugBoard(dir / "hid", words("--save-image " + (dir / name).string() + " " +
                                                  options + " --reply-delay-ms 1")));
  }
  auto run = flash(dir, "--all --hex LOCAL --checksum 0xBd53 --reply-timeout 0.5");
  EXPECT_EQ(run->wait(30s), r.status) << run->output();
  const std::string out = run->output();
  for (const auto& [name, result] : r.results) {
    std::string row = "\n" + name;
    row.resize(19, ' ');
    EXPECT_THAT(out, HasSubstr(row + result + " "));
    EXPECT_THAT(out, HasSubstr(name + ": DO NOT Remove the Controller\n"));
    const std::string alert = "\n" + name + ": trident-flash: ";  // said once, or not at all
    EXPECT_EQ(out.find(alert), out.rfind(alert)) << out;
    if (result == "updated") {
      EXPECT_EQ(savedImage(dir / name, image.size()), image) << name;
    }
  }
  EXPECT_EQ(r.status == 0, out.find(kRestart) == std::string::npos) << out;
  EXPECT_THAT(out,
              HasSubstr("Waiting for boards: hold each one's button while plugging it in...\n"));
  EXPECT_THAT(out, HasSubstr("\nboard             result                    time  bytes\n"));
  for (auto& board : boards) {
    board->signal(SIGTERM);
    EXPECT_NE(board->wait(10s), -1);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Boards, FlashAllRun, ::testing::Values(
    AllCase{"fourAtOnce", {"--name b --boards 4"}, 0,
        {{"b-1", "updated"}, {"b-2", "updated"}, {"b-3", "updated"}, {"b-4", "updated"}}},
    AllCase{"oneUnpluggedOneSilent",
        {"--name ok --boards 2", "--name cut --unplug-after 50", "--name mute --silent-after 20"},
        4, {{"ok-1", "updated"}, {"ok-2", "updated"}, {"cut", "removed"}, {"mute", "timed out"}}},
    AllCase{"staleAndDuplicateRepliesOnOne",
        {"--name s --boards 3 --fault-board 2 --stale-replies --duplicate-replies"}, 0,
        {{"s-1", "updated"}, {"s-2", "updated"}, {"s-3", "updated"}}},
    AllCase{"wrongChecksumOnOne", {"--name w --boards 3 --fault-board 3 --wrong-checksum"}, 1,
        {{"w-1", "updated"}, {"w-2", "updated"}, {"w-3", "checksum differs"}}}),
    [](const auto& info) { return info.param.name; });
// clang-format on

// Every line of a --json run parsed and held to its schema: JSON and nothing else (standard error
// included), the schema on the first line, every event known and timed in UTC, each event of a
// board naming it, the summary last with the run's exit status and a verdict for each board.
// Returns each board's result.
std::map<std::string, std::string> jsonResults(const std::string& out, int status) {
  // clang-format off
  static const std::set<std::string> kEvents = {"waiting", "board", "release", "download",
                                                "progress", "verdict", "error", "summary", "bootloader"};
  // clang-format on
  static const std::regex kTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
  std::map<std::string, std::string> results;
  std::istringstream lines(out);
  nlohmann::json line;
  for (std::string text; std::getline(lines, text);) {
    SCOPED_TRACE(text);
    const bool first = line.is_null();
    line = nlohmann::json::parse(text);
    EXPECT_EQ(line.value("schema", 0), first ? 1 : 0);
    const std::string event = line.at("event");
    EXPECT_TRUE(kEvents.count(event) && std::regex_match(line.value("time", ""), kTime));
    // An error names its board, unless it is the run's (bad usage, a report not written).
    EXPECT_TRUE(line.contains("board") || event == "waiting" || event == "summary" ||
                event == "error");
    EXPECT_FALSE(line.contains("board") && (event == "waiting" || event == "summary"));
    if (event == "verdict") results[line.at("board")] = line.at("result");
    if (event == "bootloader") results[line.at("board")] = line.at("opens") ? "opens" : "refused";
    EXPECT_TRUE(event != "progress" || line.at("sent") <= line.at("total"));
    EXPECT_TRUE(event != "download" || line.at("sha256").get<std::string>().size() == 64);
  }
  EXPECT_EQ(line.at("event"), "summary");
  EXPECT_EQ(line.at("status"), status);
  EXPECT_EQ(line.value("count", line.value("boards", nlohmann::json()).size()), results.size());
  return results;
}

// Each board's result in the update history under `state`; every line whole, with each field.
std::map<std::string, std::string> historyResults(const std::filesystem::path& state) {
  std::map<std::string, std::string> results;
  std::istringstream lines(readFile(state / "trident-updater/history.jsonl"));
  for (std::string text; std::getline(lines, text);) {
    SCOPED_TRACE(text);
    const auto line = nlohmann::json::parse(text);
    EXPECT_EQ(line.size(), 12u);
    EXPECT_EQ(line.at("program"), "trident-flash");
    EXPECT_TRUE(results.emplace(line.at("board"), line.at("result")).second);
  }
  return results;
}

struct JsonCase {
  std::string name;
  std::vector<std::string> boards;  // one board program's options each
  std::string args;  // after --json; the demo server is added unless --server is here
  int status;
  std::map<std::string, std::string> results;  // each board's verdict
};

class FlashJsonRun : public ::testing::TestWithParam<JsonCase> {};

// --json: what a script reads, for each way a run ends. Each line reaches the reader as it is
// written: the run is interrupted once its first line came, and still ends with its summary, the
// board it left unfinished included.
TEST_P(FlashJsonRun, WritesOnlyJsonLinesHeldToTheSchema) {
  const JsonCase& r = GetParam();
  TempDir dir;
  FtpServer server(kDemo);
  std::vector<std::unique_ptr<ChildProcess>> boards;
  for (const auto& options : r.boards)
    boards.push_back(plugBoard(dir / "hid", words(options)));
  const bool served = r.args.find("--server") == std::string::npos;
  auto run = flash(dir, "--json --reply-timeout 0.5 " + r.args +
                            (served ? " --server " + server.url() : std::string()));
  if (r.status == 130) {
    ASSERT_TRUE(run->waitForText("\"board\"", 30s)) << run->output();
    run->signal(SIGINT);
  }
  EXPECT_EQ(run->wait(30s), r.status) << run->output();
  EXPECT_EQ(jsonResults(run->output(), r.status), r.results) << run->output();
  if (r.status == 64 || r.name == "reportNotWritten") {  // said as an error of the run's own
    EXPECT_THAT(run->output(), HasSubstr("{\"event\":\"error\""));
  }
  // The history holds the same verdicts, an interrupted board's included.
  const bool listed = r.args.starts_with("--list");
  EXPECT_EQ(historyResults(dir / "state"), listed ? decltype(r.results)() : r.results);
  if (listed) {  // a look leaves every board waiting for the next run
    auto again = flash(dir, "--json " + r.args);
    EXPECT_EQ(again->wait(30s), 0);
    EXPECT_EQ(jsonResults(again->output(), 0), r.results) << again->output();
  } else {  // a board left out is never opened
    for (auto& board : boards)
      EXPECT_EQ(board->output().find("without a frame"), std::string::npos) << board->output();
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Ends, FlashJsonRun, ::testing::Values(
    JsonCase{"updated", {"--name a"}, "", 0, {{"a", "updated"}}},
    JsonCase{"checksumDiffers", {"--name a --wrong-checksum"}, "", 1, {{"a", "checksum-differs"}}},
    JsonCase{"silentAndUnpluggedAmongFour",
        {"--name ok --boards 2", "--name cut --unplug-after 50", "--name mute --silent-after 20"},
        "--all", 4, {{"ok-1", "updated"}, {"ok-2", "updated"}, {"cut", "removed"},
        {"mute", "timed-out"}}},
    JsonCase{"serverError", {"--name a"}, "--server ftp://127.0.0.1:9", 2, {{"a", "server-error"}}},
    JsonCase{"badUsage", {}, "--frobnicate", 64, {}},
    JsonCase{"interrupted", {"--name a --silent-after 3"}, "--reply-timeout 60", 130,
        {{"a", "interrupted"}}},
    JsonCase{"reportNotWritten", {"--name a"}, "--report /nonexistent/r", 0, {{"a", "updated"}}},
    JsonCase{"reportOverTheJsonLines", {"--name a"}, "--report /dev/stdout", 64, {}},
    JsonCase{"onlyTheChosenOfThree", {"--name a --boards 3"}, "--all --serial a-3 --serial x --path "
        "a-1", 0, {{"a-3", "updated"}}},
    JsonCase{"listed", {"--name a --boards 2", "--name b"}, "--list", 0,
        {{"a-1", "opens"}, {"a-2", "opens"}, {"b", "opens"}}},
    JsonCase{"listedByTheirSerials", {"--name a --boards 2"}, "--list --serial a-2 --serial x", 0,
        {{"a-2", "opens"}}}),
    [](const auto& info) { return info.param.name; });
// clang-format on

// A board that stops taking frames while it goes on answering (its socket fills) is let go as
// removed once its frames have waited too long; the boards beside it never wait for it.
// --report: one file with what a bug report needs, the trace included though --json leaves it out.
TEST(Flash, AReportHoldsTheVersionsTheBoardAndTheTrace) {
  TempDir dir;
  FtpServer server(kDemo);
  auto board = plugBoard(dir / "hid", words("--name b --wrong-checksum"));
  auto run = flash(dir, "--json --server " + server.url() + " --report " + (dir / "r").string());
  EXPECT_EQ(run->wait(30s), 1) << run->output();
  const std::string report = readFile(dir / "r");
  for (const std::string part :
       {"\ncommand: trident-flash --virtual-hid ", "\nsystem: Linux ", "\nlibraries: hidapi 0.",
        ", libcurl/", "\nvariant: tournament\n", "\nexit status: 1\n", "\nboards: 1\n\nb\n",
        "\n  result:   checksum-differs\n  release:  V2.1.0\n",
        "/TRIDENT_TE_V2.1.0.hex (16888 bytes)\n  sha256:   d907a31d8db4",
        "\n  checksum: expected 0xBD53, reported 0xBD54\n", "\nsend to hidc:\na4", "iStatus = "})
    EXPECT_THAT(report, HasSubstr(part));
}

// Two runs at once, each with boards of its own, add to one history: every line whole, none lost.
TEST(Flash, TwoRunsAtOnceKeepEveryHistoryLineWhole) {
  TempDir one, two;
  FtpServer server(kDemo);
  std::vector<std::unique_ptr<ChildProcess>> boards, runs;
  for (const auto& [dir, name] : {std::pair(&one, "a"), std::pair(&two, "b")})
    boards.push_back(plugBoard(*dir / "hid", words(std::string("--boards 8 --name ") + name)));
  for (const TempDir* dir : {&one, &two})
    runs.push_back(flash(
        *dir, "--all -q --server " + server.url() + " XDG_STATE_HOME=" + (one / "state").string()));
  for (auto& run : runs)
    EXPECT_EQ(run->wait(30s), 0) << run->output();
  const auto results = historyResults(one / "state");
  EXPECT_EQ(results.size(), 16u);
  EXPECT_TRUE(std::all_of(results.begin(), results.end(),
                          [](const auto& board) { return board.second == "updated"; }));
}

TEST(Flash, ABoardThatStopsTakingFramesHoldsUpNoOther) {
  TempDir dir;
  const auto image = randomBytes(64 * 1024, 11);
  const unsigned sum = std::accumulate(image.begin(), image.end(), 0u) & 0xFFFF;
  const auto hex = objcopyHex(dir, image);
  auto boards = plugBoard(dir / "hid", words("--name k --boards 3 --fault-board 2 --stall-after 20 "
                                             "--reply-delay-ms 1 --save-image " +
                                             (dir / "k").string()));
  auto run = flash(dir, "--all --reply-timeout 2 --hex " + hex.string() + " --checksum " +
                            strprintf("0x%04x", sum));
  EXPECT_EQ(run->wait(30s), 3) << run->output();
  const std::string out = run->output();
  for (const std::string row : {"\nk-1               updated ", "\nk-2               removed ",
                                "\nk-3               updated ", "k-2.sock takes no frames"})
    EXPECT_THAT(out, HasSubstr(row));
  for (const std::string k : {"1", "3"})
    EXPECT_EQ(savedImage(dir / ("k-" + k), image.size()), std::string(image.begin(), image.end()))
        << k;
  boards->signal(SIGTERM);
  EXPECT_NE(boards->wait(10s), -1);
}

// --loop --all: boards plugged in while others are being programmed are taken too; the run ends
// once none has come or been busy for --wait, and a board that never answered counts.
TEST(Flash, LoopAllTakesBoardsThatArriveMidUpdate) {
  TempDir dir;
  objcopyHex(dir, randomBytes(60000, 3));
  auto first = plugBoard(dir / "hid", words("--name first --reply-delay-ms 2"));
  auto run = flash(dir, "--all --loop --wait 1 --hex LOCAL --checksum 0x1234 --reply-timeout 0.5");
  ASSERT_TRUE(run->waitForText("first: progress  10%", 30s)) << run->output();
  auto second = plugBoard(dir / "hid", words("--name second --boards 2 --fault-board 2 "
                                             "--silent-after 0 --reply-delay-ms 1"));
  EXPECT_EQ(run->wait(30s), 4) << run->output();
  const std::string out = run->output();
  EXPECT_LT(out.find("second-1: DO NOT Remove"), out.find("first: progress 100%")) << out;
  for (const std::string row : {"\nfirst             checksum differs",
                                "\nsecond-1          "
                                "checksum differs",
                                "\nsecond-2          timed out"})
    EXPECT_THAT(out, HasSubstr(row));
  second->signal(SIGTERM);
  EXPECT_EQ(second->wait(10s), 5);
}

// Boards already waiting when a --loop run starts are each updated in turn, and so is a board
// plugged in again at once under its old name. With --all the output goes to a reader that leaves
// after one line: the updates go on. A run without --loop updates one board and leaves a second
// one waiting beside it untouched, for the next run.
TEST(Flash, WaitingBoardsAreUpdatedInTurnAndOnePluggedInAgainAtOnce) {
  for (const std::string all : {"", "--all ", "once"}) {
    TempDir dir;
    auto a = plugBoard(dir / "hid", words("--name A"));
    auto b = plugBoard(dir / "hid", words("--name B"));
    const std::string image = hexData(dir, kDemo + "/" + kTournament);
    objcopyHex(dir, {image.begin(), image.end()});
    for (int run = 0; all == "once" && run < 2; ++run) {
      auto flashed = flash(dir, "--wait 5 -q --checksum 0xBd53 --hex LOCAL");
      EXPECT_EQ(flashed->wait(30s), 0) << run << flashed->output();
    }
    if (all == "once") {
      EXPECT_EQ(a->wait(10s), 0) << a->output();
      EXPECT_EQ(b->wait(10s), 0) << b->output();
      continue;
    }
    std::string command = builtProgram("src/cli/trident-flash");
    command += " --virtual-hid " + (dir / "hid").string() + " " + all;
    command += "--loop --wait 2 -q --checksum 0xBd53 --hex " + (dir / "image.hex").string();
    ChildProcess run(all.empty()
                         ? words(command)
                         : std::vector<std::string>{"/bin/sh", "-c", command + " 2>&1 | head -1"});
    EXPECT_EQ(a->wait(30s), 0) << all << a->output();
    auto again = plugBoard(dir / "hid", words("--name A"));
    EXPECT_EQ(b->wait(30s), 0) << all << b->output();
    EXPECT_EQ(again->wait(30s), 0) << all << again->output();
    EXPECT_EQ(run.wait(30s), 0) << all << run.output();
  }
}

// On a terminal, server text cannot retitle it, clear it or hide the verdict; nor can it later,
// from a log saved through a pipe.
TEST(Flash, AVersionWithEscapeCodesReachesATerminalAndAPipeDefused) {
  TempDir dir;
  std::filesystem::copy(kDemo, dir / "server", std::filesystem::copy_options::recursive);
  const auto release = dir / "server" / kTournamentRelease;
  std::string text = readFile(release);
  const size_t version = text.find(",V2.1.0,") + 1;
  writeFile(release,
            text.replace(version, 6, "\x1b]0;owned\x07V9\x1b[2J\t\u200f\u2028\u061c\u202e"));
  // Signed by the publisher (the demo key the build trusts): the version is still shown defused.
  ASSERT_EQ(runCommand(TRIDENT_SOURCE_DIR "/scripts/sign-release -q " + (dir / "server").string() +
                       " " + kDemo + "/demo-release-key.key"),
            0);
  // The log shows the trusted comment: bytes that are no UTF-8 (0x9B is CSI to some terminals)
  // are defused as well.
  Minisign{kDemo}.sign("demo-release-key", release,
                       "-t " + shellQuote("file:VARNE_TRIDENT_Fighting_Board_TE.txt \x9b"
                                          "2J\xff"));
  FtpServer server(dir / "server");
  const std::string command = builtProgram("src/cli/trident-flash") + " --virtual-hid " +
                              (dir / "hid").string() + " --server " + server.url();
  for (const bool terminal : {true, false}) {
    auto board = plugBoard(dir / "hid", {});
    ChildProcess run(terminal
                         ? std::vector<std::string>{"/usr/bin/script", "-qec", command, "/dev/null"}
                         : words(command));
    EXPECT_EQ(run.wait(30s), 0) << run.output();
    EXPECT_THAT(run.output(), HasSubstr("The lastest version: ?]0;owned?V9?[2J?????"));
    // (0x9B and 0xFF alone: the first is also part of many a character in the log.)
    EXPECT_EQ(run.output().find_first_of("\x1b\xff"), std::string::npos) << run.output();
    EXPECT_EQ(run.output().find("\x9b"
                                "2J"),
              std::string::npos)
        << run.output();
    EXPECT_THAT(run.output(), HasSubstr("Board_TE.txt ?2J?"));
  }
}

// A server error reaches the boards that waited for the answer and is then forgotten: a board
// plugged in later asks the server again.
TEST(Flash, AllAsksTheServerAgainForABoardAfterAnError) {
  TempDir dir;
  auto run = flash(dir, "--all --loop --wait 3 -q --server ftp://127.0.0.1:9");
  std::vector<std::unique_ptr<ChildProcess>> boards;
  for (const std::string name : {"A", "B"}) {
    boards.push_back(plugBoard(dir / "hid", words("--name " + name)));
    EXPECT_TRUE(
        run->waitForText(name + ": trident-flash: Failed to connect to 127.0.0.1 port 9", 30s))
        << run->output();
  }
  EXPECT_EQ(run->wait(30s), 2);
  EXPECT_THAT(run->output(), HasSubstr("\nB                 server or file error "));
}

// On a terminal, --all keeps one row per board, redrawn in place, and an error once above them.
TEST(Flash, AllOnATerminalKeepsARowPerBoard) {
  TempDir dir;
  auto boards = plugBoard(dir / "hid", words("--boards 2 --fault-board 2 --silent-after 30"));
  const std::string image = hexData(dir, kDemo + "/" + kTournament);
  const std::string command = builtProgram("src/cli/trident-flash") + " -q --all --virtual-hid " +
                              (dir / "hid").string() + " --reply-timeout 0.5 --checksum 0xBd53" +
                              " --hex " + objcopyHex(dir, {image.begin(), image.end()}).string();
  ChildProcess run({"/usr/bin/script", "-qec", command, "/dev/null"});
  EXPECT_EQ(run.wait(30s), 4) << run.output();
  const std::string out = run.output(), error = "board-2: trident-flash: Error: The board stopped";
  EXPECT_THAT(out, HasSubstr(error));
  EXPECT_EQ(out.find(error), out.rfind(error)) << out;
  for (const std::string drawn : {"\x1b[2A\r\x1b[2Kboard-", "] 100%  6000/6000 bytes",
                                  "board-1  Firmware successfully updated.\r\n"})
    EXPECT_THAT(out, HasSubstr(drawn));
  boards->signal(SIGTERM);
  EXPECT_EQ(boards->wait(10s), 5);
}

// Ctrl-C, a TERM from a service manager or a HUP from a closed terminal: the same clean end within
// a second, whatever the run waits for: a board's replies, a FIFO named by --hex that nobody
// writes to (its open never blocks), or a server that streams without end and then says nothing
// more, for the firmware or (before its first word) for the release.
TEST(Flash, InterruptedAtAnyStageEndsCleanlyWithinASecond) {
  // What the firmware comes from ("local" or "fifo" file, else the release served, "": none, so
  // that it streams) and the line to wait for before the signal.
  const std::pair<std::string, std::string> stages[] = {
      {"local", "progress  10%"},
      {"fifo", ""},
      {"TRIDENT,V9,0x1234,/varnehex/endless.hex,sha256:" + std::string(64, '0'),
       "bytes downloaded"},
      {"", "Asking the update server"}};
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const auto& stage : stages) {
      const std::string &source = stage.first, &line = stage.second;  // lambdas capture them
      TempDir dir;
      auto board = plugBoard(dir / "hid", {"--reply-delay-ms", "1"});
      std::unique_ptr<FaultyFtpServer> server;
      std::string args = "-q --hex LOCAL --checksum 0x1234";
      if (source == "local") {
        objcopyHex(dir, randomBytes(200000, 8));
      } else if (source == "fifo") {
        ASSERT_EQ(::mkfifo((dir / "image.hex").c_str(), 0600), 0);
      } else {
        const auto release = dir / "server" / kTournamentRelease;
        std::filesystem::create_directories(release.parent_path());
        if (!source.empty()) writeFile(release, source);
        if (!source.empty()) Minisign{kDemo}.sign("demo-release-key", release);
        server = std::make_unique<FaultyFtpServer>(dir / "server",
                                                   words(source.empty() ? "--hush" : ""));
        args = "-q --server " + server->url();
      }
      auto run = flash(dir, args);
      // Of a download of untold size, a line a second: the second shows it goes on. The FIFO
      // is waited on in poll: ThreadSanitizer's runtime drops a signal that comes while it sets
      // up a thread's first blocking call.
      ASSERT_TRUE(
          source == "fifo"
              ? waitFor([&] { return run->holdsOpen(dir / "image.hex") && run->sleepsInPoll(); },
                        10s)
              : run->waitForText(line, 30s, line == "bytes downloaded" ? 2 : 1))
          << run->output();
      ASSERT_TRUE(!server || server->logged("streaming ", within(10s)));
      run->signal(signal);
      EXPECT_EQ(run->wait(1s), 130) << signal << source << run->output();
      EXPECT_THAT(run->output(), HasSubstr("trident-flash: interrupted"));
    }
  }
}

}  // namespace
}  // namespace trident::testing
