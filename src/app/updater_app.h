#pragma once

#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "common/dev_options.h"
#include "common/diagnostics.h"
#include "common/executor.h"
#include "common/lending_gate.h"
#include "common/thread_annotations.h"
#include "engine/one_board_sink.h"
#include "engine/reply_watch.h"
#include "engine/update_engine.h"
#include "hid/hid_link.h"
#include "qt_executor.h"
#include "ui/ViewController.h"
#include "update/update_server_client.h"
#include "window_history.h"
#include "window_relay.h"

namespace trident {

// The application's parts, wired the one way the product runs them: the window in front of the
// engine, the HID link and the update-server client behind it. They belong to the GUI thread,
// which lends the engine, the link and the board to the HID thread for the board's reports while
// it does not use them itself (LendingGate): each frame is then answered without two thread
// wake-ups, as trident-flash answers it. Whatever else touches them holds the gate.
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

    // The board's transport, the server and the trusted release key, as the developer options
    // ask for them; the reason when the release key cannot be read.
    std::optional<std::string> take(const DevOptions& dev);
  };

  UpdaterApp(Config config, Diagnostics& diag);
  ~UpdaterApp();

  ViewController& window() { return window_; }
  // Where the update stands (iStatus), whether a board is taken, and the firmware file's path.
  uint32_t status();
  bool boardTaken();
  const std::filesystem::path& hexFile() const { return hexFile_; }
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
  // The board's attachments, removals and reports wait while an alert is open, so that what the
  // alert explains stays on screen behind it.
  HoldingExecutor hidEvents_;
  LendingGate gate_;  // before the link, whose thread posts to it until the link has gone
  LendingGate::UnderHold guiWork_;  // the GUI thread's own work on what the gate lends
  WindowRelay relayedWindow_;
  UpdateHistory history_ GUARDED_BY(gate_);
  // What the engine shows goes through it to the window; each update leaves its line on the way.
  HistoryWindow recordedWindow_ GUARDED_BY(gate_);
  HidLink link_ GUARDED_BY(gate_);
  OneBoardSink board_ GUARDED_BY(gate_);
  // The client and the engine call each other; the client only uses the engine once called.
  UpdateServerClient client_ GUARDED_BY(gate_);
  UpdateEngine engine_ GUARDED_BY(gate_);
  ReplyWatch replyWatch_ GUARDED_BY(gate_);
  QTimer replyTick_;
};

}  // namespace trident
