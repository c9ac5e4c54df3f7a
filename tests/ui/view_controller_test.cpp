// The real window, offscreen: in front of the engine and the in-process virtual board, where each
// visible state is reached and kept as a screenshot; and as the application a user runs, with the
// demo update server over FTP on loopback and the virtual board program over its socket.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QMetaEnum>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <map>
#include <regex>

#include "app_session.h"
#include "engine/engine_rig.h"
#include "qt_wait.h"
#include "support/process.h"
#include "update/servers.h"
#include "updater_app.h"

namespace trident::testing {
namespace {

using testing::PrintTo;

using namespace std::chrono_literals;

// Every picture the application carries by name.
const std::vector<std::string> kPictures = [] {
  std::vector<std::string> names(ViewController::progressImageNames.begin(),
                                 ViewController::progressImageNames.end());
  names.insert(names.end(), {"complete", "failed", "device", "loading"});
  return names;
}();

// The window as the state table reads it, one field per outlet in declaration order: "-" for a
// hidden view, "!" before a disabled one, then what it shows (pictures by name, "?" for one the
// application does not carry; the pop-up's items with "*" after the selected one).
std::string describe(const ViewController& w) {
  std::string text, items;
  auto field = [&](const QWidget* view, const std::string& shows) {
    if (!text.empty()) text += " | ";
    text += view->isHidden() ? "-" : view->isEnabled() ? shows : "!" + shows;
  };
  for (int i = 0; i < w.popUpBtn()->count(); ++i) {
    if (i) items += ", ";
    items += w.popUpBtn()->itemText(i).toStdString();
    if (i == w.popUpBtn()->currentIndex()) items += "*";
  }
  field(w.popUpBtn(), items);
  for (const QLabel* label :
       {w.Device_1_Image(), w.DownloadImage(), w.ResultImage(), w.VerMessage(), w.HintMessage1()}) {
    const QPixmap shown = label->pixmap();
    std::string shows = shown.isNull() ? label->text().toStdString() : "?";
    // The very pixmap decoded once for the window's screen and look, never a copy.
    for (const auto& name : kPictures) {
      if (!shown.isNull() &&
          w.pictureNamed(QString::fromStdString(name)).cacheKey() == shown.cacheKey())
        shows = name;
    }
    field(label, shows);
  }
  field(w.ActionButton(), w.ActionButton()->text().toStdString());
  // Only while the firmware downloads.
  if (!w.DownloadProgress()->isHidden()) text += " | " + w.DownloadProgress()->text().toStdString();
  return text;
}

const std::string kConnectView =
    "- | device | - | - | - | Press and hold the button, then connect it to the computer. | -";
const std::string kUpdatedView =
    "- | - | - | complete | - | Firmware successfully updated. | Close";
const std::string kFailedView =
    "- | - | - | failed | - | The Setup didn't finish and will restart. | Close";
const std::string kServerErrorView =
    "- | device | - | failed | - | Something wrong , Can't Download File From FTP | Close";

// WCAG 2's contrast ratio: the lighter colour's relative luminance over the darker's, each + 0.05.
double contrast(QRgb a, QRgb b) {
  const auto luminance = [](QRgb c) {
    const auto linear = [](int v) {
      const double s = v / 255.0;
      return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(c)) + 0.7152 * linear(qGreen(c)) + 0.0722 * linear(qBlue(c));
  };
  const double one = luminance(a), other = luminance(b);
  return (std::max(one, other) + 0.05) / (std::min(one, other) + 0.05);
}

// The contrast of the text in `area` (in `shot`'s own units) on the rendered pixels: inside a
// frame's width, the commonest colour is what is behind the text, the pixel farthest from it the
// ink. Glyph stems are solid at these sizes, so the ink's own colour is among the pixels.
double textContrast(const QPixmap& shot, QRect area) {
  const QImage image = shot.toImage();
  const qreal scale = shot.devicePixelRatio();
  area.adjust(3, 3, -3, -3);
  const QRect pixels =
      QRect((QPointF(area.topLeft()) * scale).toPoint(), area.size() * scale) & image.rect();
  std::map<QRgb, int> counts;
  for (int y = pixels.top(); y <= pixels.bottom(); ++y)
    for (int x = pixels.left(); x <= pixels.right(); ++x)
      ++counts[image.pixel(x, y)];
  if (counts.empty()) return 0;
  const QRgb behind = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                        return a.second < b.second;
                      })->first;
  double most = 1;
  for (const auto& [colour, count] : counts)
    most = std::max(most, contrast(colour, behind));
  return most;
}

