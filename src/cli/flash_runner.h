#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "cli/board_run.h"
#include "cli/firmware_source.h"
#include "cli/flash_options.h"
#include "cli/run_view.h"
#include "cli/update_history.h"
#include "common/event_loop.h"
#include "hid/hid_link.h"
#include "update/update_server_client.h"

namespace trident {

// trident-flash's one runner: one board, one board after another (--loop), or every board at once
// (--all), each taken board with its own engine, reply time-out and verdict, the release and the
// firmware fetched once for all of them. What it shows goes to a RunView. The firmware is loaded
// from `firmwareFile`, in the run's own folder: the download, or the copy of a --hex file.
class FlashRunner final : public BoardSink {
 public:
  FlashRunner(const FlashOptions& options, EventLoop& loop, RunView& view,
              const std::filesystem::path& firmwareFile, UpdateHistory& history);
  ~FlashRunner() override;

  // Runs until every board taken has its verdict; with --loop until interrupted or, with --wait,
  // until no board has come or been busy for that long. Returns the exit status: the highest
  // among the boards.
  int run(const std::atomic<bool>& interrupted);

  // BoardSink
  size_t boardLimit() const override;
  bool watchingAttachments() const override { return options_.loop || records_.empty(); }
  void deviceAttached(const HidDeviceRef& device) override;
  void deviceRemoved(const HidDeviceRef& device, bool wasTaken) override;
  void deviceDeparted(uint64_t handle) override;
  void boardTaken(const HidDeviceRef& board) override;
  void boardReport(uint64_t handle, const uint8_t* report, size_t length) override;

 private:
  using Boards = std::map<uint64_t, std::unique_ptr<BoardRun>>;
  BoardRun* find(uint64_t handle);
  FirmwareWaiter* byNumber(size_t number);
  void forget(Boards::iterator board);
  void offerWaiting();
  int finish(bool interrupted);

  const FlashOptions& options_;
  EventLoop& loop_;
  RunView& view_;
  UpdateHistory& history_;
  std::filesystem::path hexFile_;
  FirmwareSource source_;
  std::vector<uint64_t> offered_;  // bootloaders attached, asked for and not taken yet
  std::vector<BoardRecord> records_;
  Boards boards_;
  std::set<uint64_t> departed_;  // boards that left before their verdict was taken in
  std::chrono::steady_clock::time_point lastBusy_;
  bool saidWaiting_ = false;
  HidLink link_;  // last: its events stop before the boards go
};

// The HID layer the options name: the virtual transport, or the platform's.
std::unique_ptr<HidBackend> hidBackendFor(const FlashOptions& options);

}  // namespace trident
