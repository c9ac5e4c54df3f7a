// The real window, offscreen, in front of the engine and the in-process virtual board.
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

#include "engine/engine_rig.h"
#include "ui/ViewController.h"
#include "window_rig.h"

namespace trident::testing {
namespace {

const std::vector<std::string> kPictures = [] {
  std::vector<std::string> names(ViewController::progressImageNames.begin(),
                                 ViewController::progressImageNames.end());
  names.insert(names.end(), {"complete", "failed", "device", "loading"});
  return names;
}();

// The application picture `label` shows: its name, "none", or "?" for one it does not carry.
std::string pictureName(const QLabel& label) {
  const QPixmap shown = label.pixmap();
  if (shown.isNull()) return "none";
  for (const auto& name : kPictures) {
    const QPixmap candidate = ViewController::imageNamed(QString::fromStdString(name));
    if (candidate.cacheKey() == shown.cacheKey() || candidate.toImage() == shown.toImage()) {
      return name;
    }
  }
  return "?";
}

// The window as the state table reads it, one field per outlet in declaration order: "-" for a
// hidden view, "!" before a disabled one, then what it shows.
std::string describe(const ViewController& w) {
  std::string text, items;
  auto field = [&](const QWidget& view, const std::string& shows) {
    if (!text.empty()) text += " | ";
    text += view.isHidden() ? "-" : view.isEnabled() ? shows : "!" + shows;
  };
  for (int i = 0; i < w.popUpBtn()->count(); ++i) {
    if (i) items += ", ";
    items += w.popUpBtn()->itemText(i).toStdString();
    if (i == w.popUpBtn()->currentIndex()) items += "*";
  }
  field(*w.popUpBtn(), items);
  for (const QLabel* picture : {w.Device_1_Image(), w.DownloadImage(), w.ResultImage()})
    field(*picture, pictureName(*picture));
  field(*w.VerMessage(), w.VerMessage()->text().toStdString());
  field(*w.HintMessage1(), w.HintMessage1()->text().toStdString());
  field(*w.ActionButton(), w.ActionButton()->text().toStdString());
  return text;
}

// The window wired the way the application wires it, with a firmware file an earlier run left
// behind. Alerts are recorded with the view behind them instead of being shown.
struct WindowRig {
  explicit WindowRig(BoardFaults faults = {}) : window(dir / "tmp.hex"), sim(window, faults) {
    writeFile(dir / "tmp.hex", ":00000001FF\n");
    window.setHooks({
        .RegisterHID = [this] { viewAtRegisterHID = describe(window); },
        .OnActionButtonClick = [this] { sim.engine.OnActionButtonClick(); },
        .onVariantSelected = [this](int64_t index) { variantsPicked.push_back(index); },
    });
    window.setAlertPresenter([this](ViewController& w, const QString& message) {
      alerts.push_back(message.toStdString() + " over " + describe(w));
    });
    window.show();
  }
  void click() { QTest::mouseClick(window.ActionButton(), Qt::LeftButton); }
  // The road of one update as far as `steps`: 0 Loading, 1 the connect prompt, 2 the board taken
  // and its release fetched, 3 the release accepted, 4 "Update" clicked, 5 a 4800-byte firmware
  // stored and programmed as far as the board lets it.
  void walk(int steps) {
    if (steps > 0) {
      ASSERT_TRUE(waitUntil([&] { return !viewAtRegisterHID.empty(); }));
    }
    if (steps > 1) {
      sim.takeBoard();
      window.showFetching();  // the update-server client does this as each fetch starts
    }
    if (steps > 2) sim.engine.releaseAccepted("V2.13");
    if (steps > 3) {
      click();
      click();  // the button is disabled before the first click returns: this one does nothing
    }
    if (steps > 4) {
      const auto image = randomBytes(4800, 4800);
      sim.storeFirmware(objcopyHex(dir, image), SimRig::expectedChecksumFor(image));
    }
  }