using Contrasts = std::vector<std::pair<std::string, double>>;

// Each of `texts` that shows a text and is enabled, as `surface` renders it now. WCAG asks nothing
// of a disabled control's text.
void measure(QWidget& surface, const QList<QWidget*>& texts, Contrasts& out) {
  const QPixmap shot = surface.grab();
  for (QWidget* text : texts) {
    const QString shown =
        text->property(qobject_cast<QComboBox*>(text) ? "currentText" : "text").toString();
    if (!text->isVisible() || !text->isEnabled() || shown.isEmpty()) continue;
    out.emplace_back(shown.toStdString(),
                     textContrast(shot, QRect(text->mapTo(&surface, QPoint()), text->size())));
  }
}

// The window wired the way the application wires it, with a firmware file an earlier run left
// behind. Alerts are recorded with the view behind them instead of being shown.
struct WindowRig {
  explicit WindowRig(BoardFaults faults = {}) : window(dir / "tmp.hex"), sim(window, faults) {
    writeFile(dir / "tmp.hex", ":00000001FF\n");
    window.setHooks({.RegisterHID = [this] { viewAtRegisterHID = describe(window); },
                     .OnActionButtonClick = [this] { sim.engine.OnActionButtonClick(); },
                     .onVariantSelected = [this](int64_t index) { picked.push_back(index); }});
    window.setAlertPresenter([this](ViewController& w, const QString& message) {
      alerts.push_back(message.toStdString() + " over " + describe(w));
    });
    window.show();
  }
  void click() { QTest::mouseClick(window.ActionButton(), Qt::LeftButton); }
  // The road of one update as far as `steps`: 0 Loading, 1 the connect prompt, 2 the board taken
  // and its release being fetched, 3 the release accepted, 4 "Update" clicked, 5 a 4800-byte
  // firmware stored and programmed as far as the board lets it.
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
  std::vector<int64_t> picked;
  Contrasts* seen = nullptr;  // where the contrast test collects what it measures
};

// What a screen reader gets from the window: each part it can see, as its role, its label (a
// pop-up's), its name and its value, with "*" on the part that holds the focus.
std::string heard(ViewController& w) {
  QString text;  // (std::string joins here trip GCC 12's -O3 overlap warning)
  QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&w);
  for (int i = 0; i < window->childCount(); ++i) {
    QAccessibleInterface* part = window->child(i);
    if (part->state().invisible) continue;
    text += text.isEmpty() ? "" : "; ";
    text += QMetaEnum::fromType<QAccessible::Role>().valueToKey(part->role());
    for (const auto& label : part->relations(QAccessible::Label))
      text += " " + label.first->text(QAccessible::Name) + ":";
    text += " \"" + part->text(QAccessible::Name) + "\"";
    if (QAccessibleValueInterface* value = part->valueInterface())
      text += " = " + value->currentValue().toString();
    if (part->object() == w.focusWidget()) text += " *";
  }
  return text.toStdString();
}

struct Scene {
  std::string name;  // also the screenshot's
  int steps;         // how far along the road (WindowRig::walk)
  BoardFaults faults;
  std::string view;
  std::string heard;       // what a screen reader reads (::heard)
  std::string alert = {};  // the message of the one alert the state opens, if it opens one
  std::function<void(WindowRig&)> then = {};
  // What the contrast test measures beyond the window's texts (or does first), and the name of
  // the screenshot it keeps of the dark look, if it keeps one.
  std::function<void(WindowRig&, Contrasts&)> measure = {};
  std::string darkShot = {};
};

class WindowStates : public ::testing::TestWithParam<Scene> {};

