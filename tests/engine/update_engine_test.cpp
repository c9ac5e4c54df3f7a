// The whole exchange of an update against the in-process virtual board, and every way it can end.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/hex_loader.h"
#include "engine_rig.h"

namespace trident {
namespace {

using testing::SimRig;

template <class Set>
BoardFaults faults(Set set) {
  BoardFaults f;
  set(f);
  return f;
}

uint8_t commandOf(const Frame& f) {
  return f[0];
}
uint16_t numberOf(const Frame& f) {
  return replyPacketNumber(f);
}

// Frames of a complete update: sync on take, sync/A6/B1/A2, sync/A0, data frames, final.
size_t dataFrameCount(size_t imageBytes) {
  const size_t afterFirst = imageBytes > 48 ? imageBytes - 48 : 0;
  return afterFirst / 56 + 1;
}

class SuccessfulUpdate : public ::testing::TestWithParam<size_t> {};

TEST_P(SuccessfulUpdate, ProgramsTheImageFrameByFrame) {
  const size_t size = GetParam();
  SimRig rig;
  const auto image = testing::randomBytes(size, static_cast<uint32_t>(size) * 31);
  rig.runUpdate(testing::objcopyHex(rig.dir, image), SimRig::expectedChecksumFor(image));

  EXPECT_EQ(rig.board.programmed(), image);
  EXPECT_EQ(rig.board.announcedLength(), size);
  EXPECT_TRUE(rig.board.finished());
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_DONE);
  EXPECT_EQ(rig.engine.state().packNo, 1u);
  EXPECT_TRUE(rig.engine.state().updateFinished);
  ASSERT_FALSE(rig.window.events.empty());
  EXPECT_EQ(rig.window.events.back(), "showUpdateResult(complete)");
  // The board's disconnect after the final command changes nothing on screen.
  EXPECT_FALSE(rig.attached);
  EXPECT_EQ(std::count(rig.window.events.begin(), rig.window.events.end(), "showDeviceRemoved"), 0);

  // Frame by frame: commands and packet numbers in order.
  const size_t data = dataFrameCount(size);
  const auto& sent = rig.sent;
  ASSERT_EQ(sent.size(), 1 + 4 + 2 + data + 1);
  const uint8_t head[][2] = {{0xA4, 1}, {0xA4, 1}, {0xA6, 3}, {0xB1, 5},
                             {0xA2, 7}, {0xA4, 1}, {0xA0, 3}};
  for (size_t i = 0; i < std::size(head); ++i) {
    EXPECT_EQ(commandOf(sent[i]), head[i][0]) << "frame " << i;
    EXPECT_EQ(numberOf(sent[i]), head[i][1]) << "frame " << i;
  }
  for (size_t i = 0; i < data; ++i) {
    const Frame& f = sent[7 + i];
    EXPECT_EQ(commandOf(f), 0);
    EXPECT_EQ(numberOf(f), 5 + 2 * i);
    EXPECT_EQ(f[6] | f[7], 0);
  }
  const uint16_t lastData = static_cast<uint16_t>(3 + 2 * data);
  EXPECT_EQ(commandOf(sent.back()), 0xAB);
  EXPECT_EQ(numberOf(sent.back()), lastData + 2);

  // The first transfer frame announces the length and carries the first bytes, zeros after.
  const Frame& first = sent[6];
  EXPECT_EQ(first[8] | first[9] | first[10] | first[11], 0);
  EXPECT_EQ(static_cast<size_t>(first[12] | first[13] << 8 | first[14] << 16), size);
  const size_t inFirst = std::min<size_t>(48, size);
  EXPECT_TRUE(
      std::equal(image.begin(), image.begin() + static_cast<long>(inFirst), first.begin() + 16));
  EXPECT_TRUE(std::all_of(first.begin() + 16 + static_cast<long>(inFirst), first.end(),
                          [](uint8_t b) { return b == 0; }));
  // The last data frame holds the remainder, then zeros.
  const size_t tail = size > 48 ? (size - 48) % 56 : 0;
  const Frame& last = sent[sent.size() - 2];
  EXPECT_TRUE(std::all_of(last.begin() + 8 + static_cast<long>(tail), last.end(),
                          [](uint8_t b) { return b == 0; }));
  EXPECT_NE(rig.diag.out.find(strprintf("*** LAST PACK has %zu bytes, packNo=%u(0x%04x)\n", tail,
                                        lastData, lastData)),
            std::string::npos);

