#pragma once

#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "common/diagnostics.h"
#include "common/executor.h"
#include "engine/one_board_sink.h"
#include "engine/reply_watch.h"
#include "engine/update_engine.h"
#include "hid/hid_link.h"
#include "qt_executor.h"
#include "ui/ViewController.h"
#include "update/update_server_client.h"
#include "window_history.h"

namespace trident {

// The application's parts, wired the one way the product runs them: the window in front of the
// engine, the HID link and the update-server client behind it, all on the GUI thread.
class UpdaterApp {
 public:
  struct Config {
    std::unique_ptr<HidBackend> hid;                    // hidapi, or the virtual transport
    std::string serverUrl = TRIDENT_UPDATE_SERVER_URL;  // the update server's base URL
    // Where the firmware is kept; empty: tmp.hex in a private folder of this run, gone at exit.
    std::filesystem::path hexFile = {};
    TransferTimeouts timeouts = {};
    std::optional<ReleaseKey> releaseKey = builtInReleaseKey();  // none: unsigned releases
    std::chrono::milliseconds replyTimeout = kReplyTimeout;
    // The update history's file (UpdateHistory::defaultFile() for the user's); none: not kept.
    std::optional<std::filesystem::path> historyFile = {};
  };

  UpdaterApp(Config config, Diagnostics& diag);
  ~UpdaterApp() { recordedWindow_.closing(); }

  ViewController& window() { return window_; }
  UpdateEngine& engine() { return engine_; }
  UpdateServerClient& client() { return client_; }
  const OneBoardSink& board() const { return board_; }
  // The board's events that wait for an alert to be dismissed.
  size_t heldHidEvents() const { return hidEvents_.waiting(); }

 private:
  // A new folder for one run's files, mode 0700, under the user's cache folder
  // ($XDG_CACHE_HOME/trident-updater on Linux); it goes with the returned object.
  static std::unique_ptr<QTemporaryDir> makeRunFolder();
  static std::filesystem::path runFolderFile(const QTemporaryDir& folder);

  std::unique_ptr<QTemporaryDir> runFolder_;  // first: the firmware file's path depends on it
  std::filesystem::path hexFile_;
  QtExecutor executor_;
  ViewController window_;
  UpdateHistory history_;
  // What the engine shows goes through it to the window; each update leaves its line on the way.
  HistoryWindow recordedWindow_;
  // The board's attachments, removals and reports wait while an alert is open, so that what the
  // alert explains stays on screen behind it.
  HoldingExecutor hidEvents_;
  HidLink link_;
  OneBoardSink board_;
  // The client and the engine call each other; the client only uses the engine once called.
  UpdateServerClient client_;
  UpdateEngine engine_;
  ReplyWatch replyWatch_;
  QTimer replyTick_;
};

}  // namespace trident
