// trident-window-update: one whole update through the window, as a user makes it, for the
// latency benchmark (bench/usb-latency): the application's own wiring, the window offscreen, a
// click on "Update" as soon as it is offered. The board, the server and the release key are the
// developer options every program takes. Exit status 0 when the board reported the expected
// checksum, 1 for any other end, 2 when nothing ended within a minute.
//
//   trident-window-update [--virtual-hid DIR] --server URL [--release-key KEY]
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/dev_options.h"
#include "common/diagnostics.h"
#include "update/curl_transfer.h"
#include "updater_app.h"

int main(int argc, char** argv) {
  using namespace trident;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  DevOptions dev;
  if (auto error = takeDevOptions(args, dev); error || !args.empty() || !dev.serverUrl) {
    std::fprintf(stderr, "usage: trident-window-update [--virtual-hid DIR] --server URL\n");
    return 64;
  }
  CurlLibrary curl;
  // Written behind the frame path: the board's frames are answered on the HID thread.
  ConsoleDiagnostics diag("trident-updater", stderr, stdout, ConsoleDiagnostics::Writing::behind);
  UpdaterApp::Config config;
  if (const auto error = config.take(dev)) {
    std::fprintf(stderr, "trident-window-update: %s\n", error->c_str());
    return 64;
  }
  UpdaterApp updater(std::move(config), diag);
  updater.window().show();

  int status = 2;
  bool clicked = false;
  QTimer user;  // looks as often as a person's eye would never notice, and clicks at once
  QObject::connect(&user, &QTimer::timeout, [&] {
    QPushButton& button = *updater.window().ActionButton();
    if (!clicked && button.isVisible() && button.isEnabled() && button.text() == "Update") {
      clicked = true;
      button.click();
    } else if (clicked && isFinalStatus(updater.status())) {
      status = updater.status() == STATUS_DONE &&
                       updater.window().HintMessage1()->text() == "Firmware successfully updated."
                   ? 0
                   : 1;
      QApplication::quit();
    }
  });
  user.start(5);
  QTimer::singleShot(std::chrono::minutes(1), [] { QApplication::quit(); });
  QApplication::exec();
  return status;
}