  // Whatever the size, the progress picture stays within the 21 pictures and never goes back.
  ASSERT_FALSE(rig.window.pictures.empty());
  EXPECT_TRUE(std::is_sorted(rig.window.pictures.begin(), rig.window.pictures.end()));
  EXPECT_GE(rig.window.pictures.front(), 0);
  EXPECT_LE(rig.window.pictures.back(), 20);
}

// 1 and 47 are shorter than the first frame; 104 = 48 + 56 ends in an empty last frame, as does
// 48 + 56m; 48 + 56m + r ends in a short one.
INSTANTIATE_TEST_SUITE_P(ImageSizes, SuccessfulUpdate,
                         ::testing::Values(1, 47, 48, 104, 48 + 56 * 9, 48 + 56 * 9 + 13, 4650,
                                           32768));

TEST(UpdateEngine, A32KImageShowsTheKnownFiguresAndFrameCount) {
  SimRig rig;
  const auto image = testing::randomBytes(32768, 5);
  rig.runUpdate(testing::objcopyHex(rig.dir, image), SimRig::expectedChecksumFor(image));
  ASSERT_EQ(rig.window.events.back(), "showUpdateResult(complete)");
  // Transfer frames: sync, first transfer frame, 584 full data frames, one of 16 bytes.
  EXPECT_EQ(rig.sent.size() - 1 - 4 - 1, 587u);
  const std::string& out = rig.diag.out;
  EXPECT_NE(out.find("*** LAST PACK has 16 bytes, packNo=1173(0x0495)\n"), std::string::npos);
  EXPECT_NE(out.find("============================================= 32768 remain 32664\n"),
            std::string::npos);
  EXPECT_NE(out.find("===================================================== (GUI Says) Above "
                     "Sended last pack\n(pbar,99)"),
            std::string::npos);
  EXPECT_EQ(rig.window.pictures.front(), 0);
  EXPECT_EQ(rig.window.pictures.back(), 19);
  EXPECT_NEAR(rig.engine.state().progressPercent, 99.81, 0.005);
  EXPECT_EQ(std::count(rig.window.pictures.begin(), rig.window.pictures.end(), 20), 0);
}

TEST(UpdateEngine, ProgressAfterTheFirstTwoTransferFrames) {
  SimRig rig;
  const auto image = testing::randomBytes(32768, 6);
  rig.takeBoard();
  rig.engine.releaseAccepted("V1");
  testing::writeFile(rig.engine.hexFile(), testing::readFile(testing::objcopyHex(rig.dir, image)));
  // Step the exchange by hand up to the transfer: four pre-update replies.
  rig.engine.firmwareStored(SimRig::expectedChecksumFor(image));
  for (int i = 0; i < 4; ++i) {
    const Frame reply = rig.pending.front();
    rig.pending.pop_front();
    rig.engine.InputReportCallback(reply.data(), reply.size());
  }
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_PEND_UPDATE);
  EXPECT_NEAR(rig.engine.state().progressPercent, 0.25, 0.005);  // after the sync frame
  const Frame reply = rig.pending.front();
  rig.pending.pop_front();
  rig.engine.InputReportCallback(reply.data(), reply.size());
  EXPECT_NEAR(rig.engine.state().progressPercent, 0.42, 0.005);  // after the first transfer frame
  EXPECT_EQ(rig.engine.state().acodeLength, 32768u - 48);
  EXPECT_EQ(rig.engine.state().acodeOffset, 48u);
}

TEST(UpdateEngine, TheTraceOfAnExchangeIsTheDumpsInOrder) {
  SimRig rig;
  const auto image = testing::randomBytes(104, 9);
  rig.runUpdate(testing::objcopyHex(rig.dir, image), SimRig::expectedChecksumFor(image));
  // Sync on take, its reply; then every frame is followed by its reply's dump.
  const std::string& out = rig.diag.out;
  const std::string takeSync = sendDump(makeSyncFrame());
  ASSERT_EQ(out.rfind(takeSync, 0), 0u);
  size_t at = 0;
  size_t sends = 0;
  size_t receives = 0;
  while ((at = out.find("\nsend to hidc:\n", at)) != std::string::npos)
    ++sends, ++at;
  at = 0;
  while ((at = out.find("\nget from hid:\n", at)) != std::string::npos)
    ++receives, ++at;
  EXPECT_EQ(sends, rig.sent.size());
  EXPECT_EQ(receives, rig.sent.size() - 1);  // the final command is answered by a disconnect
  for (const Frame& f : rig.sent)
    EXPECT_NE(out.find(sendDump(f)), std::string::npos);
  EXPECT_NE(out.find("fopen(Acode) success\nfsize="), std::string::npos);
  // Each data frame's progress figure follows its dump, without a line break of its own.
  EXPECT_NE(out.find("============================================= 104 remain 0\n(pbar,"),
            std::string::npos);
  EXPECT_TRUE(rig.diag.logged("iStatus = STATUS_WAIT_GET_DUNNO_DEVICE_FWVER"));
  EXPECT_TRUE(rig.diag.logged("iStatus = STATUS_PRE_UPDATE"));
  EXPECT_TRUE(rig.diag.logged("iStatus = STATUS_PEND_UPDATE"));
  EXPECT_TRUE(rig.diag.logged("iStatus = STATUS_WAIT_CHECKSUM"));
}