// Each visible state, reached the way the update reaches it, shows what the state table gives;
// an alert opens only once its view is on screen; in a final state "Close" ends the application.
// Start-up removes the stale firmware file and shows the connect prompt before it starts the HID
// link; one click on "Update" starts exactly one download. Each state is kept as a screenshot.
// A screen reader reads each state by name: the action button takes the focus when it appears;
// with nothing to press, the hint holds it. The button's description is the hint, and the window
// is a window named by its title.
TEST_P(WindowStates, ShowTheStateTableRow) {
  const Scene& scene = GetParam();
  WindowRig rig(scene.faults);
  rig.walk(scene.steps);
  if (scene.then) scene.then(rig);
  EXPECT_EQ(describe(rig.window), scene.view);
  EXPECT_EQ(rig.alerts, scene.alert.empty() ? std::vector<std::string>{}
                                            : std::vector{scene.alert + " over " + scene.view});
  EXPECT_EQ(std::filesystem::exists(rig.dir / "tmp.hex"), scene.steps == 0);
  EXPECT_EQ(rig.viewAtRegisterHID, scene.steps == 0 ? "" : kConnectView);
  const QPixmap shot = rig.window.grab();
  EXPECT_EQ(shot.deviceIndependentSize().toSize(), rig.window.size());
  EXPECT_EQ(shot.size(), rig.window.size() * rig.window.devicePixelRatio());
  saveScreenshot(shot, scene.name);
  // The focus settles once the whole view is applied; Loading lasts no longer than that.
  if (scene.steps > 0) QCoreApplication::processEvents();
  EXPECT_EQ(heard(rig.window), scene.heard);
  QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&rig.window);
  EXPECT_EQ(window->role(), QAccessible::Window);
  EXPECT_EQ(window->text(QAccessible::Name), "Trident Updater");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(rig.window.ActionButton())
                ->text(QAccessible::Description),
            rig.window.HintMessage1()->text());
  if (rig.window.ActionButton()->text() == "Close") {
    rig.click();
    EXPECT_FALSE(rig.window.isVisible());
  }
  EXPECT_EQ(rig.sim.server.downloads, scene.steps > 3 ? 1 : 0);
}

// The window's own alert: a modal box with the caller's message as its text and one default OK
// button, the error view already behind it. It is dismissed as a user would, and kept as a
// screenshot over the window, or, in the contrast test, measured.
const std::string kRefused = "Failed to connect to 127.0.0.1 port 2121: Connection refused";
void throughTheWindowsOwnAlert(WindowRig& rig) {
  rig.window.setAlertPresenter({});
  QTimer::singleShot(0, &rig.window, [&] {
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitUntil([&] {
      return (box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) != nullptr;
    }));
    rig.alerts.push_back(box->text().toStdString() + " over " + describe(rig.window));
    EXPECT_TRUE(box->isModal());
    EXPECT_EQ(box->buttons(), QList<QAbstractButton*>{box->button(QMessageBox::Ok)});
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
    if (rig.seen) measure(*box, box->findChildren<QWidget*>(), *rig.seen);
    if (!rig.seen) saveScreenshot(withBoxOver(rig.window, *box), "server-error-alert");
    QTest::mouseClick(box->defaultButton(), Qt::LeftButton);
  });
  rig.sim.engine.showErrorAlertWithMessage(kRefused);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// The figure on the gauge.
void figure(WindowRig& rig, Contrasts& seen) {
  const QLabel& gauge = *rig.window.Device_1_Image();
  const QRect figure(gauge.mapTo(&rig.window, gauge.rect().center() - QPoint(50, 25)),
                     QSize(100, 50));
  seen.emplace_back("figure", textContrast(rig.window.grab(), figure));
}

// The variant list, opened.
void variantList(WindowRig& rig, Contrasts& seen) {
  QComboBox& popUp = *rig.window.popUpBtn();
  popUp.showPopup();
  QAbstractItemView& list = *popUp.view();
  ASSERT_TRUE(waitUntil([&] { return list.isVisible(); }));
  const QPixmap shot = list.viewport()->grab();
  for (int row = 0; row < popUp.count(); ++row) {
    seen.emplace_back("item " + popUp.itemText(row).toStdString(),
                      textContrast(shot, list.visualRect(list.model()->index(row, 0))));
  }
  popUp.hidePopup();
}

const std::string kReady =
    "Tournament(No Turbo & Remap)*, Standard | device | - | - | "
    "The lastest version: V2.13 | Click Button to start update | Update";
const std::string kProgramming = " | - | - | - | DO NOT Remove the Controller | -";
// What a screen reader reads of the picture and the pop-up, and of a view that failed.
const std::string kBoard = "Graphic \"Board with the button to hold\"; ";
const std::string kPopUp = "ComboBox Firmware variant: \"Tournament(No Turbo & Remap)\"; " +
                           kBoard + "StaticText \"The lastest version: V2.13\"; ";
const std::string kFailedHeard =
    "Graphic \"Update failed\"; StaticText \"The Setup didn't finish "
    "and will restart.\"; Button \"Close\" *";
