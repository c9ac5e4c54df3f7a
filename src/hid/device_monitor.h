#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/board_sink.h"

namespace trident {

// What one enumeration changed.
struct DeviceChange {
  enum class Kind { Attached, Removed, Departed };
  Kind kind;
  HidDeviceRef device;
};

// Turns the platform's lists of present devices into attachments, removals and departures, and
// gives each device a handle of its own. No I/O: it is fed lists, so it is tested with plain ones.
class DeviceMonitor {
 public:
  // The devices present now: what changed since the last list. A device that leaves is removed
  // (unless its removal was said when it failed) and departs; one whose path comes back with
  // another instance is a board plugged in again between two lists: the old one leaves, a new one
  // is attached.
  std::vector<DeviceChange> update(const std::vector<HidDeviceInfo>& present);
  // A taken device failed a read or a write: it is removed as far as the update is concerned.
  // Returns it when its removal is to be said now (once); it departs when it leaves the list.
  std::optional<HidDeviceRef> fail(uint64_t handle);
  // A taken device was let go: it is not attached again while it stays listed, and its leaving
  // is a departure alone.
  void retire(uint64_t handle);
  // A device that is listed and neither failed nor let go.
  std::optional<HidDeviceRef> find(uint64_t handle) const;

 private:
  struct Known {
    HidDeviceRef ref;
    bool gone = false;  // failed or let go: its removal is not said again
  };
  Known* known(uint64_t handle);

  std::map<std::string, Known> known_;  // by path
  uint64_t nextHandle_ = 1;
};

}  // namespace trident