// --- the board's verdict
// --------------------------------------------------------------------------

TEST(UpdateEngine, WrongChecksumEndsInUpdateFailedWithTheFinalCommandSent) {
  SimRig rig(faults([](auto& f) { f.wrongChecksum = true; }));
  const auto image = testing::randomBytes(3000, 10);
  rig.runUpdate(testing::objcopyHex(rig.dir, image), SimRig::expectedChecksumFor(image));
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_DONE);
  EXPECT_EQ(rig.window.events.back(), "showUpdateResult(failed)");
  EXPECT_EQ(commandOf(rig.sent.back()), 0xAB);
  EXPECT_TRUE(rig.board.finished());
}

TEST(UpdateEngine, ChecksumReplyReadsByte8AsTheHighByte) {
  for (const auto& [expected, success] :
       {std::pair<uint64_t, bool>{0x1234, true}, {0x3412, false}}) {
    SimRig rig;
    rig.takeBoard();
    rig.engine.releaseAccepted("V1");
    testing::writeFile(rig.engine.hexFile(), std::string(":0100000001FE\n"));
    rig.attached = false;  // replies are made by hand below
    rig.engine.firmwareStored(expected);
    auto answer = [&](uint16_t number, uint8_t b8, uint8_t b9) {
      Frame r{};
      r[4] = static_cast<uint8_t>(number);
      r[5] = static_cast<uint8_t>(number >> 8);
      r[8] = b8;
      r[9] = b9;
      rig.engine.InputReportCallback(r.data(), r.size());
    };
    for (uint16_t n : {2, 4, 6, 8, 2, 4})
      answer(n, 0, 0);
    ASSERT_EQ(rig.engine.state().iStatus, STATUS_WAIT_CHECKSUM);
    answer(6, 0x12, 0x34);
    EXPECT_EQ(rig.window.events.back(),
              success ? "showUpdateResult(complete)" : "showUpdateResult(failed)");
  }
}

// --- replies that do not answer
// -------------------------------------------------------------------

TEST(UpdateEngine, StaleAndDuplicateRepliesAreIgnored) {
  for (const BoardFaults& boardFaults :
       {faults([](auto& f) { f.staleReplies = true; }),
        faults([](auto& f) { f.duplicateReplies = true; }),
        faults([](auto& f) { f.staleReplies = f.duplicateReplies = true; })}) {
    SimRig rig(boardFaults);
    const auto image = testing::randomBytes(2000, 11);
    rig.runUpdate(testing::objcopyHex(rig.dir, image), SimRig::expectedChecksumFor(image));
    EXPECT_EQ(rig.board.programmed(), image);
    EXPECT_EQ(rig.window.events.back(), "showUpdateResult(complete)");
    // Nothing was sent twice.
    EXPECT_EQ(rig.sent.size(), 1 + 4 + 2 + dataFrameCount(image.size()) + 1);
  }
}

