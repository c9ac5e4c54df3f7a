#include "window_rig.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <utility>

namespace trident::testing {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > deadline.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  return true;
}

std::string pictureName(const QLabel& label) {
  const QPixmap shown = label.pixmap();
  if (shown.isNull()) return "none";
  std::vector<std::string> names(ViewController::progressImageNames.begin(),
                                 ViewController::progressImageNames.end());
  names.insert(names.end(), {"complete", "failed", "device", "loading"});
  const QImage image = shown.toImage();
  for (const auto& name : names) {
    const QPixmap candidate = ViewController::imageNamed(QString::fromStdString(name));
    if (candidate.cacheKey() == shown.cacheKey() || candidate.toImage() == image) return name;
  }
  return "?";
}

namespace {

std::string quoted(const QString& text) {
  return '"' + text.toStdString() + '"';
}

std::string line(const char* outlet, const QWidget& view, const std::string& shows = {}) {
  std::string text = std::string(outlet) + ": " + (view.isHidden() ? "hidden" : "shown");
  if (view.isHidden()) return text;
  if (!view.isEnabled()) text += " disabled";
  return shows.empty() ? text : text + " " + shows;
}

std::string items(const QComboBox& box) {
  std::string text = "[";
  for (int i = 0; i < box.count(); ++i) {
    text += (i ? ", " : "") + box.itemText(i).toStdString();
    if (i == box.currentIndex()) text += "*";
  }
  return text + "]";
}

}  // namespace

std::string describe(const ViewController& w) {
  return line("popUpBtn", *w.popUpBtn(), items(*w.popUpBtn())) + "\n" +
         line("Device_1_Image", *w.Device_1_Image(), pictureName(*w.Device_1_Image())) + "\n" +
         line("DownloadImage", *w.DownloadImage(), pictureName(*w.DownloadImage())) + "\n" +
         line("ResultImage", *w.ResultImage(), pictureName(*w.ResultImage())) + "\n" +
         line("VerMessage", *w.VerMessage(), quoted(w.VerMessage()->text())) + "\n" +
         line("HintMessage1", *w.HintMessage1(), quoted(w.HintMessage1()->text())) + "\n" +
         line("ActionButton", *w.ActionButton(), quoted(w.ActionButton()->text())) + "\n";
}

ViewChangeLog::ViewChangeLog(ViewController& window) : window_(window) {
  take();
  for (QWidget* outlet : std::initializer_list<QWidget*>{
           window.popUpBtn(), window.Device_1_Image(), window.DownloadImage(), window.ResultImage(),
           window.VerMessage(), window.HintMessage1(), window.ActionButton()})
    outlet->installEventFilter(this);
}

void ViewChangeLog::noteQuietChanges() {
  auto picture = [this](QLabel* label, qint64& last) {
    const qint64 key = label->pixmap().cacheKey();
    if (key == last) return;
    last = key;
    entries_.push_back("picture " + label->objectName().toStdString() + " " + pictureName(*label));
  };
  auto text = [this](const char* what, const QString& now, std::string& last) {
    if (now.toStdString() == last) return;
    last = now.toStdString();
    entries_.push_back(std::string(what) + " " + quoted(now));
  };
  picture(window_.Device_1_Image(), devicePixmap_);
  picture(window_.ResultImage(), resultPixmap_);
  text("title", window_.ActionButton()->text(), title_);
  text("version", window_.VerMessage()->text(), version_);
  text("hint", window_.HintMessage1()->text(), hint_);
}

std::vector<std::string> ViewChangeLog::take() {
  noteQuietChanges();
  return std::exchange(entries_, {});
}

bool ViewChangeLog::eventFilter(QObject* watched, QEvent* event) {
  const char* verb = nullptr;
  switch (event->type()) {
    case QEvent::ShowToParent:
      verb = "show ";
      break;
    case QEvent::HideToParent:
      verb = "hide ";
      break;
    case QEvent::EnabledChange:
      verb = static_cast<QWidget*>(watched)->isEnabled() ? "enable " : "disable ";
      break;
    default:
      return false;
  }
  noteQuietChanges();
  entries_.push_back(verb + watched->objectName().toStdString());
  return false;
}

WindowRig::WindowRig(BoardFaults faults) : window(dir / "tmp.hex"), sim(window, faults) {
  window.setHooks({
      .RegisterHID =
          [this] { hintAtRegisterHID.push_back(window.HintMessage1()->text().toStdString()); },
      .OnActionButtonClick = [this] { sim.engine.OnActionButtonClick(); },
      .onVariantSelected = [this](int64_t index) { variantsPicked.push_back(index); },
  });
  window.setAlertPresenter([this](ViewController& w, const QString& message) {
    alerts.push_back({message.toStdString(), describe(w)});
  });
  window.show();
}

void WindowRig::startUp() {
  ASSERT_TRUE(waitUntil([this] { return !hintAtRegisterHID.empty(); }));
}

void WindowRig::takeBoard() {
  sim.takeBoard();
  // The update-server client shows the Fetching view as it starts each fetch.
  window.showFetching();
}

void WindowRig::acceptRelease(std::string_view version) {
  sim.engine.releaseAccepted(version);
}

void WindowRig::clickActionButton() {
  QTest::mouseClick(window.ActionButton(), Qt::LeftButton);
}

void WindowRig::storeFirmware(size_t size) {
  const auto image = randomBytes(size, static_cast<uint32_t>(size));
  sim.storeFirmware(objcopyHex(dir, image), SimRig::expectedChecksumFor(image));
}

}  // namespace trident::testing
