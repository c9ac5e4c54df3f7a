// The application as a user runs it: the real window (offscreen), the demo update server over FTP
// on loopback, and the virtual board program over its socket.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "engine/hex_loader.h"
#include "support/test_support.h"
#include "ui/window_rig.h"
#include "update/servers.h"
#include "updater_app.h"

namespace trident {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

struct AppRig {
  explicit AppRig(std::vector<std::string> boardOptions = {},
                  std::filesystem::path root = TRIDENT_SOURCE_DIR "/update-server",
                  std::filesystem::path hexFile = {})
      : server(root) {
    std::filesystem::create_directories(dir / "hid");
    std::vector<std::string> argv = {TRIDENT_BINARY_DIR "/tools/board-sim/trident-board-sim",
                                     "--virtual-hid", (dir / "hid").string(), "--save-image",
                                     (dir / "programmed.bin").string()};
    argv.insert(argv.end(), boardOptions.begin(), boardOptions.end());
    board = std::make_unique<testing::ChildProcess>(argv);
    UpdaterApp::Config config;
    config.hid = makeVirtualBackend((dir / "hid").string());
    config.serverUrl = server.url();
    config.hexFile = hexFile.empty() ? dir / "tmp.hex" : hexFile;
    app = std::make_unique<UpdaterApp>(std::move(config), diag);
    app->window().setAlertPresenter([this](ViewController&, const QString& message) {
      alerts.push_back(message.toStdString());
    });
    app->window().show();
  }

  QString hint() { return app->window().HintMessage1()->text(); }
  bool ready() {
    return app->window().ActionButton()->isVisible() && app->window().ActionButton()->isEnabled() &&
           app->window().ActionButton()->text() == "Update";
  }

  testing::TempDir dir;
  testing::RecordingDiagnostics diag;
  testing::FtpServer server;
  std::unique_ptr<testing::ChildProcess> board;
  std::unique_ptr<UpdaterApp> app;
  std::vector<std::string> alerts;
};

std::vector<uint8_t> hexData(const std::filesystem::path& file) {
  HexImage image;
  int32_t lineNO = 0;
  NullDiagnostics quiet;
  EXPECT_EQ(readHexImage(file, image, lineNO, quiet), HexLoadStatus::Loaded);
  return {image.bytes.get(), image.bytes.get() + image.length};
}

TEST(EndToEnd, AClickOnUpdateProgramsTheBoardWithTheServedFirmware) {
  AppRig rig;
  ASSERT_TRUE(rig.server.started());
  ASSERT_TRUE(waitUntil([&] { return rig.ready(); }, 20s)) << rig.hint().toStdString();
  EXPECT_EQ(rig.app->window().VerMessage()->text(), "The lastest version: V2.1.0");
  EXPECT_EQ(rig.app->window().popUpBtn()->currentText(), "Tournament(No Turbo & Remap)");

  rig.app->window().ActionButton()->click();
  ASSERT_TRUE(waitUntil([&] { return rig.hint() == "Firmware successfully updated."; }, 30s))
      << rig.hint().toStdString();
  EXPECT_TRUE(rig.alerts.empty());
  const auto served = hexData(TRIDENT_SOURCE_DIR
                              "/update-server/varnehex/VARNE_TRIDENT_Fighting_Board/TE/"
                              "TRIDENT_TE_V2.1.0.hex");
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(rig.dir / "programmed.bin"); }, 10s));
  const std::string programmed = testing::readFile(rig.dir / "programmed.bin");
  EXPECT_EQ(std::vector<uint8_t>(programmed.begin(), programmed.end()), served);
  // The board leaves after the final command; the result stays.
  ASSERT_TRUE(waitUntil([&] { return !rig.app->link().hidDevice(); }, 10s));
  EXPECT_EQ(rig.hint(), "Firmware successfully updated.");
  EXPECT_EQ(rig.app->engine().state().iStatus, STATUS_DONE);
}

