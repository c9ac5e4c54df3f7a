#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "window_rig.h"

namespace trident::testing {
namespace {

// Where the screenshots of the window go: TRIDENT_SCREENSHOT_DIR (scripts/render-screenshots points
// it at docs/screenshots), else the build tree.
QDir screenshotDir() {
  const char* chosen = std::getenv("TRIDENT_SCREENSHOT_DIR");
  QDir dir(chosen && *chosen ? QString::fromLocal8Bit(chosen)
                             : QStringLiteral(TRIDENT_BINARY_DIR "/screenshots"));
  dir.mkpath(".");
  return dir;
}

void saveScreenshot(const QPixmap& shot, const std::string& name) {
  const QString file = screenshotDir().filePath(QString::fromStdString(name) + ".png");
  EXPECT_TRUE(shot.save(file, "PNG")) << file.toStdString();
}

// The road through the window's states. Each step leads on from the one before.
void connectPrompt(WindowRig& rig) {
  rig.startUp();
}
void fetching(WindowRig& rig) {
  connectPrompt(rig);
  rig.takeBoard();
}
void ready(WindowRig& rig) {
  fetching(rig);
  rig.acceptRelease();
}
void downloading(WindowRig& rig) {
  ready(rig);
  rig.clickActionButton();
}
void programmed(WindowRig& rig) {
  downloading(rig);
  rig.storeFirmware(4800);
}
// The Programming view without the engine: what the window shows once the firmware is stored.
void programmingView(WindowRig& rig) {
  downloading(rig);
  rig.window.setUpUpdateHexUI();
}

BoardFaults silentAfter(uint32_t frame) {
  BoardFaults faults;
  faults.silentAfter = frame;
  return faults;
}

constexpr const char* kTitles = "[Tournament(No Turbo & Remap)*, Standard]";

struct Scene {
  std::string name;
  BoardFaults faults;
  std::function<void(WindowRig&)> enter;
  std::string view;
  std::string alert = {};  // the message of the one alert the state opens, if it opens one
};

void PrintTo(const Scene& scene, std::ostream* out) {
  *out << scene.name;
}

class WindowStates : public ::testing::TestWithParam<Scene> {};

// Each visible state, reached the way the update reaches it, shows what the state table gives;
// an alert opens only once its view is on screen; and in a final state "Close" ends the
// application. Each state is also kept as a screenshot.
TEST_P(WindowStates, ShowTheStateTableRow) {
  const Scene& scene = GetParam();
  WindowRig rig(scene.faults);
  scene.enter(rig);

  EXPECT_EQ(describe(rig.window), scene.view);
  if (scene.alert.empty()) {
    EXPECT_TRUE(rig.alerts.empty());
  } else {
    ASSERT_EQ(rig.alerts.size(), 1u);
    EXPECT_EQ(rig.alerts[0].message, scene.alert);
    EXPECT_EQ(rig.alerts[0].viewBehind, scene.view);
  }

  const QPixmap shot = rig.window.grab();
  EXPECT_EQ(shot.size(), rig.window.size());
  saveScreenshot(shot, scene.name);

  if (rig.window.ActionButton()->text() == "Close") {
    rig.clickActionButton();
    EXPECT_FALSE(rig.window.isVisible());
  }
}

const std::string kConnectView = std::string("popUpBtn: hidden\n") +
                                 "Device_1_Image: shown device\n"
                                 "DownloadImage: hidden\n"
                                 "ResultImage: hidden\n"
                                 "VerMessage: hidden\n"
                                 "HintMessage1: shown \"Press and hold the button, then connect "
                                 "it to the MAC.\"\n"
                                 "ActionButton: hidden\n";

std::string programmingRow(const std::string& picture) {
  return "popUpBtn: hidden\n"
         "Device_1_Image: shown " +
         picture +
         "\n"
         "DownloadImage: hidden\n"
         "ResultImage: hidden\n"
         "VerMessage: hidden\n"
         "HintMessage1: shown \"DO NOT Remove the Controller\"\n"
         "ActionButton: hidden\n";
}

std::string finalView(const std::string& device, const std::string& result,
                      const std::string& hint) {
  return "popUpBtn: hidden\n"
         "Device_1_Image: " +
         device +
         "\n"
         "DownloadImage: hidden\n"
         "ResultImage: shown " +
         result +
         "\n"
         "VerMessage: hidden\n"
         "HintMessage1: shown \"" +
         hint +
         "\"\n"
         "ActionButton: shown \"Close\"\n";
}

const std::string kInterrupted = "The Setup didn't finish and will restart.";

INSTANTIATE_TEST_SUITE_P(
    Scenes, WindowStates,
    ::testing::Values(
        Scene{"loading",
              {},
              [](WindowRig&) {},
              "popUpBtn: hidden\n"
              "Device_1_Image: hidden\n"
              "DownloadImage: shown loading\n"
              "ResultImage: hidden\n"
              "VerMessage: hidden\n"
              "HintMessage1: shown \"Download Update File From FTP , Please wait\"\n"
              "ActionButton: hidden\n"},
        Scene{"connect-prompt", {}, connectPrompt, kConnectView},
        // Fetching leaves the hint alone, and the pop-up stays hidden until a release is in.
        Scene{"fetching", {}, fetching, kConnectView},
        Scene{"ready",
              {},
              ready,
              std::string("popUpBtn: shown ") + kTitles +
                  "\n"
                  "Device_1_Image: shown device\n"
                  "DownloadImage: hidden\n"
                  "ResultImage: hidden\n"
                  "VerMessage: shown \"The lastest version: V2.13\"\n"
                  "HintMessage1: shown \"Click Button to start update\"\n"
                  "ActionButton: shown \"Update\"\n"},
        Scene{"downloading",
              {},
              downloading,
              std::string("popUpBtn: shown disabled ") + kTitles +
                  "\n"
                  "Device_1_Image: shown device\n"
                  "DownloadImage: hidden\n"
                  "ResultImage: hidden\n"
                  "VerMessage: shown \"The lastest version: V2.13\"\n"
                  "HintMessage1: shown \"DO NOT Remove the Controller\"\n"
                  "ActionButton: shown disabled \"Update\"\n"},
        // The board answers only the first sync, so the update waits before the transfer.
        Scene{"programming", silentAfter(1), programmed, programmingRow("0")},
        // Frame 44 of a 4800-byte image leaves packNo at 79: 45.7 %, picture 9.
        Scene{"programming-45", silentAfter(43), programmed, programmingRow("9")},
        Scene{"updated",
              {},
              programmed,
              finalView("hidden", "complete", "Firmware successfully updated.")},
        Scene{"update-failed",
              [] {
                BoardFaults f;
                f.wrongChecksum = true;
                return f;
              }(),
              programmed, finalView("hidden", "failed", kInterrupted)},
        Scene{"device-removed",
              [] {
                BoardFaults f;
                f.unplugAfter = 30;
                return f;
              }(),
              programmed, finalView("hidden", "failed", kInterrupted)},
        Scene{"server-error",
              {},
              [](WindowRig& rig) {
                fetching(rig);
                rig.sim.engine.showErrorAlertWithMessage("Parse txt file error");
              },
              finalView("shown device", "failed", "Something wrong , Can't Download File From FTP"),
              "Parse txt file error"},
        // The firmware file is gone when the loader opens it: Setup error, even though the
        // Programming view had already hidden the button.
        Scene{"setup-error",
              {},
              [](WindowRig& rig) {
                downloading(rig);
                rig.sim.engine.firmwareStored(0x1234);
              },
              finalView("hidden", "failed", kInterrupted),
              "Error: Please check your network"}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

struct Change {
  std::string name;
  std::function<void(WindowRig&)> before;
  std::function<void(ViewController&)> change;
  std::vector<std::string> order;
};

void PrintTo(const Change& change, std::ostream* out) {
  *out << change.name;
}

class ViewOrder : public ::testing::TestWithParam<Change> {};

// The views change in the order each state lists them; where the order shows on screen at all,
// it is here (a change to an already hidden or shown view makes no event and is not listed).
TEST_P(ViewOrder, FollowsTheStatesOwnOrder) {
  const Change& c = GetParam();
  WindowRig rig;
  c.before(rig);
  ViewChangeLog log(rig.window);
  c.change(rig.window);
  EXPECT_EQ(log.take(), c.order);
}

INSTANTIATE_TEST_SUITE_P(
    States, ViewOrder,
    ::testing::Values(
        Change{"Ready",
               fetching,
               [](ViewController& w) { w.showReady("V2.13"); },
               {"show popUpBtn", "show VerMessage", "version \"The lastest version: V2.13\"",
                "show ActionButton", "hint \"Click Button to start update\""}},
        Change{
            "Programming",
            downloading,
            [](ViewController& w) { w.setUpUpdateHexUI(); },
            {"hide popUpBtn", "picture Device_1_Image 0", "hide VerMessage", "hide ActionButton"}},
        Change{"Updated",
               programmingView,
               [](ViewController& w) { w.showUpdateResult(true); },
               {"hide Device_1_Image", "enable ActionButton", "title \"Close\"", "show ResultImage",
                "picture ResultImage complete", "hint \"Firmware successfully updated.\"",
                "show ActionButton"}},
        Change{"DeviceRemoved",
               programmingView,
               [](ViewController& w) { w.showDeviceRemoved(); },
               {"hint \"The Setup didn't finish and will restart.\"", "hide Device_1_Image",
                "show ActionButton", "enable ActionButton", "title \"Close\"", "show ResultImage",
                "picture ResultImage failed"}},
        Change{"ServerError",
               downloading,
               [](ViewController& w) { w.showServerError(); },
               {"show ResultImage", "picture ResultImage failed",
                "hint \"Something wrong , Can't Download File From FTP\"", "enable ActionButton",
                "title \"Close\"", "hide popUpBtn", "hide VerMessage"}},
        Change{"SetupError",
               programmingView,
               [](ViewController& w) { w.adjustToErrorUI(); },
               {"hide Device_1_Image", "show ActionButton", "enable ActionButton",
                "title \"Close\"", "show ResultImage", "picture ResultImage failed",
                "hint \"The Setup didn't finish and will restart.\""}}),
    [](const auto& info) { return info.param.name; });

// Start-up: the Loading view holds until the event loop turns; then the stale firmware file is
// removed, the connect prompt appears and only then is the HID link started. A file that cannot
// be removed does not stop the start-up.
TEST(WindowStartUp, RemovesTheStaleFirmwareFileThenShowsThePromptThenRegistersHID) {
  for (const bool removable : {true, false}) {
    SCOPED_TRACE(removable ? "a stale file" : "a path that cannot be removed");
    TempDir dir;
    const auto stale = dir / "tmp.hex";
    if (removable) {
      writeFile(stale, ":00000001FF\n");
    } else {
      std::filesystem::create_directories(stale / "inside");
    }
    ViewController window(stale);
    std::vector<std::string> hintAtRegister;
    window.setHooks({.RegisterHID = [&] {
      hintAtRegister.push_back(window.HintMessage1()->text().toStdString());
      EXPECT_TRUE(window.DownloadImage()->isHidden());
    }});
    window.show();
    ViewChangeLog log(window);

    EXPECT_TRUE(std::filesystem::exists(stale));
    EXPECT_TRUE(hintAtRegister.empty());
    ASSERT_TRUE(waitUntil([&] { return !hintAtRegister.empty(); }));
    EXPECT_EQ(std::filesystem::exists(stale), !removable);
    EXPECT_EQ(hintAtRegister,
              std::vector<std::string>{"Press and hold the button, then connect it to the MAC."});
    EXPECT_EQ(log.take(), (std::vector<std::string>{"hide DownloadImage", "show Device_1_Image",
                                                    "hint \"Press and hold the button, then "
                                                    "connect it to the MAC.\""}));
  }
}

// One click in Ready starts exactly one download: the button is disabled before the click returns,
// so a second click does nothing. The variant is fixed from the click on.
TEST(WindowActionButton, OneClickInReadyStartsExactlyOneDownload) {
  WindowRig rig;
  ready(rig);
  rig.clickActionButton();
  EXPECT_FALSE(rig.window.ActionButton()->isEnabled());
  EXPECT_FALSE(rig.window.popUpBtn()->isEnabled());
  EXPECT_EQ(rig.sim.server.downloads, 1);
  rig.clickActionButton();
  EXPECT_EQ(rig.sim.server.downloads, 1);
  EXPECT_TRUE(rig.window.isVisible());

  // The download fails: Server error, and "Close" is enabled again so the user can still leave.
  rig.sim.engine.showErrorAlertWithMessage("Failed to connect to 127.0.0.1 port 2121");
  EXPECT_TRUE(rig.window.ActionButton()->isEnabled());
  EXPECT_EQ(rig.window.ActionButton()->text(), "Close");
  rig.clickActionButton();
  EXPECT_FALSE(rig.window.isVisible());
  EXPECT_EQ(rig.sim.server.downloads, 1);
}

// Only the user's own choice in the pop-up reaches the update client; filling the pop-up again
// replaces its items and selects the first without starting a fetch.
TEST(WindowVariantPopUp, ReportsTheUsersChoiceOnly) {
  WindowRig rig;
  ready(rig);
  rig.window.popUpBtn()->setFocus();
  QTest::keyClick(rig.window.popUpBtn(), Qt::Key_Down);
  EXPECT_EQ(rig.variantsPicked, std::vector<int64_t>{1});
  rig.window.fillVariantPopUp({"Tournament(No Turbo & Remap)", "Standard"});
  EXPECT_EQ(rig.window.popUpBtn()->count(), 2);
  EXPECT_EQ(rig.window.popUpBtn()->currentIndex(), 0);
  EXPECT_EQ(rig.variantsPicked, std::vector<int64_t>{1});
}

// The engine keeps the picture index in range, but the window does not rely on it.
TEST(WindowProgressPicture, AnyIndexShowsAPictureOfTheGauge) {
  WindowRig rig;
  programmingView(rig);
  const std::vector<std::pair<int, std::string>> cases{{7, "7"},  {20, "20"},      {21, "20"},
                                                       {-1, "0"}, {INT_MAX, "20"}, {INT_MIN, "0"}};
  for (const auto& [index, picture] : cases) {
    rig.window.Device_1_Image()->hide();
    rig.window.showProgressPicture(index);
    EXPECT_FALSE(rig.window.Device_1_Image()->isHidden()) << index;
    EXPECT_EQ(pictureName(*rig.window.Device_1_Image()), picture) << index;
  }
}

// The window's own alert: a modal box with the caller's message as its text and one default OK
// button; the error view is already behind it. The test dismisses it as a user would.
TEST(WindowAlert, IsAModalBoxWithTheMessageAndOneDefaultButton) {
  WindowRig rig;
  fetching(rig);
  rig.window.setAlertPresenter({});  // back to the window's own
  const std::string message = "Failed to connect to 127.0.0.1 port 2121: Connection refused";
  QString text, hint;
  int buttons = 0;
  bool modal = false;
  QTimer::singleShot(0, &rig.window, [&] {
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitUntil([&] {
      box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      return box != nullptr;
    }));
    text = box->text();
    hint = rig.window.HintMessage1()->text();
    buttons = static_cast<int>(box->buttons().size());
    modal = box->isModal();
    ASSERT_NE(box->defaultButton(), nullptr);
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));

    QPixmap shot = rig.window.grab();
    QPainter painter(&shot);
    const QPixmap alert = box->grab();
    painter.fillRect(shot.rect(), QColor(15, 23, 42, 70));
    // Offscreen windows have no frame: a shadow and an outline stand in for the dialog's own.
    const QRect place(
        QPoint((shot.width() - alert.width()) / 2, (shot.height() - alert.height()) / 3),
        alert.size());
    painter.fillRect(place.translated(0, 4).adjusted(-3, -3, 3, 3), QColor(15, 23, 42, 50));
    painter.drawPixmap(place.topLeft(), alert);
    painter.setPen(QColor(15, 23, 42, 90));
    painter.drawRect(place.adjusted(-1, -1, 0, 0));
    painter.end();
    saveScreenshot(shot, "server-error-alert");
    QTest::mouseClick(box->defaultButton(), Qt::LeftButton);
  });
  rig.sim.engine.showErrorAlertWithMessage(message);

  EXPECT_EQ(text.toStdString(), message);
  EXPECT_EQ(hint, "Something wrong , Can't Download File From FTP");
  EXPECT_EQ(buttons, 1);
  EXPECT_TRUE(modal);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Every picture the window names is in the application, at the size of the picture views.
TEST(WindowPictures, EveryNamedPictureIsThere) {
  std::vector<QString> names;
  for (const auto name : ViewController::progressImageNames)
    names.push_back(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
  names.insert(names.end(), {"complete", "failed", "device", "loading"});
  for (const auto& name : names) {
    const QPixmap picture = ViewController::imageNamed(name);
    EXPECT_EQ(picture.size(), QSize(280, 240)) << name.toStdString();
  }
  EXPECT_TRUE(ViewController::imageNamed(u"21").isNull());

  TempDir dir;
  ViewController window(dir / "tmp.hex");
  EXPECT_EQ(window.windowTitle(), "Trident Updater");
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
}

}  // namespace
}  // namespace trident::testing
