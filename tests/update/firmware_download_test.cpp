// The firmware download after "Update": the stored file, the expected checksum, and every way the
// download can fail or be overtaken.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include <poll.h>

#include "client_rig.h"
#include "update/variants.h"

namespace trident {
namespace {

using testing::ClientRig;
using testing::ScriptedHttpServer;
using Views = std::vector<std::string>;

const std::string kTePath(kFirmwareVariants[0].releasePath);
const std::string kStandardPath(kFirmwareVariants[1].releasePath);

std::string checksumField(const std::vector<uint8_t>& image) {
  return strprintf("0x%04X", std::accumulate(image.begin(), image.end(), 0u) & 0xFFFF);
}

bool contains(const Views& views, std::string_view view) {
  return std::find(views.begin(), views.end(), view) != views.end();
}

class FirmwareDownload : public ::testing::Test, public testing::Served {
 protected:
  void SetUp() override { ASSERT_TRUE(server.started()) << server.output(); }

  // Publishes a firmware image as objcopy writes it, and a release line for it.
  std::string publishRelease(std::string_view releasePath, std::string_view hexPath,
                             const std::vector<uint8_t>& image, std::string_view checksum) {
    const std::string hex = testing::readFile(testing::objcopyHex(dir, image));
    publish(hexPath, hex);
    publish(releasePath, "N,V1," + std::string(checksum) + "," + std::string(hexPath));
    return hex;
  }

  // Fetches variant 0 through `rig` and clicks "Update" once it is ready.
  static void acceptAndClick(ClientRig& rig) {
    rig.client.fetchVariant(0);
    ASSERT_TRUE(rig.settle());
    ASSERT_EQ(rig.status(), STATUS_DOWNLOAD_HEX_SUCCESS) << rig.alert();
    rig.clickUpdate();
  }

