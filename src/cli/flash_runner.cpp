#include "cli/flash_runner.h"

#include <algorithm>
#include <limits>

#include "engine/one_board_sink.h"
#include "records/release_text.h"

namespace trident {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

std::unique_ptr<HidBackend> hidBackendFor(const FlashOptions& options) {
  return options.dev.virtualHidDir ? makeVirtualBackend(*options.dev.virtualHidDir)
                                   : makeHidapiBackend();
}

FlashRunner::FlashRunner(const FlashOptions& options, EventLoop& loop, RunView& view,
                         const std::filesystem::path& firmwareFile, UpdateHistory& history)
    : options_(options),
      loop_(loop),
      view_(view),
      history_(history),
      hexFile_(firmwareFile),
      source_(
          loop, [this](size_t number) { return byNumber(number); }, hexFile_, options.variant),
      link_(hidBackendFor(options), loop.whileIdle(), view.log()) {
  if (options.hexFile) {
    // A local file stands in for the release: its name, not its copy's, is the version shown.
    source_.setUpstream(std::make_unique<LocalFirmware>(
        source_, loop, *options.hexFile, ftpChecksumInteger(options.checksum.value_or(""))));
  } else {
    source_.setUpstream(std::make_unique<UpdateServerClient>(
        UpdateServerClient::Ports{source_, source_.notices(), loop, view.log()},
        options.dev.serverUrl.value_or(TRIDENT_UPDATE_SERVER_URL), TransferTimeouts{},
        options.releaseKey));
  }
}

FlashRunner::~FlashRunner() = default;

size_t FlashRunner::boardLimit() const {
  // One board at a time, unless every board is wanted.
  return options_.all ? std::numeric_limits<size_t>::max() : 1;
}

BoardRun* FlashRunner::find(uint64_t handle) {
  const auto it = boards_.find(handle);
  return it == boards_.end() ? nullptr : it->second.get();
}

FirmwareWaiter* FlashRunner::byNumber(size_t number) {
  for (auto& [handle, board] : boards_) {
    if (board->number() == number) return board.get();
  }
  return nullptr;
}

void FlashRunner::deviceAttached(const HidDeviceRef& device) {
  if (!isBootloader(device.info) || !watchingAttachments()) return;
  // Not even opened: another program may be updating it, or it waits for the next run.
  if (!options_.chooses(device.info)) {
    view_.log().systemLog(strprintf("trident-flash: %s is not among the boards chosen; left alone",
                                    boardName(device.info).c_str()));
    return;
  }
  offered_.push_back(device.handle);
  link_.take(device.handle);
}

void FlashRunner::offerWaiting() {
  // The link drops what waited to be opened once it held as many boards as it may: a bootloader
  // that waited beside one just finished is asked for again.
  for (const uint64_t handle : offered_)
    link_.take(handle);
}

void FlashRunner::boardTaken(const HidDeviceRef& device) {
  std::erase(offered_, device.handle);
  const size_t number = records_.size();
  records_.emplace_back();
  auto board = std::make_unique<BoardRun>(
      BoardRun::Context{link_, source_, view_, hexFile_, options_.replyTimeout}, device, number);
  BoardRun& b = *board;
  records_.back() = b.record();
  boards_[device.handle] = std::move(board);
  view_.taken(number, b.record());
  saidWaiting_ = false;
  lastBusy_ = Clock::now();
  b.engine().SyncOnTake();
}

void FlashRunner::boardReport(uint64_t handle, const uint8_t* report, size_t length) {
  if (BoardRun* board = find(handle)) board->engine().InputReportCallback(report, length);
}

void FlashRunner::deviceRemoved(const HidDeviceRef& device, bool wasTaken) {
  std::erase(offered_, device.handle);
  if (BoardRun* board = find(device.handle); board && wasTaken) {
    board->engine().RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
  }
}

void FlashRunner::deviceDeparted(uint64_t handle) {
  // What the table needs is kept when the board concludes; one that leaves before that (it was
  // unplugged) is forgotten once the next tick has concluded it.
  const auto it = boards_.find(handle);
  if (it == boards_.end()) return;
  departed_.insert(handle);
  if (it->second->concluded()) forget(it);
}

void FlashRunner::forget(Boards::iterator board) {
  departed_.erase(board->first);
  if (options_.loop) view_.forgotten(board->second->number());
  boards_.erase(board);
}

int FlashRunner::run(const std::atomic<bool>& interrupted) {
  link_.RegisterHID(*this);
  const auto started = Clock::now();
  lastBusy_ = started;
  view_.started();
  for (;;) {
    // A release shown or a verdict ends the wait at once: the click follows without a tick's delay.
    loop_.runUntil(
        [&] {
          return interrupted.load() ||
                 std::any_of(boards_.begin(), boards_.end(),
                             [](const auto& entry) { return entry.second->wantsTick(); });
        },
        std::chrono::milliseconds(50));
    if (interrupted) return finish(true);
    const auto now = Clock::now();
    size_t busy = 0;
    bool concluded = false;
    for (auto it = boards_.begin(); it != boards_.end();) {
      BoardRun& b = *(it++)->second;
      if (b.tick(now)) {
        concluded = true;
        records_[b.number()] = b.record();
        history_.add(b.record(), options_.variantName());
        if (departed_.count(b.handle())) forget(boards_.find(b.handle()));
        continue;
      }
      if (b.busy()) ++busy;
    }
    if (busy > 0 || concluded) lastBusy_ = now;
    // A run that takes no more boards leaves a waiting one alone: opened and let go, it would be
    // lost to the next run.
    if (concluded && busy == 0 && watchingAttachments()) offerWaiting();
    if (busy > 0) continue;
    if (records_.empty() || options_.loop) {
      if (!saidWaiting_) view_.waiting();
      saidWaiting_ = true;
    }
    if (records_.empty()) {
      if (options_.wait && now - started > *options_.wait) {
        view_.failed("trident-flash: no bootloader appeared in time");
        view_.finished(records_, false, static_cast<int>(FlashOutcome::TimedOut));
        return static_cast<int>(FlashOutcome::TimedOut);
      }
      continue;
    }
    if (!options_.loop) return finish(false);
    if (options_.wait && now - lastBusy_ > *options_.wait) {
      view_.note("trident-flash: no further board appeared in time");
      return finish(false);
    }
  }
}

int FlashRunner::finish(bool interrupted) {
  const auto now = Clock::now();
  bool unfinished = false;
  for (auto& [handle, board] : boards_) {
    // A board whose verdict came since the last look has it said; the others are unfinished.
    const bool concluded = board->settle(now);
    records_[board->number()] = board->record();
    if (!board->record().outcome) unfinished = true;
    if (concluded || !board->record().outcome)
      history_.add(board->record(), options_.variantName());
  }
  // An interrupted run that was still waiting for a board, or for a board's verdict, ends as
  // interrupted; a verdict that came just before is kept.
  int status = 0;
  if (interrupted && (unfinished || options_.loop || records_.empty())) {
    status = static_cast<int>(FlashOutcome::Interrupted);
  } else {
    for (const auto& r : records_)
      status = std::max(status, static_cast<int>(r.outcome.value_or(FlashOutcome::Interrupted)));
  }
  view_.finished(records_, interrupted, status);
  return status;
}

}  // namespace trident
