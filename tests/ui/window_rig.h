#pragma once

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine_rig.h"
#include "ui/ViewController.h"

class QLabel;

namespace trident::testing {

// Turns the event loop until `done` holds; false if the deadline passed first.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds deadline = std::chrono::seconds(5));

// The application picture `label` shows: its name, "none", or "?" for a picture the application
// does not carry.
std::string pictureName(const QLabel& label);

// The window as the state table reads it: one line per outlet in declaration order; a shown view
// also says what it shows.
std::string describe(const ViewController& window);

// The view changes the window makes, in the order its outlets receive them. Show, hide, enable and
// disable arrive as events; text and picture changes do not, so they are noted at the next event
// (or at take()) in a fixed order: picture, title, version, hint.
class ViewChangeLog final : public QObject {
 public:
  explicit ViewChangeLog(ViewController& window);
  std::vector<std::string> take();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void noteQuietChanges();

  ViewController& window_;
  qint64 devicePixmap_ = 0;
  qint64 resultPixmap_ = 0;
  std::string title_, version_, hint_;
  std::vector<std::string> entries_;
};

// The real window in front of the engine and the in-process virtual board. Alerts are recorded
// with the view behind them instead of being shown; the hooks are wired the way the application
// wires them.
class WindowRig {
 public:
  struct Alert {
    std::string message;
    std::string viewBehind;
  };

  explicit WindowRig(BoardFaults faults = {});

  // The road of one update, one step at a time.
  void startUp();  // waits for the connect prompt
  void takeBoard();
  void acceptRelease(std::string_view version = "V2.13");
  void clickActionButton();
  // Stores a firmware image of `size` bytes, written by objcopy, and runs the exchange as far as
  // the board lets it.
  void storeFirmware(size_t size);

  TempDir dir;
  ViewController window;
  SimRig sim;
  std::vector<Alert> alerts;
  std::vector<int64_t> variantsPicked;
  std::vector<std::string> hintAtRegisterHID;
};

}  // namespace trident::testing
