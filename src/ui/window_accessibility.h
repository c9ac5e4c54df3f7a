#pragma once

#include <QAccessible>
#include <QElapsedTimer>
#include <QFocusFrame>
#include <QLabel>
#include <QObject>
#include <QStringView>
#include <QTimer>

#include <chrono>
#include <cstdint>

#include "engine/ports.h"

class QComboBox;
class QEvent;
class QProgressBar;
class QPushButton;

namespace trident {

// The board's programming as a screen reader gets it. While the board is being programmed, the
// picture that shows it ("0" to "20") is a progress bar for assistive technology, its value the
// percentage and its name "Programming the board: N %"; before that it is the connect prompt's
// picture.
class ProgrammingProgress final : public QObject {
  Q_OBJECT

 public:
  // A screen reader speaks every change it is told of: at most one in this time, the last (100 %)
  // always, so that its speech keeps up with the gauge.
  static constexpr std::chrono::milliseconds kAnnounceInterval{250};

  explicit ProgrammingProgress(QLabel& picture);

  bool programming() const { return programming_; }
  int percent() const { return wholePercent(sent_, total_); }

  void started();
  // Called for every frame the board takes, some 600 times a second: with nobody listening it only
  // keeps the two counts, and with a listener it works out the percentage and goes no further
  // unless the figure changed.
  void frame(uint32_t sent, uint32_t total) {
    sent_ = sent;
    total_ = total;
    if (!QAccessible::isActive()) return;
    if (const int figure = percent(); figure != figure_) figureChanged(figure);
  }
  void ended();

 private:
  void figureChanged(int figure);
  void announce();

  QLabel& picture_;
  bool programming_ = false;
  uint32_t sent_ = 0;
  uint32_t total_ = 0;
  int figure_ = -1;     // the percentage last worked out for a listener
  int announced_ = -1;  // the percentage last announced
  QElapsedTimer sinceAnnounced_;
  QTimer held_;  // announces a figure the interval held back, once the interval is over
};

// The window for blind and keyboard users: every part has an accessible name (pictures by what
// they show), the action button carries the hint as its description and takes the keyboard focus
// whenever it appears, the variant pop-up comes before it in the focus order, and both draw a
// focus ring that can be seen. The window tells it what changes; it decides nothing else.
class WindowAccessibility final : public QObject {
  Q_OBJECT

 public:
  struct Parts {
    QComboBox& variants;
    QLabel& progressPicture;  // the connect prompt's picture, then the programming gauge
    QLabel& loadingPicture;
    QLabel& resultPicture;
    QLabel& version;
    QLabel& hint;
    QProgressBar& download;
    QPushButton& action;
  };

  explicit WindowAccessibility(Parts parts);

  // A picture was set: the result picture is named after it. (Every progress frame passes here.)
  void pictureShown(const QLabel& view, QStringView name) {
    if (&view == &parts_.resultPicture) resultShown(name);
  }
  // The hint changed. Screen readers hear it as the hint's new name (the label tells them), and
  // again with the action button, whose description it is, when the button takes the focus.
  void hintChanged();
  void programmingStarted() { progress_.started(); }
  void programmingProgress(uint32_t sent, uint32_t total) { progress_.frame(sent, total); }
  void programmingEnded() { progress_.ended(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void resultShown(QStringView name);
  void settleFocusSoon();
  void settleFocus();

  Parts parts_;
  ProgrammingProgress progress_;
  QLabel variantsLabel_;        // names the pop-up; never shown
  QFocusFrame variantsRing_;    // around the pop-up while it has the focus
  bool focusSettling_ = false;  // settleFocus is queued
};

}  // namespace trident
