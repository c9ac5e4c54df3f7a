// The application as a user runs it: the real window (offscreen), the demo update server over FTP
// on loopback, and the virtual board program over its socket.
#include <gtest/gtest.h>

#include <QTest>

#include "support/test_support.h"
#include "ui/window_rig.h"
#include "update/servers.h"
#include "updater_app.h"

namespace trident::testing {
namespace {

using namespace std::chrono_literals;

const std::string kDemo = TRIDENT_SOURCE_DIR "/update-server";
const std::string kHexDir = kDemo + "/varnehex/VARNE_TRIDENT_Fighting_Board/";
// The Ready view with the first or the second item of the pop-up selected.
const std::string kReady[] = {
    "Tournament(No Turbo & Remap)*, Standard | device | - | - | The lastest version: V2.1.0 | "
    "Click Button to start update | Update",
    "Tournament(No Turbo & Remap), Standard* | device | - | - | The lastest version: V2.1.0 | "
    "Click Button to start update | Update"};

struct Outcome {
  const char* name;
  std::vector<std::string> board;  // the virtual board's options
  bool served;                     // false: the server has no releases
  bool writable;                   // false: the firmware file cannot be written
  int variant;      // the pop-up item chosen before "Update"; -1: the run ends before it is ready
  uint32_t status;  // iStatus at the end; STATUS_PEND_UPDATE: the window is closed mid-transfer
  std::string view = {};   // the view at the end
  std::string alert = {};  // how the one alert begins, if there is one
  std::string image = {};  // the demo HEX file whose bytes the board holds, if it holds them all
};

void PrintTo(const Outcome& outcome, std::ostream* os) {
  *os << outcome.name;
}

class EndToEnd : public ::testing::TestWithParam<Outcome> {};

// Each outcome, reached the way a user reaches it, ends in its view with the board holding what
// it should; after a good update the board leaves and the result stays. Closing the window and
// tearing the application down joins the HID thread and any transfer: it must not hang, and the
// board sees its host go.
TEST_P(EndToEnd, EndsInTheViewOfItsOutcome) {
  const Outcome& o = GetParam();
  TempDir dir;
  writeFile(dir / "not-a-folder", std::string("x"));
  FtpServer server(o.served ? std::filesystem::path(kDemo) : dir.path());
  auto options = o.board;
  options.insert(options.begin(), {"--save-image", (dir / "programmed.bin").string()});
  auto board = plugBoard(dir / "hid", options);
  RecordingDiagnostics diag;
  std::vector<std::string> alerts;
  auto app = std::make_unique<UpdaterApp>(
      UpdaterApp::Config{makeVirtualBackend((dir / "hid").string()), server.url(),
                         o.writable ? dir / "tmp.hex" : dir / "not-a-folder" / "tmp.hex"},
      diag);
  ViewController& window = app->window();
  window.setAlertPresenter(
      [&](ViewController&, const QString& message) { alerts.push_back(message.toStdString()); });
  window.show();
  // The user picks the variant in the pop-up; each choice fetches its release again.
  for (int item = 0; item <= o.variant; ++item) {
    if (item) QTest::keyClick(window.popUpBtn(), Qt::Key_Down);
    ASSERT_TRUE(waitUntil([&] { return describe(window) == kReady[item]; }, 20s))
        << describe(window);
  }
  if (o.variant >= 0) window.ActionButton()->click();
  ASSERT_TRUE(waitUntil([&] { return app->engine().state().iStatus == o.status; }, 30s))
      << describe(window);
  if (o.status == STATUS_DONE) {
    ASSERT_TRUE(waitUntil([&] { return !app->link().hidDevice(); }, 10s));
  }
  EXPECT_TRUE(o.view.empty() || describe(window) == o.view) << describe(window);
  EXPECT_EQ(alerts.size(), o.alert.empty() ? 0u : 1u);
  for (const auto& alert : alerts)
    EXPECT_TRUE(alert.starts_with(o.alert)) << alert;
  window.close();
  app.reset();
  EXPECT_EQ(board->wait(10s), 0);
  if (!o.image.empty()) {
    EXPECT_EQ(readFile(dir / "programmed.bin"), hexData(dir, kHexDir + o.image));
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Outcomes, EndToEnd, ::testing::Values(
    Outcome{"tournament", {}, true, true, 0, STATUS_DONE, kUpdatedView, "", "TE/TRIDENT_TE_V2.1.0.hex"},
    Outcome{"standard", {}, true, true, 1, STATUS_DONE, kUpdatedView, "", "TRIDENT_V2.1.0.hex"},
    Outcome{"wrongChecksum", {"--wrong-checksum"}, true, true, 0, STATUS_DONE, kFailedView, "",
            "TE/TRIDENT_TE_V2.1.0.hex"},
    Outcome{"removedMidTransfer", {"--unplug-after", "30"}, true, true, 0, STATUS_DEVICE_REMOVED,
            kFailedView},
    Outcome{"noRelease", {}, false, true, -1, STATUS_ERROR, kServerErrorView,
            "Server denied you to change to the given directory"},
    Outcome{"unwritableFirmwareFile", {}, true, false, 0, STATUS_ERROR, kServerErrorView,
            "Cannot write the firmware file "},
    Outcome{"closedMidTransfer", {"--reply-delay-ms", "2"}, true, true, 0, STATUS_PEND_UPDATE}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace trident::testing