const std::string kConnectHeard =
    kBoard + "StaticText \"Press and hold the button, then connect it to the computer.\" *";

// The board faults name only the one each scene needs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// clang-format off
const std::vector<Scene> kScenes{
    Scene{"loading", 0, {}, "- | - | loading | - | - | Download Update File From FTP , Please wait | -",
          "Graphic \"Loading\"; StaticText \"Download Update File From FTP , Please wait\""},
    Scene{"connect-prompt", 1, {}, kConnectView, kConnectHeard},
    // Fetching leaves the hint alone, and the pop-up stays hidden until a release is in.
    Scene{"fetching", 2, {}, kConnectView, kConnectHeard},
    // Only the user's own choice in the pop-up reaches the update client; filling the pop-up
    // again replaces its items and selects the first without starting a fetch.
    Scene{"ready", 3, {}, kReady, kPopUp + "StaticText \"Click Button to start update\"; Button \"Update\" *", {},
          [](WindowRig& rig) {
      QTest::keyClick(rig.window.popUpBtn(), Qt::Key_Down);
      rig.window.fillVariantPopUp({"Tournament(No Turbo & Remap)", "Standard"});
      EXPECT_EQ(rig.picked, std::vector<int64_t>{1});
    }, variantList, "ready-dark"},
    Scene{"downloading", 4, {}, "!Tournament(No Turbo & Remap)*, Standard | device | - | - | "
          "The lastest version: V2.13 | DO NOT Remove the Controller | !Update",
          kPopUp + "StaticText \"DO NOT Remove the Controller\" *; Button \"Update\"", {}, {},
          // The download bar's text over its empty track here, over its full one next.
          [](WindowRig& rig, Contrasts&) { rig.sim.engine.downloadProgress(7000, 0); }},
    // How far the download has come, in the server's size or, untold, in what has come.
    Scene{"downloading-progress", 4, {}, "!Tournament(No Turbo & Remap)*, Standard | device | - | "
          "- | The lastest version: V2.13 | DO NOT Remove the Controller | !Update | Downloading: "
          "45 of 128 KB", kPopUp + "StaticText \"DO NOT Remove the Controller\" *; ProgressBar "
          "\"Firmware download\" = 351; Button \"Update\"", {}, [](WindowRig& rig) {
      rig.sim.engine.downloadProgress(7000, 0);
      EXPECT_EQ(rig.window.DownloadProgress()->text(), "Downloading: 7 KB");
      rig.sim.engine.downloadProgress(46080, 131072);
      EXPECT_EQ(rig.window.DownloadProgress()->value(), 351);
    }, [](WindowRig& rig, Contrasts&) { rig.sim.engine.downloadProgress(9, 9); }},
    // The board answers only the first sync, so the update waits before the transfer. The engine
    // keeps the picture index in range, but the window does not rely on it.
    Scene{"programming", 5, {.silentAfter = 1}, "- | 0" + kProgramming,
          "ProgressBar \"Programming the board: 0 %\" = 0; StaticText \"DO NOT Remove the Controller\" *", {},
          [](WindowRig& rig) {
      for (const auto& [index, picture] : std::vector<std::pair<int, std::string>>{
               {7, "7"}, {20, "20"}, {21, "20"}, {-1, "0"}, {INT_MAX, "20"}, {INT_MIN, "0"}}) {
        rig.window.Device_1_Image()->hide();
        rig.window.showProgressPicture(index, 0, 1);
        EXPECT_EQ(describe(rig.window), "- | " + picture + kProgramming) << index;
      }
    }},
    // Frame 44 of a 4800-byte image leaves packNo at 79: 45.7 %, picture 9; the gauge reads the
    // 2,120 bytes sent: 44 %.
    Scene{"programming-45", 5, {.silentAfter = 43}, "- | 9" + kProgramming,
          "ProgressBar \"Programming the board: 44 %\" = 44; StaticText \"DO NOT Remove the Controller\" *",
          {}, {}, figure, "programming-dark"},
    Scene{"updated", 5, {}, kUpdatedView, "Graphic \"Update complete\"; StaticText \"Firmware successfully "
          "updated.\"; Button \"Close\" *"},
    Scene{"update-failed", 5, {.wrongChecksum = true}, kFailedView, kFailedHeard},
    // A download's progress that comes after the end shows nothing.
    Scene{"device-removed", 5, {.unplugAfter = 30}, kFailedView, kFailedHeard, {}, [](WindowRig& rig) {
      rig.sim.engine.downloadProgress(10, 20); }},
    Scene{"server-error", 2, {}, kServerErrorView, kBoard + "Graphic \"Update failed\"; StaticText "
          "\"Something wrong , Can't Download File From FTP\"; Button \"Close\" *", kRefused,
          throughTheWindowsOwnAlert},
    // The firmware file is gone when the loader opens it: Setup error, even though the
    // Programming view had already hidden the button.
    Scene{"setup-error", 4, {}, kFailedView, kFailedHeard, "Error: Please check your network",
          [](WindowRig& rig) { rig.sim.engine.firmwareStored(0x1234); }}};