TEST(UpdateEngine, OnlyTheExpectedPacketNumberAnswers) {
  SimRig rig;
  rig.takeBoard();
  rig.engine.releaseAccepted("V1");
  testing::writeFile(rig.engine.hexFile(), std::string(":0100000001FE\n"));
  rig.attached = false;
  rig.engine.firmwareStored(0);
  ASSERT_EQ(rig.engine.state().iStatus, STATUS_PRE_UPDATE);
  ASSERT_EQ(rig.engine.state().packNo, 3u);
  const size_t sentBefore = rig.sent.size();
  auto reply = [&](std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> r(bytes);
    rig.engine.InputReportCallback(r.data(), r.size());
  };
  reply({0, 0, 0, 0, 4, 0, 0, 0});  // wrong number
  reply({0, 0, 0, 0, 0, 0, 0, 0});  // an earlier one
  reply({0, 0, 0, 0, 2});           // too short to carry its number
  reply({});                        // empty
  EXPECT_EQ(rig.sent.size(), sentBefore);
  EXPECT_EQ(rig.engine.state().packNo, 3u);
  reply({0, 0, 0, 0, 2, 0, 0x7F, 0xEE});  // bytes 6-7 are not compared
  EXPECT_EQ(rig.sent.size(), sentBefore + 1);
  EXPECT_EQ(commandOf(rig.sent.back()), 0xA6);
  // A short report is still dumped as 64 bytes.
  EXPECT_NE(rig.diag.out.find("\nget from hid:\n0000000002\n"), std::string::npos - 1);
  EXPECT_NE(rig.diag.out.find("\nget from hid:\n00000000020000000000"), std::string::npos);
}

TEST(UpdateEngine, RepliesBeforeTheUpdateOnlyLog) {
  SimRig rig;
  rig.attached = false;
  rig.engine.SyncOnTake();
  const Frame junk{0xFF, 0xFF};
  rig.engine.InputReportCallback(junk.data(), junk.size());  // any first reply starts the fetch
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_WAIT_DOWNLOAD_HEX);
  EXPECT_EQ(rig.window.events.front(), "fillVariantPopUp(Tournament(No Turbo & Remap)|Standard)");
  EXPECT_EQ(rig.server.fetches, std::vector<int64_t>{0});
  rig.engine.InputReportCallback(junk.data(), junk.size());  // a second one only logs
  EXPECT_EQ(rig.server.fetches.size(), 1u);
  EXPECT_TRUE(rig.diag.logged("iStatus = STATUS_WAIT_DOWNLOAD_HEX"));
  rig.engine.releaseAccepted("V2");
  rig.engine.InputReportCallback(junk.data(), junk.size());
  EXPECT_TRUE(rig.diag.logged("iStatus = STATUS_DOWNLOAD_HEX_SUCCESS"));
  EXPECT_EQ(rig.sent.size(), 1u);
}

// --- a board that goes away
// -----------------------------------------------------------------------

// Brings a rig to the named point of an update, with the board still attached.
void driveTo(SimRig& rig, uint32_t status) {
  if (status == STATUS_WAIT_GET_DUNNO_DEVICE_FWVER) return;
  rig.takeBoard();
  if (status == STATUS_WAIT_DOWNLOAD_HEX) return;
  if (status == STATUS_ERROR) {
    rig.engine.showErrorAlertWithMessage("Parse txt file error");
    return;
  }
  rig.engine.releaseAccepted("V1");
  if (status == STATUS_DOWNLOAD_HEX_SUCCESS) return;
  const auto image = testing::randomBytes(500, 3);
  testing::writeFile(rig.engine.hexFile(), testing::readFile(testing::objcopyHex(rig.dir, image)));
  rig.engine.firmwareStored(SimRig::expectedChecksumFor(image));
  while (rig.engine.state().iStatus != status && !rig.pending.empty()) {
    const Frame reply = rig.pending.front();
    rig.pending.pop_front();
    rig.engine.InputReportCallback(reply.data(), reply.size());
  }
  ASSERT_EQ(rig.engine.state().iStatus, status);
}

class RemovalInStatus : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RemovalInStatus, ShowsDeviceRemovedAndEndsTheUpdate) {
  SimRig rig;
  driveTo(rig, GetParam());
  rig.pending.clear();
  const size_t sentBefore = rig.sent.size();
  rig.attached = false;
  rig.engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_DEVICE_REMOVED);
  EXPECT_EQ(rig.window.events.back(), "showDeviceRemoved");
  // Nothing more goes out, and a late reply changes nothing.
  const Frame reply{};
  rig.engine.InputReportCallback(reply.data(), reply.size());
  EXPECT_EQ(rig.sent.size(), sentBefore);
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_DEVICE_REMOVED);
  // The next click ends the application.
  rig.engine.OnActionButtonClick();
  EXPECT_EQ(rig.window.events.back(), "terminate");
}

INSTANTIATE_TEST_SUITE_P(EveryStatusBeforeTheChecksum, RemovalInStatus,
                         ::testing::Values(STATUS_WAIT_GET_DUNNO_DEVICE_FWVER,
                                           STATUS_WAIT_DOWNLOAD_HEX, STATUS_DOWNLOAD_HEX_SUCCESS,
                                           STATUS_PRE_UPDATE, STATUS_PEND_UPDATE,
                                           STATUS_WAIT_CHECKSUM, STATUS_ERROR),
                         [](const auto& info) { return std::string(statusName(info.param)); });

