#include "cli/board_run.h"

#include <algorithm>

namespace trident {

BoardRun::BoardRun(Context context, const HidDeviceRef& device, size_t number)
    : context_(context),
      handle_(device.handle),
      number_(number),
      engine_({*this, *this, *this, context.view.engineLog()}, context.hexFile),
      // A script should not wait for ever on a silent board; unlike the window, the tool also
      // gives up on a board that never answers the sync it was taken with.
      watch_(context.replyTimeout, ReplyWatch::Owed::FromTake) {
  record_.name = boardName(device.info);
  record_.path = device.info.path;
  record_.serial = device.info.serial;
}

bool BoardRun::tick(Clock::time_point now) {
  if (concluded_) return false;
  if (std::exchange(ready_, false)) engine_.OnActionButtonClick();
  if (!outcome() && watch_.silentTooLong(engine_.state(), now)) {
    // Said once, in the window's words: the engine's alert.
    end(FlashOutcome::TimedOut);
    engine_.boardStoppedAnswering();
  }
  if (!outcome()) return false;
  concluded_ = true;
  capture(now);
  context_.view.concluded(number_, record_);
  // Nothing more is sent to it: a failed board is left as it is, an updated one has started its
  // firmware (its final command is already queued, and goes out first).
  context_.link.letGo(handle_);
  return true;
}

bool BoardRun::settle(Clock::time_point now) {
  if (concluded_) return false;
  if (outcome()) return tick(now);
  capture(now);
  return false;
}

void BoardRun::capture(Clock::time_point now) {
  record_.outcome = outcome();
  record_.serverError = serverFailed();
  record_.reportedChecksum = engine_.state().reportedChecksum;
  record_.seconds = std::chrono::duration<double>(now - taken_).count();
}

void BoardRun::writeReport(const Frame& frame) {
  context_.link.writeTo(handle_, frame);
}

void BoardRun::releaseAccepted(std::string_view versionStr) {
  engine_.releaseAccepted(versionStr);
}

void BoardRun::serverError(std::string_view message) {
  engine_.showErrorAlertWithMessage(message);
}

void BoardRun::firmwareFetched(const FetchedFirmware& firmware) {
  record_.firmwareBytes = firmware.bytes;
  record_.firmwareSha256 = firmware.sha256;
  record_.firmwareFrom = firmware.from;
  context_.view.downloaded(number_, record_);
}

void BoardRun::firmwareStored(uint64_t expectedChecksum) {
  record_.expectedChecksum = expectedChecksum;
  engine_.firmwareStored(expectedChecksum);
}

void BoardRun::showFetching() {
  say("Asking the update server for the latest release...");
}

void BoardRun::showReady(std::string_view versionStr) {
  record_.version = std::string(versionStr);
  say("The lastest version: " + record_.version);
  context_.view.released(number_, record_);
  ready_ = true;
}

void BoardRun::showDownloading() {
  say("Downloading the firmware...");
}

void BoardRun::showDownloadProgress(uint64_t received, uint64_t expected) {
  using Count = unsigned long long;
  if (expected == 0) {
    context_.view.progress(number_, -1, strprintf("%llu bytes downloaded", Count{received}));
    return;
  }
  const double share = std::min(1.0, static_cast<double>(received) / static_cast<double>(expected));
  context_.view.progress(
      number_, share,
      strprintf("%3d%%  %llu/%llu bytes downloaded", wholePercent(received, expected),
                Count{received}, Count{expected}));
}

void BoardRun::setUpUpdateHexUI() {
  say("DO NOT Remove the Controller");
  programmingStarted_ = Clock::now();
}

void BoardRun::showProgressPicture(int, uint32_t sent, uint32_t total) {
  record_.sent = sent;
  record_.total = total;
  context_.view.programmed(number_, record_);
  drawProgress();
}

void BoardRun::drawProgress() {
  const double total = std::max<uint32_t>(record_.total, 1);
  const double share = std::clamp(record_.sent / total, 0.0, 1.0);
  const double elapsed = std::chrono::duration<double>(Clock::now() - programmingStarted_).count();
  const double left = share > 0 ? elapsed * (1 - share) / share : 0;
  context_.view.progress(
      number_, share,
      strprintf("%3d%%  %u/%u bytes  %s left", wholePercent(record_.sent, record_.total),
                record_.sent, record_.total, clockText(left).c_str()));
}

void BoardRun::alertA(std::string_view message) {
  context_.view.alert(number_, "trident-flash: " + std::string(message));
}

}  // namespace trident
