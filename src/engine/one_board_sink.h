#pragma once

#include <optional>

#include "engine/board_sink.h"
#include "engine/ports.h"

namespace trident {

class UpdateEngine;

// The window's board: the first bootloader that opens is the one board of the run, and only its
// removal counts. A second bootloader, or any other device, coming or going, changes nothing; once
// a board was taken no other is opened, even after it has gone. The engine's frames go to it.
class OneBoardSink final : public BoardSink, public ReportPort {
 public:
  // `engine` is only used once the link delivers, so it may be built after this sink.
  OneBoardSink(BoardLink& link, UpdateEngine& engine) : link_(link), engine_(engine) {}

  // The board that was taken and has not gone; none before and after.
  std::optional<uint64_t> hidDevice() const { return present_; }
  // The board that was taken, as it was listed then (its path and serial number, for the record);
  // empty before.
  const HidDeviceInfo& takenBoard() const { return takenInfo_; }
  // The board that was taken has left the enumeration: nothing of it can be taken again.
  bool boardDeparted() const { return departed_; }

  size_t boardLimit() const override { return 1; }
  bool watchingAttachments() const override { return !taken_; }
  void deviceAttached(const HidDeviceRef& device) override;
  void deviceRemoved(const HidDeviceRef& device, bool wasTaken) override;
  void deviceDeparted(uint64_t handle) override;
  void boardTaken(const HidDeviceRef& board) override;
  void boardReport(uint64_t handle, const uint8_t* report, size_t length) override;

  // ReportPort: the engine's frames, to the taken board (dropped by the link when there is none).
  void writeReport(const Frame& frame) override;

 private:
  BoardLink& link_;
  UpdateEngine& engine_;
  std::optional<uint64_t> taken_;  // stays after its removal
  std::optional<uint64_t> present_;
  HidDeviceInfo takenInfo_;
  bool departed_ = false;
};

// Whether a device is the bootloader the engine updates.
bool isBootloader(const HidDeviceInfo& device);

}  // namespace trident