TEST(UpdateEngine, RemovalAfterTheChecksumReplyOrOfAnotherDeviceChangesNothing) {
  SimRig rig;
  const auto image = testing::randomBytes(700, 4);
  rig.runUpdate(testing::objcopyHex(rig.dir, image), SimRig::expectedChecksumFor(image));
  const auto events = rig.window.events;
  rig.engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);  // a second removal report
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_DONE);
  EXPECT_EQ(rig.window.events, events);

  SimRig other;
  other.takeBoard();
  other.engine.RemovalRule(0x046D, 0xC077);  // a mouse
  other.engine.RemovalRule(0, 0);            // a device without IDs
  other.engine.RemovalRule(BOOTLOADER_VID, 0x3F01);
  EXPECT_EQ(other.engine.state().iStatus, STATUS_WAIT_DOWNLOAD_HEX);
}

TEST(UpdateEngine, UnpluggedMidTransferEndsInDeviceRemoved) {
  SimRig rig(faults([](auto& f) { f.unplugAfter = 30; }));
  const auto image = testing::randomBytes(5000, 12);
  rig.runUpdate(testing::objcopyHex(rig.dir, image), SimRig::expectedChecksumFor(image));
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_DEVICE_REMOVED);
  EXPECT_EQ(rig.window.events.back(), "showDeviceRemoved");
  EXPECT_FALSE(rig.board.finished());
}

TEST(UpdateEngine, ASilentBoardLeavesTheUpdateWaitingUntilItIsUnplugged) {
  SimRig rig(faults([](auto& f) { f.silentAfter = 20; }));
  const auto image = testing::randomBytes(5000, 13);
  rig.runUpdate(testing::objcopyHex(rig.dir, image), SimRig::expectedChecksumFor(image));
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_PEND_UPDATE);
  EXPECT_EQ(rig.sent.size(), 21u);  // the frame after the last answer, never resent
  rig.attached = false;
  rig.engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
  EXPECT_EQ(rig.window.events.back(), "showDeviceRemoved");
}

TEST(UpdateEngine, AFirmwareStoredAfterTheBoardWentAwayIsNotLoaded) {
  SimRig rig;
  rig.takeBoard();
  rig.engine.releaseAccepted("V1");
  rig.engine.OnActionButtonClick();
  rig.attached = false;
  rig.engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
  const size_t sentBefore = rig.sent.size();
  testing::writeFile(rig.engine.hexFile(), std::string(":0100000001FE\n"));
  rig.engine.LoadHexFile();
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_DEVICE_REMOVED);
  EXPECT_EQ(rig.sent.size(), sentBefore);
  EXPECT_EQ(rig.window.events.back(), "showDeviceRemoved");
  EXPECT_EQ(rig.diag.out.find("fopen(Acode)"), std::string::npos);
}

TEST(UpdateEngine, AFirmwareStoredAgainMidTransferStartsTheImageOver) {
  SimRig rig;
  const auto image = testing::randomBytes(1000, 14);
  const uint64_t checksum = SimRig::expectedChecksumFor(image);
  std::filesystem::copy_file(testing::objcopyHex(rig.dir, image), rig.engine.hexFile());
  rig.takeBoard();
  rig.engine.releaseAccepted("V1");
  rig.engine.OnActionButtonClick();
  // Replies one at a time, so that the image counts can be read between them.
  const auto answer = [&](size_t replies) {
    for (size_t i = 0; i < replies && !rig.pending.empty(); ++i) {
      const Frame reply = rig.pending.front();
      rig.pending.pop_front();
      rig.engine.InputReportCallback(reply.data(), reply.size());
      const EngineState& st = rig.engine.state();
      if (st.iStatus == STATUS_PEND_UPDATE || st.iStatus == STATUS_WAIT_CHECKSUM) {
        EXPECT_EQ(st.acodeOffset + st.acodeLength, st.acodeTotal) << "packNo " << st.packNo;
      }
    }
  };
  rig.engine.firmwareStored(checksum);
  answer(10);  // pre-update, sync, first transfer frame and a few data frames
  ASSERT_EQ(rig.engine.state().iStatus, STATUS_PEND_UPDATE);
  ASSERT_GT(rig.engine.state().acodeOffset, 48u);

  rig.engine.firmwareStored(checksum);
  answer(1000);
  rig.pump();
  EXPECT_EQ(rig.window.events.back(), "showUpdateResult(complete)");
  EXPECT_EQ(rig.board.programmed(), image);
}

