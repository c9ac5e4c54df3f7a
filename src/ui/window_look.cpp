// The window's look: its pictures, picked for the screen's pixel ratio and the desktop's palette,
// and its dark style; the rest of ViewController is in ViewController.cpp.
#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPalette>

#include <algorithm>

#include "ui/ViewController.h"
#include "ui/window_accessibility.h"

// The pictures live in a static library: nothing would pull their resource object into the
// program, so they are registered by hand before the first lookup.
static void registerTridentImages() {
  Q_INIT_RESOURCE(trident_images);
}

namespace trident {

namespace {

// The layout's style sheet is drawn for a light window. On a dark desktop these rules follow it,
// overriding only colours, so the light look stays exactly as designed and the dark one has the
// same shapes. Every text keeps at least 4.5:1 against what is behind it.
constexpr QStringView kDarkStyleSheet =
    uR"(
#ViewController { background-color: #0f172a; }
QLabel#VerMessage { color: #f1f5f9; }
QLabel#HintMessage1 { color: #cbd5e1; }
QPushButton#ActionButton:disabled { background-color: #1e3a5f; color: #8ea6c8; }
QProgressBar#DownloadProgress { background-color: #1e293b; color: #f1f5f9; }
QProgressBar#DownloadProgress::chunk { background-color: #1d4f9c; }
)";

// A dark desktop gives light text on a dark window, whatever its colours are.
bool isDark(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() <
         palette.color(QPalette::WindowText).lightness();
}

}  // namespace

QPixmap ViewController::imageNamed(QStringView name, qreal devicePixelRatio, bool dark) {
  static const bool registered = (registerTridentImages(), true);
  static_cast<void>(registered);
  // The progress picture changes with every twentieth of an update and is set for every frame;
  // a 2x picture is a megabyte decoded. Each one is read once, then shared.
  static QHash<QString, QPixmap> decoded;
  const bool twice = devicePixelRatio > 1;
  QString file = name.toString();
  if (dark) file += u"-dark";
  if (twice) file += u"@2x";
  if (const auto found = decoded.constFind(file); found != decoded.cend()) return *found;
  QPixmap picture = QPixmap::fromImage(QImage(QStringLiteral(":/images/%1.png").arg(file)));
  if (picture.isNull() && dark) {
    picture = imageNamed(name, devicePixelRatio, false);  // drawn to read on either background
  } else if (!picture.isNull()) {
    picture.setDevicePixelRatio(twice ? 2 : 1);  // twice the pixels, the same room on the window
  }
  decoded.insert(file, picture);
  return picture;
}

QPixmap ViewController::pictureNamed(QStringView name) const {
  return imageNamed(name, devicePixelRatioF(), darkLook_);
}

void ViewController::setImage(QLabel* view, QStringView name) {
  auto shown = std::find_if(pictures_.begin(), pictures_.end(),
                            [view](const auto& picture) { return picture.first == view; });
  if (shown == pictures_.end()) shown = pictures_.emplace(pictures_.end(), view, QString());
  // The progress picture is set for every frame, hundreds of times a second, and is mostly the
  // one already on screen: that costs a comparison, not a repaint.
  if (shown->second == name) return;
  shown->second = name.toString();
  view->setPixmap(pictureNamed(name));
  accessibility_->pictureShown(*view, name);
}

void ViewController::followPalette() {
  if (isDark(QGuiApplication::palette()) == darkLook_) return;
  darkLook_ = !darkLook_;
  // Qt 6.4 does not read a style sheet again that replaces another before the first polish.
  ensurePolished();
  setStyleSheet(darkLook_ ? lightStyleSheet_ + kDarkStyleSheet.toString() : lightStyleSheet_);
  showPicturesAgain();
}

void ViewController::showPicturesAgain() {
  for (const auto& [view, name] : pictures_)
    view->setPixmap(pictureNamed(name));
}

bool ViewController::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::ApplicationPaletteChange:  // the desktop changed its colours
    case QEvent::ThemeChange:
      followPalette();
      break;
    case QEvent::ScreenChangeInternal:  // moved to a screen that may have another pixel ratio
      showPicturesAgain();
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

}  // namespace trident
