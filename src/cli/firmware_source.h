#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/flash_outcome.h"
#include "common/executor.h"
#include "engine/ports.h"

namespace trident {

// A board that waits for the release and the firmware.
class FirmwareWaiter {
 public:
  virtual ~FirmwareWaiter() = default;
  // The update server is being asked for the release.
  virtual void fetching() = 0;
  virtual void releaseAccepted(std::string_view versionStr) = 0;
  virtual void serverError(std::string_view message) = 0;
  virtual void firmwareStored(uint64_t expectedChecksum) = 0;
  virtual void downloadProgress(uint64_t received, uint64_t expected) = 0;
  // Just before firmwareStored: the firmware file as it came.
  virtual void firmwareFetched(const FetchedFirmware& /*firmware*/) {}
};

// Where every board's release and firmware come from: asked for once, by the first board that
// waits, and handed to each board that waited or asks later. An error is handed to the boards that
// waited and forgotten, so a later board asks again. The answers come from `upstream` (the update
// server's client, or a local file) through this object's ServerAnswerPort.
class FirmwareSource final : public ServerAnswerPort {
 public:
  using Lookup = std::function<FirmwareWaiter*(size_t board)>;  // null once the board is gone

  FirmwareSource(Executor& loop, Lookup boards, std::filesystem::path hexFile, int64_t variant);
  // Where the answers come from; it answers this object, so it is made after it.
  void setUpstream(std::unique_ptr<UpdateServerPort> upstream) { upstream_ = std::move(upstream); }

  void askRelease(size_t board);
  void askFirmware(size_t board);
  // What the update server's client shows while it asks: the waiting boards are told.
  WindowPort& notices() { return notices_; }

  // ServerAnswerPort
  const std::filesystem::path& hexFile() const override { return hexFile_; }
  void releaseAccepted(std::string_view versionStr) override;
  void showErrorAlertWithMessage(std::string_view message) override;
  void firmwareStored(uint64_t expectedChecksum) override;
  void downloadProgress(uint64_t received, uint64_t expected) override;
  void firmwareFetched(const FetchedFirmware& firmware) override;

 private:
  struct Notices final : NullWindowPort {
    explicit Notices(FirmwareSource& source) : source(source) {}
    void showFetching() override;
    FirmwareSource& source;
  };
  struct Question {
    std::vector<size_t> waiting;
    bool asked = false;
  };
  void ask(size_t board, bool answered, Question& question,
           const std::function<void(FirmwareWaiter&)>& give, const std::function<void()>& start);
  void answer(Question& question, const std::function<void(FirmwareWaiter&)>& give);

  std::unique_ptr<UpdateServerPort> upstream_;
  Executor& loop_;
  Lookup boards_;
  std::filesystem::path hexFile_;
  int64_t variant_;
  Notices notices_{*this};
  std::optional<std::string> version_;
  std::optional<uint64_t> checksum_;
  FetchedFirmware fetched_;
  Question release_;
  Question firmware_;
};

// A local firmware file in the server's place: its name is the version shown, its checksum the
// one given on the command line. Its copy in the run's folder (the answers' hexFile) is the file
// programmed, whose size and SHA-256 it reports.
class LocalFirmware final : public UpdateServerPort {
 public:
  // `file` as the command line names it; its file name is the version shown.
  LocalFirmware(ServerAnswerPort& answers, Executor& loop, std::string file, uint64_t checksum)
      : answers_(answers), loop_(loop), file_(std::move(file)), checksum_(checksum) {}
  void fetchVariant(int64_t) override;
  void downloadNewVerHexFile() override;

 private:
  ServerAnswerPort& answers_;
  Executor& loop_;
  std::string file_;
  uint64_t checksum_;
};

// The --hex file made the run's own: read once, as a pipe can only be (a FIFO with nothing
// arriving for `silence`, or a `stop`, ends the wait), written whole as `copy` in the run's
// working folder and judged there, before any board is waited for. The engine loads `copy`: a
// snapshot nothing else changes while it is programmed. None when it may be programmed; else the
// exit status and the line saying why.
struct LocalCopyFailure {
  FlashOutcome outcome;
  std::string message;
};
std::optional<LocalCopyFailure> copyLocalFirmware(
    const std::string& file, const std::filesystem::path& copy, const std::atomic<bool>& stop,
    std::chrono::milliseconds silence = std::chrono::seconds(10));

}  // namespace trident