  const std::vector<uint8_t> image = testing::randomBytes(1000, 7);
};

TEST_F(FirmwareDownload, StoresTheFileAndTheBoardConfirmsItsChecksum) {
  const std::string hex = publishRelease(kTePath, "/fw/te.hex", image, checksumField(image));
  ClientRig rig(server.url());
  acceptAndClick(rig);
  ASSERT_TRUE(rig.settle());

  EXPECT_EQ(testing::readFile(rig.sim.engine.hexFile()), hex);
  const uint64_t expected = testing::SimRig::expectedChecksumFor(image);
  EXPECT_EQ(rig.sim.engine.state().ftp_checksum_integer, expected);
  EXPECT_TRUE(rig.logged("downloadNewVerHexFile"));
  EXPECT_TRUE(rig.logged(
      strprintf("DEBUG: [Download] success, ftp_checksum_integer = %ld", long(expected))));
  EXPECT_EQ(rig.views().back(), "setUpUpdateHexUI");
  EXPECT_EQ(rig.status(), STATUS_PRE_UPDATE);

  rig.sim.pump();
  EXPECT_EQ(rig.sim.board.programmed(), image);
  EXPECT_EQ(rig.views().back(), "showUpdateResult(complete)");
}

TEST_F(FirmwareDownload, TheChecksumFieldIsWhatTheBoardMustReport) {
  publishRelease(kTePath, "/fw/te.hex", image, "0x1234");
  ClientRig rig(server.url());
  acceptAndClick(rig);
  ASSERT_TRUE(rig.settle());
  EXPECT_TRUE(rig.logged("DEBUG: [Download] success, ftp_checksum_integer = 13330"));
  rig.sim.pump();
  EXPECT_EQ(rig.views().back(), "showUpdateResult(failed)");
}

TEST_F(FirmwareDownload, FailuresEndInServerErrorWithoutLoading) {
  publish(kTePath, "N,V1,0x1234,/fw/missing.hex");
  // Where the firmware file is kept cannot be written: its parent is a regular file, or its own
  // name is taken by a directory.
  testing::TempDir place;
  testing::writeFile(place / "blocker", "not a directory");
  std::filesystem::create_directories(place / "taken.hex");
  publish(kStandardPath, "N,V1,0x1234,/fw/present.hex");
  publish("/fw/present.hex", testing::readFile(testing::objcopyHex(dir, image)));
  struct Row {
    int64_t variant;
    std::filesystem::path hexFile;
    std::string alert;
    const char* log;
  };
  const Row rows[] = {
      {0, {}, "The file does not exist", "DEBUG: dataTaskA error"},
      {1, place / "blocker" / "tmp.hex",
       "Cannot write the firmware file " + (place / "blocker/tmp.hex").string() +
           ": Not a directory",
       nullptr},
      {1, place / "taken.hex",
       "Cannot write the firmware file " + (place / "taken.hex").string() + ": Is a directory",
       nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.alert);
    ClientRig rig(server.url(), {}, row.hexFile);
    rig.client.fetchVariant(row.variant);
    ASSERT_TRUE(rig.settle());
    rig.clickUpdate();
    ASSERT_TRUE(rig.settle());
    const auto views = rig.views();
    EXPECT_EQ(Views(views.end() - 3, views.end()),
              (Views{"showDownloading", "showServerError", "alertA(" + row.alert + ")"}));
    EXPECT_EQ(rig.status(), STATUS_ERROR);
    EXPECT_EQ(rig.sim.engine.state().ftp_checksum_integer, 0u);
    EXPECT_TRUE(rig.logged(row.log ? row.log : "DEBUG: [Download] " + row.alert));
    EXPECT_FALSE(std::filesystem::is_regular_file(rig.sim.engine.hexFile()));
  }
  // Nothing half-written is left beside the firmware file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(place.path()), {}), 2);
}

TEST_F(FirmwareDownload, AnEmptyBodyReplacesAStaleFileAndIsNotProgrammed) {
  publish(kTePath, "N,V1,0x1234,/fw/empty.hex");
  publish("/fw/empty.hex", "");
  ClientRig rig(server.url());
  testing::writeFile(rig.sim.engine.hexFile(), testing::readFile(testing::objcopyHex(dir, image)));
  acceptAndClick(rig);
  ASSERT_TRUE(rig.settle());
  EXPECT_EQ(testing::readFile(rig.sim.engine.hexFile()), "");
  EXPECT_EQ(rig.views().back(), "alertA(Error: The firmware file holds no firmware data)");
  EXPECT_TRUE(rig.sim.board.programmed().empty());
}

TEST_F(FirmwareDownload, UsesTheReleaseCurrentAtTheClick) {
  const std::string hex = publishRelease(kTePath, "/fw/te.hex", image, checksumField(image));
  publish(kStandardPath, "STD,V9,0xBEEF,/fw/te.hex");
  ScriptedHttpServer inFlight(testing::httpOk("LATE,V8,0xCAFE,/fw/late.hex"), /*hold=*/true);
  ClientRig rig(server.url());
  rig.client.fetchVariant(0);
  ASSERT_TRUE(rig.settle());
  const auto clicked = rig.client.currentRelease();
  // A fetch still running at the click, and a choice made after it, change nothing.
  rig.client.downloadNewVerUpdateInfoBy(inFlight.url() + "/late.txt");
  rig.clickUpdate();
  rig.client.popUpBtnValueChanged(1);
  inFlight.release();
  ASSERT_TRUE(rig.settle());

  EXPECT_EQ(rig.client.currentRelease(), clicked);
  EXPECT_EQ(rig.sim.engine.state().ftp_checksum_integer,
            testing::SimRig::expectedChecksumFor(image));
  EXPECT_EQ(testing::readFile(rig.sim.engine.hexFile()), hex);
  const auto views = rig.views();
  EXPECT_EQ(views.back(), "setUpUpdateHexUI");
  EXPECT_EQ(std::count_if(views.begin(), views.end(),
                          [](const auto& v) { return v.rfind("showReady", 0) == 0; }),
            1);
  EXPECT_TRUE(
      rig.logged("DEBUG: [Download] the firmware download has begun; no new fetch is started"));
}

TEST_F(FirmwareDownload, AnAnswerAfterTheBoardWentAwayChangesNothing) {
  publishRelease(kTePath, "/fw/te.hex", image, checksumField(image));
  ClientRig rig(server.url());
  acceptAndClick(rig);
  rig.sim.engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
  ASSERT_TRUE(rig.settle());
  EXPECT_EQ(rig.views().back(), "showDeviceRemoved");
  EXPECT_FALSE(contains(rig.views(), "setUpUpdateHexUI"));
  EXPECT_EQ(rig.status(), STATUS_DEVICE_REMOVED);
  EXPECT_TRUE(rig.logged(
      "DEBUG: [Download] the update has already ended (STATUS_DEVICE_REMOVED); the firmware "
      "download is dropped"));
}

TEST(TransferRunner, EndingTheClientStopsItsTransfers) {
  uint16_t port = 0;
  const auto silent = testing::listenOnLoopback(port);
  const auto start = testing::Clock::now();
  {
    ClientRig rig("ftp://127.0.0.1:" + std::to_string(port));  // the full 30-second time-outs
    rig.client.fetchVariant(0);
    // The transfer is connected and waiting for a greeting that never comes.
    pollfd pending{silent.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&pending, 1, 10000), 1);
    EXPECT_TRUE(rig.client.busy());
  }
  EXPECT_LT(testing::Clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace trident