// --- firmware files the board must not be given
// ---------------------------------------------------

struct RefusedFile {
  const char* name;
  std::string content;
  const char* alert;
};

class RefusedFirmware : public ::testing::TestWithParam<RefusedFile> {};

TEST_P(RefusedFirmware, EndsInSetupErrorWithoutSendingAFrame) {
  SimRig rig;
  rig.takeBoard();
  rig.engine.releaseAccepted("V1");
  rig.engine.OnActionButtonClick();
  if (GetParam().name != std::string("missing")) {
    testing::writeFile(rig.engine.hexFile(), GetParam().content);
  }
  const size_t sentBefore = rig.sent.size();
  rig.engine.firmwareStored(0x1234);
  EXPECT_EQ(rig.sent.size(), sentBefore);
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_ERROR);
  const auto& ev = rig.window.events;
  ASSERT_GE(ev.size(), 3u);
  EXPECT_EQ(ev[ev.size() - 3], "setUpUpdateHexUI");
  EXPECT_EQ(ev[ev.size() - 2], "adjustToErrorUI");
  EXPECT_EQ(ev.back(), std::string("alertA(") + GetParam().alert + ")");
  rig.engine.OnActionButtonClick();
  EXPECT_EQ(rig.window.events.back(), "terminate");
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedFirmware,
    ::testing::Values(RefusedFile{"missing", "", "Error: Please check your network"},
                      RefusedFile{"empty", "", "Error: The firmware file holds no firmware data"},
                      RefusedFile{"eofOnly", ":00000001FF\r\n",
                                  "Error: The firmware file holds no firmware data"},
                      RefusedFile{"notHex", "<html>550 Not found</html>\n",
                                  "Error: The firmware file holds no firmware data"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateEngine, MissingFirmwareFileTracesTheFailure) {
  SimRig rig;
  rig.engine.firmwareStored(0);
  EXPECT_EQ(rig.diag.out, "fopen(Acode) fail\n");
  EXPECT_EQ(rig.engine.state().acodeTotal, 0u);
  EXPECT_EQ(rig.engine.state().packNo, 1u);
}

TEST(UpdateEngine, TheLargestImageGoesOutAndOneByteMoreIsRefused) {
  {
    SimRig rig;
    const std::vector<uint8_t> image(kMaxImageBytes, 0xA5);
    rig.runUpdate(testing::srecCatHex(rig.dir, image, 0, 255), SimRig::expectedChecksumFor(image));
    EXPECT_EQ(rig.window.events.back(), "showUpdateResult(complete)");
    EXPECT_EQ(numberOf(rig.sent[rig.sent.size() - 2]), 65533);
    EXPECT_EQ(rig.board.programmed().size(), kMaxImageBytes);
  }
  {
    SimRig rig;
    const std::vector<uint8_t> image(kMaxImageBytes + 1, 0x5A);
    rig.runUpdate(testing::srecCatHex(rig.dir, image, 0, 255), 0);
    EXPECT_EQ(rig.window.events.back(),
              "alertA(Error: The firmware file is too large for this board)");
    EXPECT_EQ(rig.sent.size(), 1u);  // only the sync on take
  }
}

// --- the action button and the error views
// ---------------------------------------------------------

TEST(UpdateEngine, ActionButtonStartsOneDownloadOrEndsTheApplication) {
  SimRig rig;
  rig.takeBoard();
  rig.engine.releaseAccepted("V3");
  rig.engine.OnActionButtonClick();
  EXPECT_EQ(rig.server.downloads, 1);
  EXPECT_EQ(rig.window.events.back(), "showDownloading");

  rig.engine.showErrorAlertWithMessage("Failed to connect to 127.0.0.1 port 2121");
  const std::vector<std::string> tail(rig.window.events.end() - 2, rig.window.events.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"showServerError",
                                            "alertA(Failed to connect to 127.0.0.1 port 2121)"}));
  EXPECT_EQ(rig.engine.state().iStatus, STATUS_ERROR);
  rig.engine.OnActionButtonClick();
  EXPECT_EQ(rig.window.events.back(), "terminate");
  EXPECT_EQ(rig.server.downloads, 1);
}

}  // namespace
}  // namespace trident