// clang-format on
#pragma GCC diagnostic pop

std::string testName(const Scene& scene) {
  return QString::fromStdString(scene.name).replace('-', '_').toStdString();
}
INSTANTIATE_TEST_SUITE_P(Scenes, WindowStates, ::testing::ValuesIn(kScenes),
                         [](const auto& info) { return testName(info.param); });

// A stale path that cannot be removed does not stop the start-up. The window is fixed in size,
// with its title and icon, and every picture it names is in the application, at the size of the
// picture views.
TEST(WindowStartUp, GoesOnWhenTheStaleFileCannotBeRemoved) {
  TempDir dir;
  std::filesystem::create_directories(dir / "tmp.hex" / "inside");
  ViewController window(dir / "tmp.hex");
  bool registered = false;
  window.setHooks({.RegisterHID = [&] { registered = true; }});
  ASSERT_TRUE(waitUntil([&] { return registered; }));
  EXPECT_TRUE(std::filesystem::exists(dir / "tmp.hex" / "inside"));
  EXPECT_EQ(window.windowTitle(), "Trident Updater");
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  for (const auto& name : kPictures)
    EXPECT_EQ(ViewController::imageNamed(QString::fromStdString(name)).size(), QSize(280, 240));
  EXPECT_TRUE(ViewController::imageNamed(u"21").isNull());
}

// Every picture the application carries comes with its 2x twin, twice as many pixels each way, and
// every picture drawn into src/ui/images is carried.
TEST(WindowPictures, EachComesWithTwiceThePixels) {
  ViewController::imageNamed(u"0");  // registers the resources
  const QStringList carried = QDir(QStringLiteral(":/images")).entryList();
  for (const QString& file : QDir(TRIDENT_SOURCE_DIR "/src/ui/images").entryList({"*.png"}))
    EXPECT_TRUE(carried.contains(file)) << file.toStdString();
  qsizetype pairs = 0;
  for (const QString& file : carried) {
    if (file.endsWith(u"@2x.png")) continue;
    const QImage one(":/images/" + file), two(":/images/" + file.chopped(4) + "@2x.png");
    EXPECT_EQ(two.size(), one.size() * 2) << file.toStdString();
    ++pairs;
  }
  EXPECT_EQ(pairs * 2, carried.size());  // no 2x picture without its own
}