  TempDir dir;
  ViewController window;
  SimRig sim;
  std::string viewAtRegisterHID;
  std::vector<std::string> alerts;
  std::vector<int64_t> variantsPicked;
};

// Where the screenshots go: TRIDENT_SCREENSHOT_DIR (scripts/render-screenshots points it at
// docs/screenshots), else the build tree.
void saveScreenshot(const QPixmap& shot, const std::string& name) {
  const char* chosen = std::getenv("TRIDENT_SCREENSHOT_DIR");
  QDir dir(chosen && *chosen ? QString::fromLocal8Bit(chosen)
                             : QStringLiteral(TRIDENT_BINARY_DIR "/screenshots"));
  dir.mkpath(".");
  const QString file = dir.filePath(QString::fromStdString(name) + ".png");
  EXPECT_TRUE(shot.save(file, "PNG")) << file.toStdString();
}

struct Scene {
  std::string name;  // also the screenshot's
  int steps;         // how far along the road (WindowRig::walk)
  BoardFaults faults;
  std::string view;
  std::string alert = {};  // the message of the one alert the state opens, if it opens one
  std::function<void(WindowRig&)> then = {};
};

void PrintTo(const Scene& scene, std::ostream* out) {
  *out << scene.name;
}

class WindowStates : public ::testing::TestWithParam<Scene> {};

// Each visible state, reached the way the update reaches it, shows what the state table gives;
// an alert opens only once its view is on screen; in a final state "Close" ends the application.
// Start-up removes the stale firmware file and shows the connect prompt before it starts the HID
// link; one click on "Update" starts exactly one download. Each state is kept as a screenshot.
TEST_P(WindowStates, ShowTheStateTableRow) {
  const Scene& scene = GetParam();
  WindowRig rig(scene.faults);
  rig.walk(scene.steps);
  if (scene.then) scene.then(rig);

  EXPECT_EQ(describe(rig.window), scene.view);
  EXPECT_EQ(rig.alerts, scene.alert.empty() ? std::vector<std::string>{}
                                            : std::vector{scene.alert + " over " + scene.view});
  EXPECT_EQ(std::filesystem::exists(rig.dir / "tmp.hex"), scene.steps == 0);
  EXPECT_EQ(
      rig.viewAtRegisterHID,
      scene.steps == 0
          ? ""
          : "- | device | - | - | - | Press and hold the button, then connect it to the MAC. | -");
  const QPixmap shot = rig.window.grab();
  EXPECT_EQ(shot.size(), rig.window.size());
  saveScreenshot(shot, scene.name);

  if (rig.window.ActionButton()->text() == "Close") {
    rig.click();
    EXPECT_FALSE(rig.window.isVisible());
  }
  EXPECT_EQ(rig.sim.server.downloads, scene.steps > 3 ? 1 : 0);
}

BoardFaults faults(std::optional<uint32_t> silentAfter, std::optional<uint32_t> unplugAfter = {},
                   bool wrongChecksum = false) {
  BoardFaults f;
  f.silentAfter = silentAfter;
  f.unplugAfter = unplugAfter;
  f.wrongChecksum = wrongChecksum;
  return f;
}

const std::string kConnect =
    "- | device | - | - | - | Press and hold the button, then connect it to the MAC. | -";
const std::string kTitles = "Tournament(No Turbo & Remap)*, Standard | device | - | - | ";
const std::string kFailed =
    "- | - | - | failed | - | The Setup didn't finish and will restart. | Close";

INSTANTIATE_TEST_SUITE_P(
    Scenes, WindowStates,
    ::testing::Values(
        Scene{"loading",
              0,
              {},
              "- | - | loading | - | - | Download Update File From FTP , Please wait | -"},
        Scene{"connect-prompt", 1, {}, kConnect},
        // Fetching leaves the hint alone, and the pop-up stays hidden until a release is in.
        Scene{"fetching", 2, {}, kConnect},
        Scene{"ready",
              3,
              {},
              kTitles + "The lastest version: V2.13 | Click Button to start update | Update"},
        Scene{
            "downloading",
            4,
            {},
            "!" + kTitles + "The lastest version: V2.13 | DO NOT Remove the Controller | !Update"},
        // The board answers only the first sync, so the update waits before the transfer.
        Scene{"programming", 5, faults(1), "- | 0 | - | - | - | DO NOT Remove the Controller | -"},
        // Frame 44 of a 4800-byte image leaves packNo at 79: 45.7 %, picture 9.
        Scene{"programming-45", 5, faults(43),
              "- | 9 | - | - | - | DO NOT Remove the Controller | -"},
        Scene{
            "updated", 5, {}, "- | - | - | complete | - | Firmware successfully updated. | Close"},
        Scene{"update-failed", 5, faults({}, {}, true), kFailed},
        Scene{"device-removed", 5, faults({}, 30), kFailed},
        Scene{
            "server-error",
            2,
            {},
            "- | device | - | failed | - | Something wrong , Can't Download File From FTP | Close",
            "Parse txt file error",
            [](WindowRig& rig) {
              rig.sim.engine.showErrorAlertWithMessage("Parse txt file error");
            }},
        // The firmware file is gone when the loader opens it: Setup error, even though the
        // Programming view had already hidden the button.
        Scene{"setup-error",
              4,
              {},
              kFailed,
              "Error: Please check your network",
              [](WindowRig& rig) { rig.sim.engine.firmwareStored(0x1234); }}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

// A stale path that cannot be removed does not stop the start-up.
TEST(WindowStartUp, GoesOnWhenTheStaleFileCannotBeRemoved) {
  TempDir dir;
  std::filesystem::create_directories(dir / "tmp.hex" / "inside");
  ViewController window(dir / "tmp.hex");
  bool registered = false;
  window.setHooks({.RegisterHID = [&] { registered = true; }});
  ASSERT_TRUE(waitUntil([&] { return registered; }));
  EXPECT_TRUE(std::filesystem::exists(dir / "tmp.hex" / "inside"));
}

// Only the user's own choice in the pop-up reaches the update client; filling the pop-up again
// replaces its items and selects the first without starting a fetch.
TEST(WindowVariantPopUp, ReportsTheUsersChoiceOnly) {
  WindowRig rig;
  rig.walk(3);
  rig.window.popUpBtn()->setFocus();
  QTest::keyClick(rig.window.popUpBtn(), Qt::Key_Down);
  EXPECT_EQ(rig.variantsPicked, std::vector<int64_t>{1});
  rig.window.fillVariantPopUp({"Tournament(No Turbo & Remap)", "Standard"});
  EXPECT_EQ(describe(rig.window),
            kTitles + "The lastest version: V2.13 | Click Button to start update | Update");
  EXPECT_EQ(rig.variantsPicked, std::vector<int64_t>{1});
}

// The engine keeps the picture index in range, but the window does not rely on it.
TEST(WindowProgressPicture, AnyIndexShowsAPictureOfTheGauge) {
  WindowRig rig;
  rig.walk(4);
  rig.window.setUpUpdateHexUI();
  for (const auto& [index, picture] : std::vector<std::pair<int, std::string>>{
           {7, "7"}, {20, "20"}, {21, "20"}, {-1, "0"}, {INT_MAX, "20"}, {INT_MIN, "0"}}) {
    rig.window.Device_1_Image()->hide();
    rig.window.showProgressPicture(index);
    EXPECT_EQ(describe(rig.window),
              "- | " + picture + " | - | - | - | DO NOT Remove the Controller | -")
        << index;
  }
}

// The window's own alert: a modal box with the caller's message as its text and one default OK
// button; the error view is already behind it. The test dismisses it as a user would.
TEST(WindowAlert, IsAModalBoxWithTheMessageAndOneDefaultButton) {
  WindowRig rig;
  rig.walk(2);
  rig.window.setAlertPresenter({});  // back to the window's own
  const std::string message = "Failed to connect to 127.0.0.1 port 2121: Connection refused";
  std::string seen;
  QTimer::singleShot(0, &rig.window, [&] {
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitUntil([&] {
      return (box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) != nullptr;
    }));
    seen = box->text().toStdString() + " over " + describe(rig.window);
    EXPECT_TRUE(box->isModal());
    EXPECT_EQ(box->buttons(), QList<QAbstractButton*>{box->button(QMessageBox::Ok)});
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
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  rig.sim.engine.showErrorAlertWithMessage(message);

  EXPECT_EQ(seen, message +
                      " over - | device | - | failed | - | Something wrong , Can't Download File "
                      "From FTP | Close");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Every picture the window names is in the application, at the size of the picture views.
TEST(WindowPictures, EveryNamedPictureIsThere) {
  for (const auto& name : kPictures) {
    EXPECT_EQ(ViewController::imageNamed(QString::fromStdString(name)).size(), QSize(280, 240))
        << name;
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
