// The window as a person uses it: a board that goes quiet, a close in the middle of programming, a
// quick double click, and where the firmware file is kept. The real application offscreen, the demo
// server over FTP, the virtual board program over its socket.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "app_session.h"
#include "qt_wait.h"
#include "support/process.h"
#include "support/test_support.h"
#include "update/servers.h"
#include "updater_app.h"

namespace trident {
namespace {

using namespace std::chrono_literals;
using testing::Board;
using testing::Session;
using testing::waitUntil;

// A board that stops answering mid-transfer ends the update in Setup error with the alert (the
// window's own box). While the alert is open, the board's unplugging waits; the close question
// asked before the time-out is withdrawn, as there is nothing left to interrupt.
TEST(WindowUse, ASilentBoardEndsInSetupErrorAndItsAlertHoldsTheBoardsEvents) {
  Session s(std::vector<std::string>{"--silent-after", "30"}, 300ms);
  std::string alert, hintBehind;
  uint32_t statusWithEventsHeld = 0;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box == s.window().quitQuestion() || !alert.empty()) return;
    alert = box->text().toStdString();
    hintBehind = s.hint();
    testing::saveScreenshot(testing::withBoxOver(s.window(), *box), "setup-error-time-out-alert");
    s.board->signal(SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return s.app->heldHidEvents() > 0; }, 10s));
    statusWithEventsHeld = s.status();
    QTest::mouseClick(box->defaultButton(), Qt::LeftButton);
  });
  user.start(10);
  s.clickUpdate();
  ASSERT_TRUE(
      waitUntil([&] { return s.status() == STATUS_PEND_UPDATE && s.button().isHidden(); }, 20s));
  s.window().close();
  ASSERT_NE(s.window().quitQuestion(), nullptr);

  ASSERT_TRUE(waitUntil([&] { return s.status() == STATUS_DEVICE_REMOVED; }, 20s)) << alert;
  EXPECT_EQ(alert,
            "Error: The board stopped answering. Unplug it, hold its button and plug it in again.");
  EXPECT_EQ(hintBehind, "The Setup didn't finish and will restart.");
  EXPECT_EQ(statusWithEventsHeld, STATUS_ERROR);
  EXPECT_EQ(s.window().quitQuestion(), nullptr);
  s.window().close();
  EXPECT_FALSE(s.window().isVisible());
  EXPECT_EQ(s.history(), std::vector<std::string>{"timed-out"});  // not removed, which came later
}

// Closing while frames are being sent asks: "Cancel" (the default) keeps the update going, "Quit"
// closes. In every other state the window closes at once. The second click of a double click on
// "Update" lands on "Close", which took its place: the verdict stays.
TEST(WindowUse, ClosingAsksOnlyWhileTheBoardIsBeingProgrammed) {
  const std::vector<std::tuple<const char*, Board, bool, uint32_t, bool>> states{
      {"connect prompt", std::nullopt, false, STATUS_WAIT_GET_DUNNO_DEVICE_FWVER, false},
      {"ready", Board(std::in_place), false, STATUS_DOWNLOAD_HEX_SUCCESS, false},
      {"programming", std::vector<std::string>{"--silent-after", "30"}, true, STATUS_PEND_UPDATE,
       true},
      {"updated", Board(std::in_place), true, STATUS_DONE, false}};
  for (const auto& [name, board, click, status, asks] : states) {
    SCOPED_TRACE(name);
    Session s(board);
    if (click) s.clickUpdate();
    const uint32_t reached = status;  // clang 14 cannot capture a structured binding
    // The views follow the status from the HID thread: each state is its view too.
    ASSERT_TRUE(waitUntil(
        [&] {
          return s.status() == reached && s.window().DownloadImage()->isHidden() &&
                 (reached != STATUS_PEND_UPDATE || s.button().isHidden()) &&
                 (reached != STATUS_DONE || s.button().text() == "Close");
        },
        20s));
    if (status == STATUS_DONE) s.click();
    EXPECT_TRUE(s.window().isVisible());
    s.window().close();
    EXPECT_EQ(s.window().isVisible(), asks);
    if (!asks) {
      EXPECT_EQ(s.history(), std::vector<std::string>(click, "updated"));
      continue;
    }
    QMessageBox* question = s.window().quitQuestion();
    ASSERT_TRUE(question && question->isVisible());
    EXPECT_EQ(question->text().toStdString(), ViewController::kQuitQuestion);
    testing::saveScreenshot(testing::withBoxOver(s.window(), *question), "close-question");
    ASSERT_EQ(question->defaultButton(), question->button(QMessageBox::Cancel));
    QTest::mouseClick(question->defaultButton(), Qt::LeftButton);
    EXPECT_TRUE(s.window().isVisible());
    s.window().close();
    for (QAbstractButton* choice : s.window().quitQuestion()->buttons()) {
      if (choice->text() == "Quit") QTest::mouseClick(choice, Qt::LeftButton);
    }
    EXPECT_FALSE(s.window().isVisible());
    EXPECT_EQ(s.history(), std::vector<std::string>{"interrupted"});
  }
}

// Closing the window while a server streams the firmware without end: the window closes at once,
// and the application, its transfer with it, is gone within a second.
TEST(WindowUse, ClosingDuringAnEndlessDownloadEndsWithinASecond) {
  testing::TempDir root;
  const auto release =
      root / "varnehex/VARNE_TRIDENT_Fighting_Board/TE/VARNE_TRIDENT_Fighting_Board_TE.txt";
  std::filesystem::create_directories(release.parent_path());
  testing::writeFile(release,
                     "TRIDENT,V9,0x1234,/varnehex/endless.hex,sha256:" + std::string(64, '0'));
  testing::Minisign{TRIDENT_SOURCE_DIR "/update-server"}.sign("demo-release-key", release);
  testing::FaultyFtpServer faulty(root.path());
  Session s(Board(std::in_place), kReplyTimeout, {}, faulty.url());
  s.clickUpdate();
  ASSERT_TRUE(waitUntil([&] { return !s.window().DownloadProgress()->isHidden(); }, 20s));
  s.window().close();
  EXPECT_FALSE(s.window().isVisible());
  const auto start = testing::Clock::now();
  s.app.reset();
  EXPECT_LT(testing::Clock::now() - start, 1s);
}