// A picture is picked for the screen's pixel ratio (the 2x file above 1, in the 1x picture's room
// on the window) and the window's look (the dark variant where one is drawn); asked again, the
// very same pixmap comes back.
TEST(WindowPictures, ArePickedForTheScreenAndTheLook) {
  // clang-format off
  const std::vector<std::tuple<const char*, qreal, bool, const char*>> picks{
      {"7", 1, false, "7.png"}, {"7", 1.25, false, "7@2x.png"}, {"7", 2, true, "7-dark@2x.png"},
      {"device", 1, true, "device-dark.png"}, {"complete", 3, true, "complete@2x.png"},
      {"loading", 0.75, false, "loading.png"}, {"21", 2, true, nullptr}};
  // clang-format on
  for (const auto& [name, ratio, dark, file] : picks) {
    SCOPED_TRACE(std::string(name) + " at " + std::to_string(ratio) + (dark ? ", dark" : ""));
    const QPixmap picture = ViewController::imageNamed(QString::fromLatin1(name), ratio, dark);
    if (!file) {
      EXPECT_TRUE(picture.isNull());
      continue;
    }
    QImage drawn(QStringLiteral(":/images/") + file);
    drawn.setDevicePixelRatio(picture.devicePixelRatio());
    EXPECT_EQ(picture.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
              drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    EXPECT_EQ(picture.deviceIndependentSize(), QSizeF(280, 240));
    EXPECT_EQ(ViewController::imageNamed(QString::fromLatin1(name), ratio, dark).cacheKey(),
              picture.cacheKey());
  }
}

// The application's palette for one test: a dark desktop's (Qt derives light text and the rest
// from a dark grey), or the light one it started with.
struct DesktopPalette {
  explicit DesktopPalette(bool dark) { set(dark); }
  ~DesktopPalette() { QApplication::setPalette(started); }
  void set(bool dark) {
    QApplication::setPalette(dark ? QPalette(QColor(0x35, 0x35, 0x35), QColor(0x35, 0x35, 0x35))
                                  : started);
  }
  const QPalette started = QApplication::palette();
};

// Counts the paint events of one widget.
struct Paints : QObject {
  explicit Paints(QWidget& widget) { widget.installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    count += event->type() == QEvent::Paint;
    return false;
  }
  int count = 0;
};

// The window shows its pictures for its own screen and follows the desktop's palette while it
// runs, back to the layout's own style sheet; a progress picture set again costs no repaint.
TEST(WindowPictures, FollowTheScreenAndThePaletteAndRepaintOnlyAChange) {
  DesktopPalette desktop(false);
  ViewController window;
  window.show();
  const QString layout = window.styleSheet();
  const qreal ratio = window.devicePixelRatio();
  EXPECT_EQ(ratio, qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble());  // 200 % is 200 %
  const QLabel& device = *window.Device_1_Image();
  for (const bool dark : {false, true, false}) {
    desktop.set(dark);
    EXPECT_TRUE(waitUntil([&] { return window.darkLook() == dark; })) << dark;
    EXPECT_EQ(device.pixmap().cacheKey(),
              ViewController::imageNamed(u"device", ratio, dark).cacheKey());
    EXPECT_EQ(device.pixmap().devicePixelRatio(), ratio > 1 ? 2 : 1);
    EXPECT_EQ(device.pixmap().deviceIndependentSize(), QSizeF(280, 240));
  }
  EXPECT_EQ(window.styleSheet(), layout);

  window.setUpUpdateHexUI();
  Paints paints(*window.Device_1_Image());
  ASSERT_TRUE(waitUntil([&] { return paints.count > 0; }));
  paints.count = 0;
  for (uint32_t sent = 0; sent < 100; ++sent)
    window.showProgressPicture(0, sent, 4800);
  QCoreApplication::processEvents();
  EXPECT_EQ(paints.count, 0);
  window.showProgressPicture(1, 240, 4800);
  EXPECT_TRUE(waitUntil([&] { return paints.count > 0; }));
}

class WindowContrast : public ::testing::TestWithParam<std::tuple<Scene, bool>> {};

// In each state, on a light and on a dark desktop, every text the window shows stands out from
// what is behind it by WCAG's 4.5:1 at least, measured on the rendered window: the labels, the
// button, the variant pop-up and its list, the download bar over its empty and its full track, the
// gauge's figure and the alert.
TEST_P(WindowContrast, EveryTextStandsOut) {
  const auto& [scene, dark] = GetParam();
  const DesktopPalette desktop(dark);
  WindowRig rig(scene.faults);
  Contrasts seen;
  rig.seen = &seen;
  rig.walk(scene.steps);
  if (scene.then) scene.then(rig);
  if (scene.measure) scene.measure(rig, seen);
  ViewController& w = rig.window;
  ASSERT_EQ(w.darkLook(), dark);
  measure(w,
          {w.popUpBtn(), w.VerMessage(), w.HintMessage1(), w.ActionButton(), w.DownloadProgress()},
          seen);
  EXPECT_FALSE(seen.empty());
  for (const auto& [text, ratio] : seen)
    EXPECT_GE(ratio, 4.5) << text;
  if (dark && !scene.darkShot.empty()) saveScreenshot(w.grab(), scene.darkShot);
}

INSTANTIATE_TEST_SUITE_P(Looks, WindowContrast,
                         ::testing::Combine(::testing::ValuesIn(kScenes), ::testing::Bool()),
                         [](const auto& info) {
                           return testName(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) ? "_dark" : "_light");
                         });

// The version is server text: markup in it shows as it stands, never rendered.
TEST(WindowText, AVersionWithMarkupShowsAsPlainText) {
  WindowRig rig;
  rig.walk(2);
  rig.sim.engine.releaseAccepted("<b style='color:green'>V9</b>\u202e\u2028\x1b");
  EXPECT_EQ(rig.window.VerMessage()->textFormat(), Qt::PlainText);
  EXPECT_EQ(rig.window.VerMessage()->text(),
            "The lastest version: <b style='color:green'>V9</b>???");
}

