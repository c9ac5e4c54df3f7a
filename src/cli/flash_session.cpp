#include "cli/flash_session.h"

#include <algorithm>

#include "engine/reply_watch.h"
#include "records/release_text.h"

namespace trident {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

std::unique_ptr<HidBackend> hidBackendFor(const FlashOptions& options) {
  return options.dev.virtualHidDir ? makeVirtualBackend(*options.dev.virtualHidDir)
                                   : makeHidapiBackend();
}

std::filesystem::path firmwarePathFor(const FlashOptions& options,
                                      const std::filesystem::path& workDir) {
  return options.hexFile ? std::filesystem::path(*options.hexFile) : workDir / "tmp.hex";
}

std::string localFileVersion(const FlashOptions& options) {
  return std::filesystem::path(options.hexFile.value_or("")).filename().string();
}

std::string clockText(double seconds) {
  const auto s = static_cast<long>(std::max(seconds, 0.0) + 0.5);
  return strprintf("%ld:%02ld", s / 60, s % 60);
}

// ---- console window
// -------------------------------------------------------------------------------

void StreamOutput::say(const std::string& line) {
  if (barDrawn_) std::fputc('\n', out_);
  barDrawn_ = false;
  // Versions and reasons are server text.
  const std::string shown = terminal_ ? terminalSafe(line, false) : line;
  std::fprintf(out_, "%s\n", shown.c_str());
  std::fflush(out_);
}

void StreamOutput::progress(double share, const std::string& figures) {
  if (terminal_) {
    std::fprintf(out_, "\r%s", progressBar(share, figures).c_str());
    barDrawn_ = true;
    std::fflush(out_);
    return;
  }
  const int step = static_cast<int>(share * 10);
  if (step == lastPlainStep_) return;
  lastPlainStep_ = step;
  std::fprintf(out_, "progress %s\n", figures.c_str());
  std::fflush(out_);
}

std::string progressBar(double share, const std::string& figures) {
  constexpr int kWidth = 30;
  const int filled = std::clamp(static_cast<int>(share * kWidth), 0, kWidth);
  // Appended in place: GCC 12 at -O3 warns wrongly of overlap in chains of temporary strings.
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  bar += "] ";
  bar += figures;
  return bar;
}

void ConsoleWindow::showFetching() {
  say("Asking the update server for the latest release...");
}

void ConsoleWindow::showReady(std::string_view versionStr) {
  version_ = std::string(versionStr);
  say("The lastest version: " + version_);
  ready_ = true;
}

void ConsoleWindow::showDownloading() {
  say("Downloading the firmware...");
}

void ConsoleWindow::setUpUpdateHexUI() {
  say("DO NOT Remove the Controller");
  programmingStarted_ = Clock::now();
}

void ConsoleWindow::showProgressPicture(int) {
  drawProgress();
}

void ConsoleWindow::drawProgress() {
  if (!engine_) return;
  const auto& st = engine_->state();
  const double total = std::max<uint32_t>(st.acodeTotal, 1);
  const double sent = st.acodeTotal - st.acodeLength;
  const double share = std::clamp(sent / total, 0.0, 1.0);
  const double elapsed = std::chrono::duration<double>(Clock::now() - programmingStarted_).count();
  const double left = share > 0 ? elapsed * (1 - share) / share : 0;
  const int percent = static_cast<int>(share * 100);
  out_.progress(share, strprintf("%3d%%  %.0f/%u bytes  %s left", percent, sent, st.acodeTotal,
                                 clockText(left).c_str()));
}

void ConsoleWindow::showUpdateResult(bool success) {
  drawProgress();
  end(success ? FlashOutcome::Updated : FlashOutcome::ChecksumDiffers);
}

void ConsoleWindow::showDeviceRemoved() {
  end(FlashOutcome::Removed);
}

void ConsoleWindow::alertA(std::string_view message) {
  alert_ = std::string(message);
  out_.alert("trident-flash: " + alert_);
}

void ConsoleWindow::end(FlashOutcome outcome) {
  if (!outcome_) outcome_ = outcome;
}

std::string ConsoleWindow::verdict() const {
  return outcome_ == FlashOutcome::Updated ? "Firmware successfully updated."
                                           : "The Setup didn't finish and will restart.";
}

// ---- session
// --------------------------------------------------------------------------------------

FlashSession::FlashSession(const FlashOptions& options, EventLoop& loop, Diagnostics& diag,
                           const std::filesystem::path& workDir, ConsoleWindow& window)
    : options_(options),
      loop_(loop),
      window_(window),
      link_(hidBackendFor(options), loop.whileIdle(), diag),
      client_({engine_, window_, loop, diag},
              options.dev.serverUrl.value_or(TRIDENT_UPDATE_SERVER_URL)),
      engine_({link_, window_, *this, diag}, firmwarePathFor(options, workDir)) {
  window_.watch(engine_);
}

void FlashSession::fetchVariant(int64_t) {
  if (!options_.hexFile) {
    client_.fetchVariant(options_.variant);
    return;
  }
  // A local file stands in for the release: its name is the version shown.
  loop_.post([this] { engine_.releaseAccepted(localFileVersion(options_)); });
}

void FlashSession::downloadNewVerHexFile() {
  if (!options_.hexFile) {
    client_.downloadNewVerHexFile();
    return;
  }
  loop_.post([this] { engine_.firmwareStored(ftpChecksumInteger(*options_.checksum)); });
}

FlashOutcome FlashSession::run(const std::atomic<bool>& interrupted) {
  link_.RegisterHID(engine_);
  const auto started = Clock::now();
  // A script should not wait for ever on a silent board; unlike the window, the tool also gives up
  // on a board that never answers the sync it was taken with.
  ReplyWatch replyWatch(options_.replyTimeout, ReplyWatch::Owed::FromTake);
  size_t waitingSaid = 0;

  for (;;) {
    // The release shown ends the wait at once: the click follows without a tick's delay.
    loop_.runUntil(
        [&] { return interrupted.load() || window_.outcome().has_value() || window_.ready(); },
        std::chrono::milliseconds(50));
    // A verdict that came just before the interruption is still the board's.
    if (window_.outcome()) return *window_.outcome();
    if (interrupted) return FlashOutcome::Interrupted;
    if (window_.takeReady()) engine_.OnActionButtonClick();

    const auto now = Clock::now();
    if (!link_.deviceAttached()) {
      if (waitingSaid++ == 0) {
        window_.say("Waiting for the board: hold its button while plugging it in...");
      }
      if (options_.wait && now - started > *options_.wait) {
        window_.say("trident-flash: no bootloader appeared in time");
        return FlashOutcome::TimedOut;
      }
      continue;
    }
    if (replyWatch.silentTooLong(engine_.state(), now)) {
      window_.say(strprintf("trident-flash: the board stopped answering (no reply to frame %u)",
                            engine_.state().sentPackNo));
      return FlashOutcome::TimedOut;
    }
  }
}

FlashSession::Removal FlashSession::waitForRemoval(const std::atomic<bool>& interrupted) {
  bool asked = false;
  const auto started = Clock::now();
  for (;;) {
    // Gone from the enumeration, not only disconnected: a finished board's node or socket can
    // linger a moment after its connection ends, and the next session must not take it again.
    const auto gone = [&] { return !link_.deviceAttached() || link_.boardDeparted(); };
    loop_.runUntil([&] { return interrupted.load() || gone(); }, std::chrono::milliseconds(200));
    if (interrupted) return Removal::Interrupted;
    if (gone()) return Removal::Gone;
    if (options_.wait && Clock::now() - started > *options_.wait) return Removal::TimedOut;
    if (!asked) window_.say("Unplug the board to go on with the next one.");
    asked = true;
  }
}

}  // namespace trident