// The application itself, ended from outside (a session's logout, Ctrl-C or the closing of the
// terminal it was started from), ends as a close does: its run folder goes with it. Without a
// display it still says what it is.
TEST(WindowUse, TheApplicationEndsCleanlyOnEachTerminationSignal) {
  testing::ChildProcess help({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u",
                              "QT_QPA_PLATFORM", testing::builtProgram("src/app/trident-updater"),
                              "--help"});
  EXPECT_EQ(help.wait(10s), 0) << help.output();
  EXPECT_TRUE(help.output().starts_with("usage: trident-updater")) << help.output();
  // The last run starts without standard output (`>&-`): it is the null device, not the next
  // descriptor opened, and a reader that goes away costs no SIGPIPE.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, -SIGTERM}) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir / "hid");
    testing::ChildProcess app({"/bin/sh", "-c", signal < 0 ? "exec \"$@\" >&-" : "exec \"$@\"",
                               "sh", "/usr/bin/env", "QT_QPA_PLATFORM=offscreen",
                               "XDG_CACHE_HOME=" + (dir / "cache").string(),
                               testing::builtProgram("src/app/trident-updater"), "--virtual-hid",
                               (dir / "hid").string()});
    ASSERT_TRUE(app.waitForOutput(
        [](const std::string& out) { return out.find("IOHIDManager") != std::string::npos; },
        testing::within(20s)))
        << app.output();
    EXPECT_FALSE(std::filesystem::is_empty(dir / "cache/trident-updater"));
    const auto proc = std::filesystem::path("/proc") / std::to_string(app.pid());
    EXPECT_EQ(std::filesystem::read_symlink(proc / "fd/1") == "/dev/null", signal < 0);
    const std::string status = testing::readFile(proc / "status");
    EXPECT_TRUE(std::stoull(status.substr(status.find("SigIgn:") + 7), nullptr, 16) &
                (1ull << (SIGPIPE - 1)));
    app.signal(std::abs(signal));
    EXPECT_EQ(app.wait(10s), 128 + std::abs(signal)) << app.output();
    EXPECT_TRUE(std::filesystem::is_empty(dir / "cache/trident-updater"));
  }
}

// tmp.hex lives in a folder of the run's own under the user's cache folder, never in the current
// folder, whose own tmp.hex is left alone; the folder goes at exit.
TEST(WindowUse, TheFirmwareFileLivesInAPrivateFolderOfTheRun) {
  testing::TempDir cache, here;
  testing::writeFile(here / "tmp.hex", std::string("the user's own"));
  const auto startedIn = std::filesystem::current_path();
  std::filesystem::current_path(here.path());
  const auto cacheBefore = qgetenv("XDG_CACHE_HOME");
  qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(cache.path().string()));
  std::filesystem::path folder;
  {
    Session s(Board(std::in_place), kReplyTimeout, std::filesystem::path());
    folder = s.app->hexFile().parent_path();
    EXPECT_EQ(folder.parent_path(), cache / "trident-updater");
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
    s.clickUpdate();
    ASSERT_TRUE(waitUntil([&] { return s.status() == STATUS_DONE; }, 20s)) << s.hint();
    EXPECT_TRUE(std::filesystem::is_regular_file(folder / "tmp.hex"));
    // Which board got which firmware, as trident-flash's lines say it: the release's own hash.
    const std::string release =
        testing::readFile(TRIDENT_SOURCE_DIR
                          "/update-server/varnehex/VARNE_TRIDENT_Fighting_Board/TE/"
                          "VARNE_TRIDENT_Fighting_Board_TE.txt");
    const std::string kDemoSha256 = release.substr(release.find("sha256:") + 7, 64);
    EXPECT_EQ(s.history(), std::vector<std::string>{"updated"});
    EXPECT_EQ(s.last.at("program"), "trident-updater");
    // clang-format off
    for (const auto& [field, value] : std::map<std::string, std::string>{{"serial", "board"},
             {"variant", "tournament"}, {"version", "V2.1.0"}, {"expected", "0xBD53"},
             {"reported", "0xBD53"}, {"sha256", kDemoSha256}})
      // clang-format on
      EXPECT_EQ(s.last.at(field), value) << field;
  }
  // A relative cache folder is no cache folder: the one in the home folder is taken instead.
  const auto homeBefore = qgetenv("HOME");
  qputenv("XDG_CACHE_HOME", "rel");
  qputenv("HOME", QByteArray::fromStdString(cache.path().string()));
  {
    Session s(std::nullopt, kReplyTimeout, std::filesystem::path());
    EXPECT_EQ(s.app->hexFile().parent_path().parent_path(), cache / ".cache/trident-updater");
  }
  EXPECT_FALSE(std::filesystem::exists(here / "rel"));
  qputenv("HOME", homeBefore);
  std::filesystem::current_path(startedIn);
  cacheBefore.isNull() ? qunsetenv("XDG_CACHE_HOME") : qputenv("XDG_CACHE_HOME", cacheBefore);
  EXPECT_FALSE(std::filesystem::exists(folder));
  EXPECT_EQ(testing::readFile(here / "tmp.hex"), "the user's own");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(here.path()), {}), 1);
}

}  // namespace
}  // namespace trident