// The keyboard alone, with Enter or Space: Tab leads from the variant pop-up to the action button
// and back; the pop-up opens with Space and picks with the arrows; the key on "Update" starts the
// update, and on "Close" ends the application. Each key goes where the focus is.
TEST(WindowKeyboard, LeadsThroughAnUpdateWithEnterOrSpace) {
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
    WindowRig rig;
    rig.walk(3);
    const auto press = [&](QWidget* to, Qt::Key pressed) {
      QTest::keyClick(to, pressed);
      QCoreApplication::processEvents();
      return rig.window.focusWidget();
    };
    rig.window.activateWindow();  // the focus ring is drawn in the active window only
    ASSERT_TRUE(waitUntil([&] { return rig.window.isActiveWindow(); }));
    ASSERT_EQ(rig.window.focusWidget(), rig.window.ActionButton());
    saveScreenshot(rig.window.grab(), "keyboard-update");
    const QImage ringed = rig.window.ActionButton()->grab().toImage();
    EXPECT_EQ(press(rig.window.focusWidget(), Qt::Key_Backtab), rig.window.popUpBtn());
    EXPECT_NE(rig.window.ActionButton()->grab().toImage(), ringed);  // the ring left with the focus
    saveScreenshot(rig.window.grab(), "keyboard-variant");
    press(rig.window.popUpBtn(), Qt::Key_Space);
    ASSERT_TRUE(rig.window.popUpBtn()->view()->isVisible());
    press(QApplication::activePopupWidget(), Qt::Key_Escape);
    EXPECT_FALSE(rig.window.popUpBtn()->view()->isVisible());
    EXPECT_EQ(press(rig.window.popUpBtn(), Qt::Key_Down), rig.window.popUpBtn());
    EXPECT_EQ(rig.picked, std::vector<int64_t>{1});
    EXPECT_EQ(press(rig.window.popUpBtn(), Qt::Key_Tab), rig.window.ActionButton());
    press(rig.window.ActionButton(), key);
    EXPECT_EQ(rig.sim.server.downloads, 1);
    const auto image = randomBytes(4800, 4800);
    rig.sim.storeFirmware(objcopyHex(rig.dir, image), SimRig::expectedChecksumFor(image));
    QCoreApplication::processEvents();
    ASSERT_EQ(rig.window.focusWidget(), rig.window.ActionButton());
    press(rig.window.ActionButton(), key);
    EXPECT_FALSE(rig.window.isVisible());
  }
}

// The window's own alert is a dialog of role Alert that carries its message, and Escape or Enter
// dismiss it. Either key on the close question keeps the update: Cancel is its default and its
// escape.
TEST(WindowKeyboard, AlertsAndTheCloseQuestionAnswerEscapeAndEnter) {
  BoardFaults silent;
  silent.silentAfter = 30;
  WindowRig rig(silent);
  rig.walk(5);
  rig.window.setAlertPresenter({});
  for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
    QTimer::singleShot(0, &rig.window, [&] {
      QWidget* box = nullptr;
      ASSERT_TRUE(waitUntil([&] { return (box = QApplication::activeModalWidget()) != nullptr; }));
      QAccessibleInterface* alert = QAccessible::queryAccessibleInterface(box);
      EXPECT_EQ(alert->role(), QAccessible::AlertMessage);
      EXPECT_EQ(alert->text(QAccessible::Value), "Parse txt file error");
      QTest::keyClick(box->focusWidget(), key);
    });
    rig.window.alertA("Parse txt file error");  // returns once the alert is dismissed
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    rig.window.close();
    ASSERT_NE(rig.window.quitQuestion(), nullptr);
    QTest::keyClick(rig.window.quitQuestion()->focusWidget(), key);
    EXPECT_TRUE(waitUntil([&] { return rig.window.quitQuestion() == nullptr; }));
    EXPECT_TRUE(rig.window.isVisible());
  }
}

const std::string kHexDir =
    TRIDENT_SOURCE_DIR "/update-server/varnehex/VARNE_TRIDENT_Fighting_Board/";
// The Ready view with the first or the second item of the pop-up selected.
const std::string kReadyToFlash[] = {
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
  std::string view = {};     // the view at the end
  std::string alert = {};    // how the one alert begins, if there is one
  std::string image = {};    // the demo HEX file whose bytes the board holds, if it holds them all
  std::string history = {};  // the results the update history holds at the end
};

