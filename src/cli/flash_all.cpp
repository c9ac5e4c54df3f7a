#include "cli/flash_all.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "records/release_text.h"

namespace trident {

namespace {

using Clock = std::chrono::steady_clock;

// Progress redraws of every row at once: often enough to look alive, rare enough to cost nothing
// beside the boards' frames.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr size_t kMaxNameWidth = 24;

std::string resultText(const std::optional<FlashOutcome>& outcome) {
  if (!outcome) return "unfinished";
  switch (*outcome) {
    case FlashOutcome::Updated:
      return "updated";
    case FlashOutcome::ChecksumDiffers:
      return "checksum differs";
    case FlashOutcome::FileError:
      return "server or file error";
    case FlashOutcome::Removed:
      return "removed";
    case FlashOutcome::TimedOut:
      return "timed out";
    case FlashOutcome::Interrupted:
      return "interrupted";
  }
  return "unfinished";
}

}  // namespace

// ---- rows
// -----------------------------------------------------------------------------------------

BoardRows::BoardRows(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

size_t BoardRows::add(const std::string& name) {
  const size_t id = nextId_++;
  Row& row = rows_[id];
  row.name = terminal_ ? terminalSafe(name, false) : name;
  row.text = "taken";
  // A long name is cut in its row rather than leave no room for the board's state.
  if (row.name.size() > kMaxNameWidth) row.name = row.name.substr(0, kMaxNameWidth - 1) + "~";
  nameWidth_ = std::max(nameWidth_, row.name.size());
  redraw();
  return id;
}

void BoardRows::retire(size_t row) {
  const auto it = rows_.find(row);
  if (it == rows_.end()) return;
  const std::string last = rowText(it->second);
  rows_.erase(it);
  if (terminal_) noteSafe(last);
}

std::string BoardRows::rowText(const Row& row) const {
  std::string text = row.name;
  text.resize(nameWidth_ + 2, ' ');
  text += row.text;
  // A row that wraps would throw the redrawing off by a line.
  winsize size{};
  const size_t width =
      ::ioctl(::fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col : 80;
  if (text.size() >= width) text.resize(width - 1);
  return text;
}

void BoardRows::write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

void BoardRows::redraw() {
  if (!terminal_) return;
  std::string screen = drawn_ > 0 ? strprintf("\x1b[%zuA", drawn_) : std::string();
  for (const auto& [id, row] : rows_) {
    screen += "\r\x1b[2K";
    screen += rowText(row);
    screen += '\n';
  }
  drawn_ = rows_.size();
  lastDrawn_ = Clock::now();
  write(screen);
}

void BoardRows::say(size_t row, const std::string& line) {
  const auto it = rows_.find(row);
  if (it == rows_.end()) return;  // retired, or the rows are finished
  Row& r = it->second;
  if (!terminal_) {
    write(r.name + ": " + line + "\n");
    return;
  }
  r.text = terminalSafe(line, false);
  redraw();
}

void BoardRows::alert(size_t row, const std::string& line) {
  // On a terminal the row shows only the latest line: the error is kept above the rows as well.
  const auto it = rows_.find(row);
  if (it == rows_.end()) return;
  if (terminal_) noteSafe(it->second.name + ": " + terminalSafe(line, false));
  say(row, line);
}

void BoardRows::progress(size_t row, double share, const std::string& figures) {
  const auto it = rows_.find(row);
  if (it == rows_.end()) return;  // retired, or the rows are finished
  Row& r = it->second;
  if (!terminal_) {
    const int step = static_cast<int>(share * 10);
    if (step == r.plainStep) return;
    r.plainStep = step;
    write(r.name + ": progress " + figures + "\n");
    return;
  }
  r.text = progressBar(share, figures);
  if (share >= 1 || Clock::now() - lastDrawn_ >= kRedrawInterval) redraw();
}

void BoardRows::note(const std::string& line) {
  if (!terminal_) {
    write(line + "\n");
    return;
  }
  noteSafe(terminalSafe(line, false));
}

void BoardRows::noteSafe(const std::string& line) {
  // Up over the rows, the note in their place, the rows below it again.
  std::string screen = drawn_ > 0 ? strprintf("\x1b[%zuA\r\x1b[J", drawn_) : std::string();
  drawn_ = 0;
  screen += line;
  screen += '\n';
  write(screen);
  redraw();
}

void BoardRows::finish() {
  redraw();
  drawn_ = 0;
  rows_.clear();
}

void RowsLog::systemLog(std::string_view line) {
  rows_.note(joined({systemLogPrefix("trident-flash"), line}));
}

// ---- boards
// ---------------------------------------------------------------------------------------

// One taken board: its row, its window, its engine and its own reply time-out. Its frames go out
// through the link under its own handle, its requests to the server through the runner.
struct FlashAll::Board final : ReportPort, UpdateServerPort, ConsoleOutput {
  Board(FlashAll& all, const HidDeviceRef& device, size_t record)
      : all(all),
        handle(device.handle),
        record(record),
        row(all.rows_.add(all.records_[record].name)),
        window(*this),
        engine({*this, window, *this, all.quiet_}, all.hexFile_),
        watch(all.options_.replyTimeout, ReplyWatch::Owed::FromTake) {
    window.watch(engine);
  }

  void writeReport(const Frame& frame) override { all.link_.writeTo(handle, frame); }
  void fetchVariant(int64_t) override { all.fetchFor(handle); }
  void downloadNewVerHexFile() override { all.downloadFor(handle); }
  void say(const std::string& line) override { all.rows_.say(row, line); }
  void progress(double share, const std::string& figures) override {
    all.rows_.progress(row, share, figures);
  }
  void alert(const std::string& line) override { all.rows_.alert(row, line); }

  FlashAll& all;
  const uint64_t handle;
  const size_t record;
  const size_t row;
  ConsoleWindow window;
  UpdateEngine engine;
  ReplyWatch watch;
  Clock::time_point taken = Clock::now();
  bool concluded = false;
  bool departed = false;
};

FlashAll::FlashAll(const FlashOptions& options, EventLoop& loop, Diagnostics& log, BoardRows& rows,
                   const std::filesystem::path& workDir)
    : options_(options),
      loop_(loop),
      rows_(rows),
      hexFile_(firmwarePathFor(options, workDir)),
      client_({*this, noWindow_, loop, log},
              options.dev.serverUrl.value_or(TRIDENT_UPDATE_SERVER_URL)),
      link_(hidBackendFor(options), loop.whileIdle(), log) {}

FlashAll::~FlashAll() = default;

void FlashAll::boardTaken(const HidDeviceRef& device) {
  Record record;
  record.name = device.info.name.empty() ? device.info.path : device.info.name;
  records_.push_back(record);
  auto board = std::make_unique<Board>(*this, device, records_.size() - 1);
  Board& b = *board;
  boards_[device.handle] = std::move(board);
  lastBusy_ = Clock::now();
  b.engine.SyncOnTake();
}

UpdateEngine* FlashAll::engineOf(uint64_t handle) {
  const auto it = boards_.find(handle);
  return it == boards_.end() ? nullptr : &it->second->engine;
}

void FlashAll::boardReport(uint64_t handle, const uint8_t* report, size_t length) {
  if (UpdateEngine* engine = engineOf(handle)) engine->InputReportCallback(report, length);
}

void FlashAll::boardRemoved(uint64_t handle) {
  if (UpdateEngine* engine = engineOf(handle)) engine->RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
}

void FlashAll::boardDeparted(uint64_t handle) {
  // What the table needs is kept when the board concludes; one that leaves before that (it was
  // unplugged) is forgotten once the next tick has concluded it.
  const auto it = boards_.find(handle);
  if (it == boards_.end()) return;
  it->second->departed = true;
  if (it->second->concluded) forget(it);
}

void FlashAll::forget(std::map<uint64_t, std::unique_ptr<Board>>::iterator board) {
  // A run that goes on for hours keeps a line per board, not its row and engine.
  if (options_.loop) rows_.retire(board->second->row);
  boards_.erase(board);
}

// ---- the server, once for all
// ---------------------------------------------------------------------

void FlashAll::share(uint64_t handle, bool answered, std::vector<uint64_t>& waiting, bool& asking,
                     const std::function<void(UpdateEngine&)>& toEngine,
                     const std::function<void()>& ask) {
  if (answered) {
    // Posted, as the server's own answer would be: the engine is in the middle of asking.
    loop_.post([this, handle, toEngine] {
      if (UpdateEngine* engine = engineOf(handle)) toEngine(*engine);
    });
    return;
  }
  waiting.push_back(handle);
  if (!std::exchange(asking, true)) ask();
}

void FlashAll::fetchFor(uint64_t handle) {
  share(
      handle, version_.has_value(), waitingForRelease_, fetching_,
      [version = version_.value_or("")](UpdateEngine& engine) { engine.releaseAccepted(version); },
      [this] {
        if (!options_.hexFile) return client_.fetchVariant(options_.variant);
        // A local file stands in for the release: its name is the version shown.
        loop_.post([this] { releaseAccepted(localFileVersion(options_)); });
      });
}

void FlashAll::downloadFor(uint64_t handle) {
  share(
      handle, checksum_.has_value(), waitingForFirmware_, downloading_,
      [checksum = checksum_.value_or(0)](UpdateEngine& engine) { engine.firmwareStored(checksum); },
      [this] {
        if (!options_.hexFile) return client_.downloadNewVerHexFile();
        loop_.post([this] { firmwareStored(ftpChecksumInteger(*options_.checksum)); });
      });
}

void FlashAll::answer(std::vector<uint64_t>& waiting,
                      const std::function<void(UpdateEngine&)>& toEach) {
  for (const uint64_t handle : std::exchange(waiting, {})) {
    if (UpdateEngine* engine = engineOf(handle)) toEach(*engine);
  }
}

void FlashAll::releaseAccepted(std::string_view versionStr) {
  fetching_ = false;
  version_ = std::string(versionStr);
  answer(waitingForRelease_, [&](UpdateEngine& engine) { engine.releaseAccepted(versionStr); });
}

void FlashAll::showErrorAlertWithMessage(std::string_view message) {
  // The client answers one thing at a time: the download once it has begun, else the fetch.
  auto& waiting = downloading_ ? waitingForFirmware_ : waitingForRelease_;
  (downloading_ ? downloading_ : fetching_) = false;
  answer(waiting, [&](UpdateEngine& engine) { engine.showErrorAlertWithMessage(message); });
}

void FlashAll::firmwareStored(uint64_t expectedChecksum) {
  downloading_ = false;
  checksum_ = expectedChecksum;
  answer(waitingForFirmware_,
         [&](UpdateEngine& engine) { engine.firmwareStored(expectedChecksum); });
}

// ---- the run
// --------------------------------------------------------------------------------------

void FlashAll::conclude(Board& b, Clock::time_point now) {
  b.concluded = true;
  lastBusy_ = now;
  capture(b, now);
  b.say(b.window.verdict());
  // Nothing more is sent to it: a failed board is left as it is, an updated one has started its
  // firmware (its final command is already queued, and goes out first).
  link_.letGo(b.handle);
}

void FlashAll::capture(Board& b, Clock::time_point now) {
  Record& r = records_[b.record];
  r.outcome = b.window.outcome();
  r.seconds = std::chrono::duration<double>(now - b.taken).count();
  const auto& st = b.engine.state();
  r.total = st.acodeTotal;
  r.sent = st.acodeTotal - st.acodeLength;
}

int FlashAll::run(const std::atomic<bool>& interrupted) {
  link_.RegisterEveryBoard(*this, options_.loop);
  const auto started = Clock::now();
  lastBusy_ = started;
  rows_.note("Waiting for boards: hold each one's button while plugging it in...");
  for (;;) {
    // A release shown ends the wait at once: its click follows without a tick's delay.
    loop_.runUntil(
        [&] {
          return interrupted.load() ||
                 std::any_of(boards_.begin(), boards_.end(),
                             [](const auto& entry) { return entry.second->window.ready(); });
        },
        std::chrono::milliseconds(50));
    if (interrupted) return finish(true);
    const auto now = Clock::now();
    size_t busy = 0;
    for (auto it = boards_.begin(); it != boards_.end();) {
      Board& b = *(it++)->second;
      if (b.concluded) continue;
      if (b.window.takeReady()) b.engine.OnActionButtonClick();
      if (!b.window.outcome() && b.watch.silentTooLong(b.engine.state(), now)) {
        b.window.end(FlashOutcome::TimedOut);
        b.engine.boardStoppedAnswering();
      }
      if (!b.window.outcome()) {
        ++busy;
        continue;
      }
      conclude(b, now);
      if (b.departed) forget(boards_.find(b.handle));
    }
    if (records_.empty()) {
      if (options_.wait && now - started > *options_.wait) {
        rows_.note("trident-flash: no bootloader appeared in time");
        return static_cast<int>(FlashOutcome::TimedOut);
      }
      continue;
    }
    if (busy > 0) continue;
    if (!options_.loop) return finish(false);
    if (options_.wait && now - lastBusy_ > *options_.wait) return finish(false);
  }
}

int FlashAll::finish(bool interrupted) {
  const auto now = Clock::now();
  for (auto& [handle, board] : boards_) {
    // A board whose verdict came since the last look has it said; the others are unfinished.
    if (board->concluded) continue;
    if (board->window.outcome()) {
      conclude(*board, now);
    } else {
      capture(*board, now);
    }
  }
  rows_.finish();
  std::string unfinished;
  int worst = 0;
  for (auto& r : records_) {
    if (!r.outcome) {
      r.outcome = FlashOutcome::Interrupted;
      unfinished += (unfinished.empty() ? "" : ", ") + r.name;
    }
    worst = std::max(worst, static_cast<int>(*r.outcome));
  }
  // The table reads the same on a terminal and in a log.
  if (!records_.empty())
    rows_.note(strprintf("%-*s  %-16s  %8s  %s", 16, "board", "result", "time", "bytes"));
  for (const auto& r : records_) {
    rows_.note(strprintf("%-*s  %-16s  %6.1f s  %u/%u", 16, r.name.c_str(),
                         resultText(r.outcome).c_str(), r.seconds, r.sent, r.total));
  }
  if (interrupted) {
    rows_.note("trident-flash: interrupted" +
               (unfinished.empty() ? std::string() : "; unfinished: " + unfinished));
    return 130;
  }
  return worst;
}

}  // namespace trident
