#include "engine/one_board_sink.h"

#include "engine/update_engine.h"

namespace trident {

bool isBootloader(const HidDeviceInfo& device) {
  const auto id = [](const std::optional<int32_t>& value) {
    return static_cast<uint32_t>(value.value_or(0)) & 0xFFFF;
  };
  return id(device.vendorId) == BOOTLOADER_VID && id(device.productId) == BOOTLOADER_PID;
}

void OneBoardSink::deviceAttached(const HidDeviceRef& device) {
  // Taken once it opens: a bootloader the user may not open yet (udev's ACL lands a moment after
  // the node) is tried again at each enumeration while the window keeps waiting.
  if (!taken_ && isBootloader(device.info)) link_.take(device.handle);
}

void OneBoardSink::boardTaken(const HidDeviceRef& board) {
  if (taken_) {
    link_.letGo(board.handle);
    return;
  }
  taken_ = board.handle;
  takenInfo_ = board.info;
  present_ = board.handle;
  engine_.SyncOnTake();
}

void OneBoardSink::deviceRemoved(const HidDeviceRef& device, bool wasTaken) {
  // A bootloader that never opened, or a second one unplugged beside the board, carries the same
  // IDs and must not end the update.
  if (!wasTaken || present_ != device.handle) return;
  present_.reset();
  engine_.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
}

void OneBoardSink::deviceDeparted(uint64_t handle) {
  if (taken_ == handle) departed_ = true;
}

void OneBoardSink::boardReport(uint64_t handle, const uint8_t* report, size_t length) {
  if (present_ == handle) engine_.InputReportCallback(report, length);
}

void OneBoardSink::writeReport(const Frame& frame) {
  link_.writeTo(present_.value_or(0), frame);
}

}  // namespace trident