TEST(EndToEnd, ChoosingStandardFetchesTheOtherRelease) {
  AppRig rig;
  ASSERT_TRUE(waitUntil([&] { return rig.ready(); }, 20s));
  rig.app->window().popUpBtn()->setCurrentIndex(1);
  emit rig.app->window().popUpBtn()->activated(1);
  ASSERT_TRUE(waitUntil(
      [&] {
        return rig.diag.logged("DEBUG: [Download] aHexUrl = " + rig.server.url() +
                               "/varnehex/VARNE_TRIDENT_Fighting_Board/TRIDENT_V2.1.0.hex");
      },
      20s));
  ASSERT_TRUE(waitUntil([&] { return rig.ready(); }, 20s));
}

TEST(EndToEnd, AWrongChecksumAndAnUnpluggedBoardBothEndInFailure) {
  {
    AppRig rig({"--wrong-checksum"});
    ASSERT_TRUE(waitUntil([&] { return rig.ready(); }, 20s));
    rig.app->window().ActionButton()->click();
    ASSERT_TRUE(waitUntil([&] { return rig.app->engine().state().iStatus == STATUS_DONE; }, 30s));
    EXPECT_EQ(rig.hint(), "The Setup didn't finish and will restart.");
    EXPECT_EQ(rig.app->window().ActionButton()->text(), "Close");
  }
  {
    AppRig rig({"--unplug-after", "30"});
    ASSERT_TRUE(waitUntil([&] { return rig.ready(); }, 20s));
    rig.app->window().ActionButton()->click();
    ASSERT_TRUE(
        waitUntil([&] { return rig.app->engine().state().iStatus == STATUS_DEVICE_REMOVED; }, 30s));
    EXPECT_EQ(rig.hint(), "The Setup didn't finish and will restart.");
  }
}

TEST(EndToEnd, AServerWithoutTheReleaseEndsInServerError) {
  testing::TempDir empty;
  AppRig rig({}, empty.path());
  ASSERT_TRUE(waitUntil([&] { return !rig.alerts.empty(); }, 20s));
  EXPECT_EQ(rig.alerts.front(), "Server denied you to change to the given directory");
  EXPECT_EQ(rig.hint(), "Something wrong , Can't Download File From FTP");
  EXPECT_EQ(rig.app->engine().state().iStatus, STATUS_ERROR);
}

}  // namespace
}  // namespace trident

namespace trident {
namespace {

TEST(EndToEnd, AFirmwareFileThatCannotBeWrittenEndsInServerError) {
  testing::TempDir place;
  testing::writeFile(place / "not-a-folder", std::string("x"));
  AppRig rig({}, TRIDENT_SOURCE_DIR "/update-server", place / "not-a-folder" / "tmp.hex");
  ASSERT_TRUE(testing::waitUntil([&] { return rig.ready(); }, std::chrono::seconds(20)));
  rig.app->window().ActionButton()->click();
  ASSERT_TRUE(testing::waitUntil([&] { return !rig.alerts.empty(); }, std::chrono::seconds(20)));
  EXPECT_EQ(rig.alerts.front().rfind("Cannot write the firmware file ", 0), 0u)
      << rig.alerts.front();
  EXPECT_EQ(rig.hint(), "Something wrong , Can't Download File From FTP");
  EXPECT_EQ(rig.app->engine().state().iStatus, STATUS_ERROR);
  EXPECT_EQ(rig.app->window().ActionButton()->text(), "Close");
}

TEST(EndToEnd, ClosingTheWindowMidUpdateEndsCleanly) {
  AppRig rig({"--reply-delay-ms", "2"});
  ASSERT_TRUE(testing::waitUntil([&] { return rig.ready(); }, std::chrono::seconds(20)));
  rig.app->window().ActionButton()->click();
  ASSERT_TRUE(
      testing::waitUntil([&] { return rig.app->engine().state().iStatus == STATUS_PEND_UPDATE; },
                         std::chrono::seconds(20)));
  rig.app->window().close();
  // Tearing the application down joins the HID thread and any transfer; it must not hang.
  rig.app.reset();
  SUCCEED();
}

}  // namespace
}  // namespace trident
