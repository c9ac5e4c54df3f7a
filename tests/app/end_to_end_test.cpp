// The application as a user runs it: the real window (offscreen), the demo update server over FTP
// on loopback, and the virtual board program over its socket.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "support/process.h"
#include "support/test_support.h"
#include "ui/window_rig.h"
#include "update/servers.h"
#include "updater_app.h"

namespace trident::testing {
namespace {

using namespace std::chrono_literals;

const std::string kDemo = TRIDENT_SOURCE_DIR "/update-server";
const std::string kBoardDir = "/varnehex/VARNE_TRIDENT_Fighting_Board/";
const std::string kGood = "Firmware successfully updated.";
const std::string kFailed = "The Setup didn't finish and will restart.";
const std::string kServerError = "Something wrong , Can't Download File From FTP";

struct AppRig {
  // `hexFile` is where the application keeps the firmware: by default tmp.hex in `dir`.
  AppRig(const std::vector<std::string>& boardOptions, const std::filesystem::path& root,
         const std::filesystem::path& hexFile = {})
      : server(root) {
    std::filesystem::create_directories(dir / "hid");
    std::vector<std::string> options{"--save-image", (dir / "programmed.bin").string()};
    options.insert(options.end(), boardOptions.begin(), boardOptions.end());
    board = plugBoard(dir / "hid", options);
    app = std::make_unique<UpdaterApp>(
        UpdaterApp::Config{makeVirtualBackend((dir / "hid").string()), server.url(),
                           hexFile.empty() ? dir / "tmp.hex" : hexFile},
        diag);
    app->window().setAlertPresenter([this](ViewController&, const QString& message) {
      alerts.push_back(message.toStdString());
    });
    app->window().show();
  }
  std::string hint() { return app->window().HintMessage1()->text().toStdString(); }
  bool ready() {
    const QPushButton& button = *app->window().ActionButton();
    return button.isVisible() && button.isEnabled() && button.text() == "Update";
  }
  uint32_t status() { return app->engine().state().iStatus; }

  TempDir dir;
  RecordingDiagnostics diag;
  FtpServer server;
  std::unique_ptr<ChildProcess> board;
  std::unique_ptr<UpdaterApp> app;
  std::vector<std::string> alerts;
};

struct Outcome {
  const char* name;
  std::vector<std::string> board;  // the virtual board's options
  bool served;                     // false: the server has no releases
  bool writable;                   // false: the firmware file cannot be written
  int variant;  // the pop-up item chosen before "Update"; -1: the run ends before it is ready
  uint32_t status;
  std::string hint;
  std::string alert;  // how the one alert begins, if there is one
  std::string image;  // the demo HEX file whose bytes the board holds, if it holds them all
};

void PrintTo(const Outcome& outcome, std::ostream* os) {
  *os << outcome.name;
}

class EndToEnd : public ::testing::TestWithParam<Outcome> {};

// Each outcome, reached the way a user reaches it, ends in its view with the board holding what it
// should. After a good update the board leaves, and the result stays.
TEST_P(EndToEnd, EndsInTheViewOfItsOutcome) {
  const Outcome& o = GetParam();
  TempDir place;
  writeFile(place / "not-a-folder", std::string("x"));
  AppRig rig(o.board, o.served ? std::filesystem::path(kDemo) : place.path(),
             o.writable ? "" : place / "not-a-folder" / "tmp.hex");
  ASSERT_TRUE(rig.server.started());
  if (o.variant >= 0) {
    ASSERT_TRUE(waitUntil([&] { return rig.ready(); }, 20s)) << rig.hint();
    EXPECT_EQ(rig.app->window().VerMessage()->text(), "The lastest version: V2.1.0");
    EXPECT_EQ(rig.app->window().popUpBtn()->currentText(), "Tournament(No Turbo & Remap)");
    if (o.variant == 1) {
      rig.app->window().popUpBtn()->setFocus();
      QTest::keyClick(rig.app->window().popUpBtn(), Qt::Key_Down);
      ASSERT_TRUE(waitUntil(
          [&] {
            return rig.diag.logged("DEBUG: [Download] aHexUrl = " + rig.server.url() + kBoardDir +
                                   "TRIDENT_V2.1.0.hex") &&
                   rig.ready();
          },
          20s));
    }
    rig.app->window().ActionButton()->click();
  }
  ASSERT_TRUE(waitUntil([&] { return rig.status() == o.status; }, 30s)) << rig.hint();
  if (o.hint == kGood) {
    ASSERT_TRUE(waitUntil([&] { return !rig.app->link().hidDevice(); }, 10s));
  }
  EXPECT_EQ(rig.status(), o.status);
  EXPECT_EQ(rig.hint(), o.hint);
  EXPECT_EQ(rig.app->window().ActionButton()->text(), "Close");
  EXPECT_EQ(rig.alerts.size(), o.alert.empty() ? 0u : 1u);
  for (const auto& alert : rig.alerts)
    EXPECT_TRUE(alert.starts_with(o.alert)) << alert;
  rig.app.reset();
  EXPECT_EQ(rig.board->wait(10s), 0);
  if (o.image.empty()) return;
  const std::string programmed = readFile(rig.dir / "programmed.bin");
  EXPECT_EQ(std::vector<uint8_t>(programmed.begin(), programmed.end()),
            hexData(rig.dir, kDemo + kBoardDir + o.image));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, EndToEnd,
    ::testing::Values(
        Outcome{
            "tournament", {}, true, true, 0, STATUS_DONE, kGood, "", "TE/TRIDENT_TE_V2.1.0.hex"},
        Outcome{"standard", {}, true, true, 1, STATUS_DONE, kGood, "", "TRIDENT_V2.1.0.hex"},
        Outcome{"wrongChecksum",
                {"--wrong-checksum"},
                true,
                true,
                0,
                STATUS_DONE,
                kFailed,
                "",
                "TE/TRIDENT_TE_V2.1.0.hex"},
        Outcome{"removedMidTransfer",
                {"--unplug-after", "30"},
                true,
                true,
                0,
                STATUS_DEVICE_REMOVED,
                kFailed,
                "",
                ""},
        Outcome{"noRelease",
                {},
                false,
                true,
                -1,
                STATUS_ERROR,
                kServerError,
                "Server denied you to change to the given directory",
                ""},
        Outcome{"unwritableFirmwareFile",
                {},
                true,
                false,
                0,
                STATUS_ERROR,
                kServerError,
                "Cannot write the firmware file ",
                ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Tearing the application down mid-update joins the HID thread and any transfer; it must not
// hang, and the board sees its host go.
TEST(EndToEndClose, ClosingTheWindowMidUpdateEndsCleanly) {
  AppRig rig({"--reply-delay-ms", "2"}, kDemo);
  ASSERT_TRUE(waitUntil([&] { return rig.ready(); }, 20s));
  rig.app->window().ActionButton()->click();
  ASSERT_TRUE(waitUntil([&] { return rig.status() == STATUS_PEND_UPDATE; }, 20s));
  rig.app->window().close();
  rig.app.reset();
  EXPECT_EQ(rig.board->wait(10s), 0);
}

}  // namespace
}  // namespace trident::testing
