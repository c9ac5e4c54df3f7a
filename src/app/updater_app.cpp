#include "updater_app.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>

#include "hid/hid_backend.h"
#include "update/release_signature.h"

namespace trident {

namespace {

std::filesystem::path toPath(const QString& path) {
  return std::filesystem::path(path.toStdU16String());
}

QString cacheFolder() {
  QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
  // A relative XDG_CACHE_HOME is not valid and is ignored, as the base-directory rules say; taken
  // as it stands it would put the run folder in the current folder after all.
  if (QDir::isRelativePath(base)) base = QDir::homePath() + QStringLiteral("/.cache");
  return base + QStringLiteral("/trident-updater");
}

}  // namespace

std::unique_ptr<QTemporaryDir> UpdaterApp::makeRunFolder() {
  // Never the current folder: it may be the user's home, hold a tmp.hex of the user's own, or not
  // be writable at all; and two windows must not share one file.
  QDir().mkpath(cacheFolder());
  return std::make_unique<QTemporaryDir>(cacheFolder() + QStringLiteral("/run-XXXXXX"));
}

std::filesystem::path UpdaterApp::runFolderFile(const QTemporaryDir& folder) {
  // Without a folder of its own the download's write fails and says where, rather than fall back
  // on a place shared with anything else.
  return toPath(folder.isValid() ? folder.path() : cacheFolder() + QStringLiteral("/run")) /
         "tmp.hex";
}

std::optional<std::string> UpdaterApp::Config::take(const DevOptions& dev) {
  hid = dev.virtualHidDir ? makeVirtualBackend(*dev.virtualHidDir) : makeHidapiBackend();
  if (dev.serverUrl) serverUrl = *dev.serverUrl;
  TrustedKey trusted = trustedReleaseKey(dev.releaseKey);
  if (trusted.error) return trusted.error;
  releaseKey = trusted.key;
  return std::nullopt;
}

UpdaterApp::UpdaterApp(Config config, Diagnostics& diag)
    : runFolder_(config.hexFile.empty() ? makeRunFolder() : nullptr),
      hexFile_(runFolder_ ? runFolderFile(*runFolder_) : config.hexFile),
      window_(hexFile_),
      hidEvents_(executor_, [this] { return window_.alertOpen(); }),
      gate_(hidEvents_),
      guiWork_(gate_, executor_),
      relayedWindow_(window_, gate_, executor_),
      history_(std::move(config.historyFile), "trident-updater",
               [&diag](const std::string& line) { diag.systemLog(line); }),
      recordedWindow_(relayedWindow_, history_, engine_, board_),
      link_(std::move(config.hid), gate_, diag),
      board_(link_, engine_),
      client_({engine_, relayedWindow_, guiWork_, diag}, config.serverUrl, config.timeouts,
              config.releaseKey),
      engine_({board_, recordedWindow_, client_, diag}, hexFile_),
      replyWatch_(config.replyTimeout) {
  if (runFolder_ && !runFolder_->isValid()) {
    diag.systemLog("Cannot make a folder for the firmware file: " +
                   runFolder_->errorString().toStdString());
  }
  window_.setHooks({[this] {
                      LendingGate::Hold hold(gate_);
                      link_.RegisterHID(board_);
                    },
                    [this] {
                      LendingGate::Hold hold(gate_);
                      engine_.OnActionButtonClick();
                    },
                    [this](int64_t index) {
                      LendingGate::Hold hold(gate_);
                      recordedWindow_.variantChosen(index);
                      client_.popUpBtnValueChanged(index);
                    },
                    [this] { hidEvents_.release(); }});
  window_.setClickGuard(ViewController::kRoleChangeGuard);

  // Ticks often enough that a short time-out is kept to within a fifth of itself.
  replyTick_.setInterval(std::clamp(config.replyTimeout / 5, std::chrono::milliseconds(10),
                                    std::chrono::milliseconds(250)));
  QObject::connect(&replyTick_, &QTimer::timeout, &replyTick_, [this] {
    relayedWindow_.catchUp();
    LendingGate::Hold hold(gate_);
    if (replyWatch_.silentTooLong(engine_.state(), ReplyWatch::Clock::now())) {
      recordedWindow_.timedOut();
      engine_.boardStoppedAnswering();
    }
  });
  replyTick_.start();
}

UpdaterApp::~UpdaterApp() {
  // Nothing runs in the GUI thread's place from here on: the engine goes before the link's thread.
  gate_.close();
  LendingGate::Hold hold(gate_);
  recordedWindow_.closing();
}

uint32_t UpdaterApp::status() {
  LendingGate::Hold hold(gate_);
  return engine_.state().iStatus;
}

bool UpdaterApp::boardTaken() {
  LendingGate::Hold hold(gate_);
  return board_.hidDevice().has_value();
}

}  // namespace trident
