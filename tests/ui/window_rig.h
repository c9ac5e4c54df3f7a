#pragma once

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

#include <string>
#include <vector>

#include "support/process.h"
#include "ui/ViewController.h"

// What the window tests and the end-to-end tests read off the window.
namespace trident::testing {

// Turns the Qt event loop until `done` holds; false if the limit passed first.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  return waitFor(
      [&] {
        QCoreApplication::processEvents();
        return done();
      },
      limit);
}

// Every picture the application carries by name.
inline const std::vector<std::string> kPictures = [] {
  std::vector<std::string> names(ViewController::progressImageNames.begin(),
                                 ViewController::progressImageNames.end());
  names.insert(names.end(), {"complete", "failed", "device", "loading"});
  return names;
}();

// The window as the state table reads it, one field per outlet in declaration order: "-" for a
// hidden view, "!" before a disabled one, then what it shows (pictures by name, "?" for one the
// application does not carry; the pop-up's items with "*" after the selected one).
inline std::string describe(const ViewController& w) {
  std::string text, items;
  auto field = [&](const QWidget& view, const std::string& shows) {
    if (!text.empty()) text += " | ";
    text += view.isHidden() ? "-" : view.isEnabled() ? shows : "!" + shows;
  };
  auto picture = [](const QLabel& label) -> std::string {
    for (const auto& name : kPictures) {
      const QPixmap candidate = ViewController::imageNamed(QString::fromStdString(name));
      if (candidate.cacheKey() == label.pixmap().cacheKey() ||
          candidate.toImage() == label.pixmap().toImage()) {
        return name;
      }
    }
    return "?";
  };
  for (int i = 0; i < w.popUpBtn()->count(); ++i) {
    if (i) items += ", ";
    items += w.popUpBtn()->itemText(i).toStdString();
    if (i == w.popUpBtn()->currentIndex()) items += "*";
  }
  field(*w.popUpBtn(), items);
  for (const QLabel* label : {w.Device_1_Image(), w.DownloadImage(), w.ResultImage()})
    field(*label, picture(*label));
  for (const QLabel* label : {w.VerMessage(), w.HintMessage1()})
    field(*label, label->text().toStdString());
  field(*w.ActionButton(), w.ActionButton()->text().toStdString());
  return text;
}

const std::string kConnectView =
    "- | device | - | - | - | Press and hold the button, then connect it to the MAC. | -";
const std::string kUpdatedView =
    "- | - | - | complete | - | Firmware successfully updated. | Close";
const std::string kFailedView =
    "- | - | - | failed | - | The Setup didn't finish and will restart. | Close";
const std::string kServerErrorView =
    "- | device | - | failed | - | Something wrong , Can't Download File From FTP | Close";

}  // namespace trident::testing
