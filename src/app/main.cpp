// trident-updater: the window application.
#include <QApplication>
#include <QIcon>
#include <QLocale>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/update_history.h"
#include "common/dev_options.h"
#include "common/diagnostics.h"
#include "quit_on_signals.h"
#include "ui/window_language.h"
#include "update/curl_transfer.h"
#include "updater_app.h"

namespace {

using namespace trident;

constexpr const char* kUsage =
    "usage: trident-updater [options]\n"
    "\n"
    "Updates the firmware of a Trident fighting board: hold the board's button, plug it in,\n"
    "click Update.\n"
    "\n"
    "  --no-history  add no line to the update history (the README says where it is)\n"
    "\n"
    "Developer options:\n";

}  // namespace

int main(int argc, char** argv) {
  keepStandardStreams();
  // Asked before any window exists: a machine without a display still answers.
  for (const std::string_view arg : std::vector<std::string_view>(argv + 1, argv + argc)) {
    if (arg == "--help" || arg == "-h") {
      std::printf("%s%s", kUsage, kDevOptionsHelp.data());
      return 0;
    }
    if (arg == "--version") {
      std::printf("trident-updater %s\n", TRIDENT_VERSION);
      return 0;
    }
  }
  QApplication app(argc, argv);  // takes Qt's own options out of the command line
  QApplication::setApplicationName("trident-updater");
  // The window speaks the user's language when it has it; the log and the trace stay in English.
  const WindowLanguage language(QLocale::system().uiLanguages());
  // The title bar adds the display name to a window title that differs from it.
  QApplication::setApplicationDisplayName(
      QCoreApplication::translate("ViewController", "Trident Updater"));
  QApplication::setApplicationVersion(TRIDENT_VERSION);
  QApplication::setDesktopFileName("org.tridentupdater.TridentUpdater");

  std::vector<std::string> args;
  for (const QString& arg : QApplication::arguments().mid(1))
    args.push_back(arg.toStdString());
  // Each update is kept in the user's history, unless asked not to.
  const bool history = std::erase(args, "--no-history") == 0;
  DevOptions dev;
  if (auto error = takeDevOptions(args, dev)) {
    std::fprintf(stderr, "trident-updater: %s\n", printSafe(*error, false).c_str());
    return 64;
  }
  for (const auto& arg : args) {
    std::fprintf(stderr, "trident-updater: unknown option %s\n%s%s", printSafe(arg, false).c_str(),
                 kUsage, kDevOptionsHelp.data());
    return 64;
  }

  // libcurl is set up for the whole run. (hidapi is started and ended by its backend.)
  CurlLibrary curl;
  // Written behind the frame path: the board's frames are answered on the HID thread.
  ConsoleDiagnostics diag("trident-updater", stderr, stdout, ConsoleDiagnostics::Writing::behind);
  UpdaterApp::Config config;
  if (const auto error = config.take(dev)) {
    std::fprintf(stderr, "trident-updater: %s\n", printSafe(*error, false).c_str());
    return 64;
  }
  if (history) config.historyFile = UpdateHistory::defaultFile();
  quitOnTerminationSignals();
  UpdaterApp updater(std::move(config), diag);
  updater.window().show();
  // Keyboard users start typing at once. On a desktop the window manager has the last word; on a
  // display without one (a kiosk) nobody else would give the window the keyboard.
  updater.window().activateWindow();
  return QApplication::exec();
}
