#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/flash_options.h"
#include "cli/flash_session.h"
#include "common/event_loop.h"
#include "engine/reply_watch.h"
#include "engine/update_engine.h"
#include "hid/hid_link.h"
#include "update/update_server_client.h"

namespace trident {

// Several boards on one stream. On a terminal each board keeps one row at the bottom, redrawn in
// place, with notes scrolling above; otherwise every line is written as it comes, prefixed with
// the board's name.
class BoardRows {
 public:
  BoardRows(std::FILE* out, bool terminal);
  size_t add(const std::string& name);
  void say(size_t row, const std::string& line);
  // A line that must not be lost when the row changes again (an error).
  void alert(size_t row, const std::string& line);
  void progress(size_t row, double share, const std::string& figures);
  // A line about no board in particular, or one to keep (an error), above the rows.
  void note(const std::string& line);
  // The board's row becomes a note: it is done, and others take its place.
  void retire(size_t row);
  // The rows stay as they are; what follows goes below them.
  void finish();

 private:
  struct Row {
    std::string name;
    std::string text;
    int plainStep = -1;
  };
  void write(const std::string& text);
  void noteSafe(const std::string& line);
  void redraw();
  std::string rowText(const Row& row) const;

  std::FILE* out_;
  bool terminal_;
  size_t nameWidth_ = 5;
  std::map<size_t, Row> rows_;  // in the order the boards were taken
  size_t nextId_ = 0;
  size_t drawn_ = 0;  // rows on screen below the notes
  std::chrono::steady_clock::time_point lastDrawn_{};
};

// The log, as notes above the boards' rows; the protocol trace of several boards at once would
// only bury them.
class RowsLog final : public Diagnostics {
 public:
  explicit RowsLog(BoardRows& rows) : rows_(rows) {}
  void systemLog(std::string_view line) override;
  void standardOutput(std::string_view) override {}

 private:
  BoardRows& rows_;
};

// trident-flash --all: every bootloader taken at once, each with its own engine, packet numbers,
// reply time-out and verdict; the release is fetched and the firmware downloaded once for all.
class FlashAll final : public BoardSink, public ServerAnswerPort {
 public:
  FlashAll(const FlashOptions& options, EventLoop& loop, Diagnostics& log, BoardRows& rows,
           const std::filesystem::path& workDir);
  ~FlashAll() override;

  // Runs until every board taken has its verdict (with --loop, until interrupted or, with
  // --wait, until no board has come or been busy for that long); returns the exit status.
  int run(const std::atomic<bool>& interrupted);

  // BoardSink
  void boardTaken(const HidDeviceRef& board) override;
  void boardReport(uint64_t handle, const uint8_t* report, size_t length) override;
  void boardRemoved(uint64_t handle) override;
  void boardDeparted(uint64_t handle) override;

  // ServerAnswerPort: the one client's answers, handed on to every board that waits for them.
  const std::filesystem::path& hexFile() const override { return hexFile_; }
  void releaseAccepted(std::string_view versionStr) override;
  void showErrorAlertWithMessage(std::string_view message) override;
  void firmwareStored(uint64_t expectedChecksum) override;

 private:
  struct Board;
  // What the table at the end shows of a board, kept after the board itself has gone.
  struct Record {
    std::string name;
    std::optional<FlashOutcome> outcome;
    double seconds = 0;
    uint32_t sent = 0;
    uint32_t total = 0;
  };
  UpdateEngine* engineOf(uint64_t handle);  // null once the board is forgotten
  // Hands a board the server's answer: at once when it is known, else once `ask` (started by the
  // first board that waits) has brought it.
  void share(uint64_t handle, bool answered, std::vector<uint64_t>& waiting, bool& asking,
             const std::function<void(UpdateEngine&)>& toEngine, const std::function<void()>& ask);
  void fetchFor(uint64_t handle);
  void downloadFor(uint64_t handle);
  void answer(std::vector<uint64_t>& waiting, const std::function<void(UpdateEngine&)>& toEach);
  void conclude(Board& board, std::chrono::steady_clock::time_point now);
  void capture(Board& board, std::chrono::steady_clock::time_point now);
  void forget(std::map<uint64_t, std::unique_ptr<Board>>::iterator board);
  int finish(bool interrupted);

  const FlashOptions& options_;
  EventLoop& loop_;
  BoardRows& rows_;
  std::filesystem::path hexFile_;
  NullWindowPort noWindow_;
  NullDiagnostics quiet_;
  // The server's answers, once given; an error is handed on and forgotten, so a later board asks
  // again.
  std::optional<std::string> version_;
  std::optional<uint64_t> checksum_;
  bool fetching_ = false;
  bool downloading_ = false;
  std::vector<uint64_t> waitingForRelease_;
  std::vector<uint64_t> waitingForFirmware_;
  std::vector<Record> records_;
  std::map<uint64_t, std::unique_ptr<Board>> boards_;
  std::chrono::steady_clock::time_point lastBusy_;
  UpdateServerClient client_;
  HidLink link_;  // last: its events stop before the boards go
};

}  // namespace trident
