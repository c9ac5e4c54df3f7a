#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include "support/process.h"

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

// Where the screenshots go: TRIDENT_SCREENSHOT_DIR (scripts/render-screenshots points it at
// docs/screenshots), else the build tree.
inline void saveScreenshot(const QPixmap& shot, const std::string& name) {
  const char* chosen = std::getenv("TRIDENT_SCREENSHOT_DIR");
  QDir dir(chosen && *chosen ? QString::fromLocal8Bit(chosen)
                             : QStringLiteral(TRIDENT_BINARY_DIR "/screenshots"));
  dir.mkpath(".");
  EXPECT_TRUE(shot.save(dir.filePath(QString::fromStdString(name) + ".png"), "PNG")) << name;
}

// `window` shaded, with `box` over it where a desktop puts a dialog. Offscreen windows have no
// frame: a shadow and an outline stand in for the dialog's own.
inline QPixmap withBoxOver(QWidget& window, QWidget& box) {
  QPixmap shot = window.grab();
  const QPixmap over = box.grab();
  const QSize room = window.size(), size = box.size();  // both drawn at the screen's scale
  const QRect place(QPoint((room.width() - size.width()) / 2, (room.height() - size.height()) / 3),
                    size);
  QPainter painter(&shot);
  painter.fillRect(QRect(QPoint(), room), QColor(15, 23, 42, 70));
  painter.fillRect(place.translated(0, 4).adjusted(-3, -3, 3, 3), QColor(15, 23, 42, 50));
  painter.drawPixmap(place.topLeft(), over);
  painter.setPen(QColor(15, 23, 42, 90));
  painter.drawRect(place.adjusted(-1, -1, 0, 0));
  painter.end();
  return shot;
}

}  // namespace trident::testing