class EndToEnd : public ::testing::TestWithParam<Outcome> {};

// Each outcome, reached the way a user reaches it, ends in its view with the board holding what
// it should; after a good update the board leaves and the result stays. Closing the window and
// tearing the application down joins the HID thread and any transfer: it must not hang, and the
// board sees its host go.
TEST_P(EndToEnd, EndsInTheViewOfItsOutcome) {
  const Outcome& o = GetParam();
  TempDir place;  // the board's image, a file where a folder should be, a server without releases
  writeFile(place / "not-a-folder", std::string("x"));
  const auto bare = o.served ? nullptr : std::make_unique<FtpServer>(place.path());
  auto options = o.board;
  options.insert(options.begin(), {"--save-image", (place / "programmed.bin").string()});
  Session s(options, kReplyTimeout,
            o.writable ? std::nullopt : std::optional(place / "not-a-folder" / "tmp.hex"),
            bare ? bare->url() : "");
  std::vector<std::string> alerts;
  ViewController& window = s.window();
  window.setAlertPresenter(
      [&](ViewController&, const QString& message) { alerts.push_back(message.toStdString()); });
  // The user picks the variant in the pop-up; each choice fetches its release again.
  for (int item = 0; item <= o.variant; ++item) {
    if (item) QTest::keyClick(window.popUpBtn(), Qt::Key_Down);
    ASSERT_TRUE(waitUntil([&] { return describe(window) == kReadyToFlash[item]; }, 20s))
        << describe(window);
  }
  if (o.variant >= 0) window.ActionButton()->click();
  // The board's replies are answered on the HID thread: the view follows the status there.
  ASSERT_TRUE(waitUntil(
      [&] { return s.status() == o.status && (o.view.empty() || describe(window) == o.view); },
      30s))
      << describe(window);
  if (o.status == STATUS_DONE) {
    ASSERT_TRUE(waitUntil([&] { return !s.app->boardTaken(); }, 10s));
  }
  EXPECT_EQ(alerts.size(), o.alert.empty() ? 0u : 1u);
  for (const auto& alert : alerts)
    EXPECT_TRUE(alert.starts_with(o.alert)) << alert;
  // An update's history line is written with the view that ends it; one the closing cuts short,
  // then.
  const auto kept = o.history.empty() ? std::vector<std::string>() : std::vector{o.history};
  EXPECT_EQ(s.results(), o.status == STATUS_PEND_UPDATE ? std::vector<std::string>() : kept);
  window.close();
  EXPECT_EQ(s.history(), kept);
  // The board program's status says whether the final command reached it (0) or not (5).
  EXPECT_EQ(s.board->wait(10s), o.status == STATUS_DONE ? 0 : 5);
  if (!o.image.empty()) {
    EXPECT_EQ(readFile(place / "programmed.bin"), hexData(place, kHexDir + o.image));
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Outcomes, EndToEnd, ::testing::Values(
    Outcome{"tournament", {}, true, true, 0, STATUS_DONE, kUpdatedView, "", "TE/TRIDENT_TE_V2.1.0.hex",
            "updated"},
    Outcome{"standard", {}, true, true, 1, STATUS_DONE, kUpdatedView, "", "TRIDENT_V2.1.0.hex",
            "updated"},
    Outcome{"wrongChecksum", {"--wrong-checksum"}, true, true, 0, STATUS_DONE, kFailedView, "",
            "TE/TRIDENT_TE_V2.1.0.hex", "checksum-differs"},
    Outcome{"removedMidTransfer", {"--unplug-after", "30"}, true, true, 0, STATUS_DEVICE_REMOVED,
            kFailedView, "", "", "removed"},
    Outcome{"noRelease", {}, false, true, -1, STATUS_ERROR, kServerErrorView,
            "Server denied you to change to the given directory"},
    Outcome{"unwritableFirmwareFile", {}, true, false, 0, STATUS_ERROR, kServerErrorView,
            "Cannot write the firmware file ", "", "server-error"},
    Outcome{"closedMidTransfer", {"--reply-delay-ms", "2"}, true, true, 0, STATUS_PEND_UPDATE, "",
            "", "", "interrupted"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace trident::testing

// The window tests need a QApplication before the first test. CTest's discovery runs this binary
// outside the test environment, so the offscreen platform is chosen here unless one is set.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
