// The HEX loader on files no tool would write, and the whole exchange of an update against the
// in-process virtual board, with files objcopy and srec_cat write, and every way it can end.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <optional>

#include "engine/hex_loader.h"
#include "engine_rig.h"

namespace trident {
namespace {

using testing::SimRig;
using Views = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;
constexpr auto npos = std::string::npos;
const std::string kComplete = "showUpdateResult(complete)", kRemoved = "showDeviceRemoved";

std::string skipped(int32_t lineNO, const std::string& line) {
  return "lineNO: " + std::to_string(lineNO) + ", line[7] or [8] =! 0, line = " + line;
}

// One record as the tools write it: length, address, type, data, checksum.
std::string rec(uint16_t address, uint8_t type, Bytes data) {
  Bytes bytes{static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
              static_cast<uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.push_back(static_cast<uint8_t>(-std::accumulate(bytes.begin(), bytes.end(), 0u)));
  std::string line = ":";
  for (const uint8_t b : bytes)
    line += strprintf("%02X", b);
  return line + "\n";
}

const std::string a = rec(0, 0, {1, 2, 3, 4}), b = rec(4, 0, {5, 6}), c = rec(6, 0, {7}),
                  eof = ":00000001FF\n";

// The board takes a length and a stream, and its 16-bit sum cannot see order: a file is loaded
// only when every record is sound and the data, placed at its addresses, runs on without a gap or
// an overlap to an end-of-file record.
TEST(HexLoader, LoadsOneUnbrokenRun) {
  const std::string ela8 = rec(0, 4, {8, 0}), cr = a.substr(0, 19) + "\r\n";
  const Bytes all{1, 2, 3, 4, 5, 6, 7};
  std::string lower = a;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  const struct {
    std::string text;
    Bytes bytes;
    std::optional<std::string> trace;  // the lines the loader skipped, where checked
  } cases[] = {
      {a + b + c + eof, all, skipped(3, eof)},
      // CRLF, blank lines, and data after the end record where it continues the run.
      {cr + "\r\n  \n" + b + eof + c, all, {}},
      // Extended linear and segment addresses; the run goes on across 64 KiB.
      {ela8 + rec(0xFFFC, 0, {1, 2, 3, 4}) + rec(0, 4, {8, 1}) + rec(0, 0, {5, 6}) + eof,
       {1, 2, 3, 4, 5, 6},
       skipped(0, ela8) + skipped(2, rec(0, 4, {8, 1})) + skipped(4, eof)},
      // clang-format off
      {rec(0, 2, {0x10, 0}) + rec(0, 0, {1, 2}) + rec(0, 4, {0, 1}) + rec(2, 0, {3}) + eof, {1, 2, 3}, {}},
      // clang-format on
      {lower + eof, {1, 2, 3, 4}, {}},
      {"", {}, ""},                // empty: refused later for holding no data
      {eof, {}, skipped(0, eof)},  // no data either
  };
  testing::TempDir dir;
  for (const auto& t : cases) {
    SCOPED_TRACE(t.text.substr(0, 40));
    testing::writeFile(dir / "t.hex", t.text);
    HexImage image;
    int32_t lineNO = 0;
    testing::RecordingDiagnostics diag;
    EXPECT_EQ(readHexImage(dir / "t.hex", image, lineNO, diag), HexLoadStatus::Loaded);
    EXPECT_EQ(Bytes(image.bytes.get(), image.bytes.get() + image.length), t.bytes);
    EXPECT_EQ(image.damagedLine, std::nullopt);
    EXPECT_EQ(diag.log, Views{"path of Acode : " + (dir / "t.hex").string()});
    if (!t.trace) continue;
    EXPECT_EQ(diag.out, "fopen(Acode) success\nfsize=" + std::to_string(t.text.size()) + "\n" +
                            *t.trace + std::string(21, '=') +
                            " eof reading file, then send cmd-sync, then update A\n\n");
  }
}

// Anything else is refused at the first line that shows it, before any frame goes out: the alert
// gives the line, the log the reason too.
TEST(HexLoader, RefusesADamagedFileAtItsFirstBadLineAndLogsWhy) {
  const struct {
    std::string text;
    int32_t line;
    std::string reason;
  } cases[] = {
      // clang-format off
      {b + a + eof, 2, "data goes back"}, {a + c + eof, 2, "gap in the data"},
      {a + a + eof, 2, "data overlaps"}, {a + b, 3, "no end-of-file record"},  // cut at a line's end
      {a + b.substr(0, 9), 2, "record too short"},
      {a + ":0300000001020304F3\n" + eof, 2, "length byte does not match the line"},
      {a.substr(0, 15) + "05" + a.substr(17), 1, "record checksum"},
      {":04000000zz223344" + a.substr(17), 1, "not a hex digit"},
      {"junk000junk\n" + a + eof, 1, "no start code"},  // "00" in columns 7-8
      {rec(0, 6, {}) + a + eof, 1, "unknown record type"},
      {a + rec(0, 1, {0}), 2, "wrong length for its record type"},
      // clang-format on
      {std::string(":02\0zz04FFFF\n", 13), 1, "odd number of hex digits"},
      {":" + std::string(600, '0') + "\n" + eof, 1, "record too long"},
      {":FF000000" + std::string(510, 'A') + "00" + std::string(979, '7') + "\n" + eof, 1,
       "line too long"},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.reason);
    SimRig rig;
    testing::writeFile(rig.engine.hexFile(), t.text);
    rig.runUpdate(rig.engine.hexFile(), 0);
    EXPECT_TRUE(rig.diag.logged(
        strprintf("LoadHexFile: the firmware file is damaged at line %d (%s); refused", t.line,
                  t.reason.c_str())))
        << rig.diag.log.back();
    const Views& events = rig.window.events;
    EXPECT_EQ(Views(events.end() - 2, events.end()),
              (Views{"adjustToErrorUI",
                     strprintf("alertA(Error: The firmware file is damaged (line %d))", t.line)}));
    EXPECT_EQ(rig.sent.size(), 1u);  // the sync when the board was taken
  }
}

Frame frame(uint8_t command, size_t number, Bytes payload = {}, size_t at = 8) {
  Frame f{command, 0, 0, 0, static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8)};
  std::copy(payload.begin(), payload.end(), f.begin() + static_cast<long>(at));
  return f;
}

// The frames of a whole update, laid out from the protocol rather than by the engine's code: the
// sync on take; sync, A6 "QK", B1, A2; sync, A0 with the length and the first 48 bytes; data
// frames of 56 bytes down to a short (maybe empty) last one; the final command.
std::vector<Frame> expectedFrames(const Bytes& image) {
  const size_t size = image.size();
  Bytes first{static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
              static_cast<uint8_t>(size >> 16), 0};
  first.insert(first.end(), image.begin(), image.begin() + std::min<long>(48, size));
  const Frame sync = frame(0xA4, 1, {1});
  std::vector<Frame> frames{sync,           sync, frame(0xA6, 3, {'Q', 'K'}), frame(0xB1, 5),
                            frame(0xA2, 7), sync, frame(0xA0, 3, first, 12)};
  for (size_t at = 48, number = 5;; at += 56, number += 2) {
    const auto from = image.begin() + std::min(at, size),
               to = image.begin() + std::min(at + 56, size);
    frames.push_back(frame(0, number, {from, to}));
    if (to - from < 56) {
      frames.push_back(frame(0xAB, number + 2));
      return frames;
    }
  }
}

// The first frame sent that differs from the expected one, or "".
std::string difference(const std::vector<Frame>& sent, std::vector<Frame> expected,
                       size_t count = 0) {
  if (count) expected.resize(count);
  if (sent.size() != expected.size()) return "frames: " + std::to_string(sent.size());
  const auto [got, want] = std::mismatch(sent.begin(), sent.end(), expected.begin());
  return got == sent.end() ? "" : sendDump(*got) + "instead of" + sendDump(*want);
}

struct Size {
  size_t bytes;
  int recordLength;      // srec_cat's; 0 for objcopy's 16-byte records
  size_t pictures;       // one per transfer frame: sync, first, data frames
  const char* lastPack;  // the last data frame's trace line
  int pbar;              // and the figure printed after it
  int firstPicture, lastPicture;
};

class SuccessfulUpdate : public ::testing::TestWithParam<Size> {};

TEST_P(SuccessfulUpdate, SendsTheImageFrameByFrameAndShowsItsProgress) {
  const Size& c = GetParam();
  SimRig rig;
  const auto image = testing::randomBytes(c.bytes, static_cast<uint32_t>(c.bytes));
  // From 4650 bytes on the image lies at an address, and is given in extended address records.
  const uint32_t address = c.bytes >= 4650 ? 0x08000000 : 0;
  const auto hex = c.recordLength ? testing::srecCatHex(rig.dir, image, address, c.recordLength)
                                  : testing::objcopyHex(rig.dir, image, address);
  rig.runUpdate(hex, SimRig::expectedChecksumFor(image));
  EXPECT_EQ(difference(rig.sent, expectedFrames(image)), "");
  // The board's disconnect after the final command changes nothing on screen.
  EXPECT_EQ(rig.window.events,
            (Views{"fillVariantPopUp(Tournament(No Turbo & Remap)|Standard)", "showReady(V1.0)",
                   "showDownloading", "setUpUpdateHexUI", kComplete}));

  // Every frame's dump, in order, and the figures.
  const std::string& out = rig.diag.out;
  for (size_t i = 0, at = 0; i < rig.sent.size(); ++i) {
    ASSERT_NE(at = out.find(sendDump(rig.sent[i]), at), npos) << "frame " << i;
  }
  EXPECT_NE(out.find(std::string("*** LAST PACK has ") + c.lastPack + "\n" +
                     sendDump(rig.sent[rig.sent.size() - 2]) + std::string(53, '=') +
                     " (GUI Says) Above Sended last pack\n" + strprintf("(pbar,%02d)", c.pbar)),
            npos);
  if (c.bytes >= 104) {  // the first full data frame: 32768 remain 32664
    EXPECT_NE(out.find(strprintf("%zu remain %zu\n(pbar,", c.bytes, c.bytes - 104)), npos);
  }
  // The progress picture never goes back and stays within the 21 pictures.
  const auto& pictures = rig.window.pictures;
  ASSERT_EQ(pictures.size(), c.pictures);
  EXPECT_TRUE(std::is_sorted(pictures.begin(), pictures.end()));
  EXPECT_EQ((std::pair{pictures.front(), pictures.back()}),
            std::pair(c.firstPicture, c.lastPicture));
}

// 1 and 47 are shorter than the first frame; 104 = 48 + 56 ends in an empty last frame, as does
// 48 + 56m; 48 + 56m + r ends in a short one. Small images clamp the figure at 100 and the
// picture at 20. 32 KiB takes 584 full data frames and one of 16 bytes; the largest image's last
// data frame carries packet number 65533 (one byte more is refused below). srec_cat writes
// records of 1 to 255 bytes, objcopy of 16.
const Size kSizes[] = {
    {1, 0, 3, "0 bytes, packNo=5(0x0005)", 100, 11, 20},
    {47, 1, 3, "0 bytes, packNo=5(0x0005)", 100, 11, 20},
    {48, 0, 3, "0 bytes, packNo=5(0x0005)", 100, 11, 20},
    {104, 7, 4, "0 bytes, packNo=7(0x0007)", 100, 11, 20},
    {48 + 56 * 9, 0, 12, "0 bytes, packNo=23(0x0017)", 100, 3, 20},
    {48 + 56 * 9 + 13, 32, 12, "13 bytes, packNo=23(0x0017)", 100, 3, 20},
    {4650, 0, 85, "10 bytes, packNo=169(0x00a9)", 100, 0, 20},
    {32768, 0, 587, "16 bytes, packNo=1173(0x0495)", 99, 0, 19},
    {100000, 1, 1787, "48 bytes, packNo=3573(0x0df5)", 99, 0, 19},
    {kMaxImageBytes, 255, 32767, "55 bytes, packNo=65533(0xfffd)", 99, 0, 19},
};
INSTANTIATE_TEST_SUITE_P(ImageSizes, SuccessfulUpdate, ::testing::ValuesIn(kSizes),
                         [](const auto& info) { return std::to_string(info.param.bytes); });

// A board that misbehaves, or a firmware file the board must not be given.
struct End {
  const char* name;
  BoardFaults faults;  // wrong checksum, silent after, unplugged after, stale, duplicate replies
  const char* file;    // the firmware file's text; by default objcopy's for a 2000-byte image
  size_t frames;       // frames sent, 0 for the whole update
  Views views;         // after "showDownloading"
  std::string reason;  // in the system log, or at the end of the trace
  uint32_t acodeTotal;
};

class UpdateThatEnds : public ::testing::TestWithParam<End> {};

TEST_P(UpdateThatEnds, ShowsItsEndAndThenOnlyCloses) {
  const End& c = GetParam();
  SimRig rig(c.faults);
  const auto image = testing::randomBytes(2000, 10);
  const std::string file = c.file ? c.file : "", hexFile = rig.engine.hexFile();
  if (!c.file) std::filesystem::copy_file(testing::objcopyHex(rig.dir, image), hexFile);
  if (file == "tooLarge") {  // one byte more than the largest image
    const auto tooLarge = testing::randomBytes(kMaxImageBytes + 1, 8);
    std::filesystem::copy_file(testing::srecCatHex(rig.dir, tooLarge, 0, 255), hexFile);
  } else if (c.file && file != "missing") {
    testing::writeFile(hexFile, file);
  }
  rig.runUpdate(hexFile, SimRig::expectedChecksumFor(image));
  // Nothing sent twice; after the last answer, one frame more.
  EXPECT_EQ(difference(rig.sent, expectedFrames(image), c.frames), "");
  const auto& events = rig.window.events;
  EXPECT_EQ(Views(events.begin() + 3, events.end()), c.views);
  EXPECT_EQ(rig.engine.state().acodeTotal, c.acodeTotal);
  EXPECT_TRUE(rig.diag.logged(c.reason) || rig.diag.out.ends_with(c.reason)) << c.reason;

  // Other devices going away change nothing; the board going away ends what has not ended.
  for (const uint32_t vid : {0x046Du, BOOTLOADER_VID})
    for (const uint32_t pid : {0xC077u, BOOTLOADER_PID})
      if (vid != BOOTLOADER_VID || pid != BOOTLOADER_PID) rig.engine.RemovalRule(vid, pid);
  EXPECT_EQ(events.size(), 3 + c.views.size());
  rig.attached = false;
  rig.engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
  const bool done = c.views.back().starts_with("showUpdateResult");
  EXPECT_EQ(events.back(), done ? c.views.back() : kRemoved);
  // Then a click ends the application.
  rig.engine.OnActionButtonClick();
  EXPECT_EQ(events.back(), "terminate");
  EXPECT_EQ(rig.server.downloads, 1);
}

Views setupError(const std::string& alert) {
  return {"setUpUpdateHexUI", "adjustToErrorUI", "alertA(Error: " + alert + ")"};
}
const std::string kSetUp = "setUpUpdateHexUI", kFailed = "showUpdateResult(failed)",
                  kNoRecords = "LoadHexFile: the firmware file holds no data records; refused",
                  kOver = "LoadHexFile: the image holds more than 1834887 bytes; refused";
const Views kNoFile = setupError("Please check your network"),
            kNoData = setupError("The firmware file holds no firmware data"),
            kTooLarge = setupError("The firmware file is too large for this board");
// The board faults name only the one each end needs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// clang-format off
const End kEnds[] = {
    {"wrongChecksum", {.wrongChecksum = true}, nullptr, 0, {kSetUp, kFailed}, "", 2000},
    {"staleAndDuplicate", {.staleReplies = true, .duplicateReplies = true}, nullptr, 0,
     {kSetUp, kComplete}, "", 2000},
    {"unpluggedAfter30", {.unplugAfter = 30}, nullptr, 31, {kSetUp, kRemoved}, "", 2000},
    {"silentAfter20", {.silentAfter = 20}, nullptr, 21, {kSetUp}, "", 2000},
    {"missing", {}, "missing", 1, kNoFile, "\nfopen(Acode) fail\n", 0},
    {"empty", {}, "", 1, kNoData, kNoRecords, 0},
    {"tooLarge", {}, "tooLarge", 1, kTooLarge, kOver, kMaxImageBytes},
};
// clang-format on
#pragma GCC diagnostic pop
INSTANTIATE_TEST_SUITE_P(Ends, UpdateThatEnds, ::testing::ValuesIn(kEnds),
                         [](const auto& info) { return std::string(info.param.name); });

// Replies made by hand: only one carrying the expected packet number answers, and only one long
// enough for what it must carry.
TEST(UpdateEngine, OnlyTheExpectedReplyAnswers) {
  SimRig rig;
  rig.attached = false;
  const auto reply = [&](Bytes bytes) {
    rig.engine.InputReportCallback(bytes.data(), bytes.size());
  };
  rig.engine.SyncOnTake();
  EXPECT_EQ(rig.diag.out, "\nsend to hidc:\na4000000010000000100" + std::string(108, '0') + "\n");
  reply({0xFF, 0xFF});  // any first reply starts the fetch; later ones only log
  reply({0xFF, 0xFF});
  EXPECT_EQ(rig.server.fetches, std::vector<int64_t>{0});
  rig.engine.releaseAccepted("V2");
  reply({0xFF, 0xFF});

  testing::writeFile(rig.engine.hexFile(), std::string(":0100000001FE\n:00000001FF\n"));
  rig.engine.firmwareStored(0x1234);
  // The sync has gone out; its reply must carry 2.
  // A later number, an earlier one, a reply too short to carry its number, an empty one.
  for (const auto& ignored :
       {Bytes{0, 0, 0, 0, 4, 0, 0, 0}, Bytes(8), Bytes{0, 0, 0, 0, 2}, Bytes{}})
    reply(ignored);
  EXPECT_EQ(rig.sent.size(), 2u);
  // A short report is dumped as 64 bytes.
  EXPECT_NE(rig.diag.out.find("\nget from hid:\n0000000002" + std::string(118, '0') + "\n"), npos);
  reply({0, 0, 0, 0, 2, 0, 0x7F, 0xEE});  // bytes 6-7 are not compared
  EXPECT_EQ(rig.sent.size(), 3u);
  for (uint8_t n : {4, 6, 8, 2, 4})
    reply({0, 0, 0, 0, n, 0});
  reply({0, 0, 0, 0, 6, 0, 0, 0, 0x12});        // too short to carry the checksum
  reply({0, 0, 0, 0, 6, 0, 0, 0, 0x12, 0x34});  // byte 8 is the high byte
  EXPECT_EQ(rig.window.events.back(), kComplete);
  // Each reply is logged with the status it found.
  for (const char* status :
       {"WAIT_GET_DUNNO_DEVICE_FWVER", "WAIT_DOWNLOAD_HEX", "DOWNLOAD_HEX_SUCCESS", "PRE_UPDATE",
        "PEND_UPDATE", "WAIT_CHECKSUM"}) {
    EXPECT_TRUE(rig.diag.logged(std::string("iStatus = STATUS_") + status)) << status;
  }
}

// Once the update has ended (an error, the verdict, the board removed), whatever the server still
// answers is logged and dropped: no view comes back over the final one, nothing is loaded or sent.
TEST(UpdateEngine, DropsEveryServerAnswerThatComesAfterTheEnd) {
  const auto image = testing::randomBytes(100, 4);
  // clang-format off
  const std::pair<std::string, std::function<void(SimRig&)>> ends[] = {
      {"STATUS_ERROR", [](SimRig& rig) {
         rig.takeBoard(); rig.engine.showErrorAlertWithMessage("Failed to connect"); }},
      {"STATUS_DONE", [](SimRig& rig) { rig.runUpdate(rig.engine.hexFile(), 0); }},
      {"STATUS_DEVICE_REMOVED", [](SimRig& rig) {
         rig.takeBoard(); rig.engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID); }}};
  const std::pair<std::string, std::function<void(UpdateEngine&)>> answers[] = {
      {"releaseAccepted", [](UpdateEngine& engine) { engine.releaseAccepted("V9"); }},
      {"showErrorAlertWithMessage", [](UpdateEngine& engine) {
         engine.showErrorAlertWithMessage("Failed to connect"); }},
      {"firmwareStored", [](UpdateEngine& engine) { engine.firmwareStored(0); }},
      {"LoadHexFile", [](UpdateEngine& engine) { engine.LoadHexFile(); }}};
  // clang-format on
  for (const auto& [status, end] : ends) {
    for (const auto& [name, answer] : answers) {
      SCOPED_TRACE(status + " " + name);
      SimRig rig;
      std::filesystem::copy_file(testing::objcopyHex(rig.dir, image), rig.engine.hexFile());
      end(rig);
      const Views views = rig.window.events;
      const size_t sent = rig.sent.size();
      answer(rig.engine);
      rig.pump();
      EXPECT_EQ(statusName(rig.engine.state().iStatus), status);
      EXPECT_EQ(rig.window.events, views);
      EXPECT_EQ(rig.sent.size(), sent);
      EXPECT_TRUE(rig.diag.logged(name + ": the update has already ended (" + status + ")" +
                                  (name == "LoadHexFile" ? "; not loading" : "")));
    }
  }
}

}  // namespace
}  // namespace trident
