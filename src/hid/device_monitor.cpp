#include "hid/device_monitor.h"

#include <algorithm>

namespace trident {

std::vector<DeviceChange> DeviceMonitor::update(const std::vector<HidDeviceInfo>& present) {
  std::vector<DeviceChange> changes;
  for (auto it = known_.begin(); it != known_.end();) {
    const bool stillThere =
        std::any_of(present.begin(), present.end(), [&](const HidDeviceInfo& d) {
          return d.path == it->first && d.instance == it->second.ref.info.instance;
        });
    if (stillThere) {
      ++it;
      continue;
    }
    if (!it->second.gone) changes.push_back({DeviceChange::Kind::Removed, it->second.ref});
    changes.push_back({DeviceChange::Kind::Departed, it->second.ref});
    it = known_.erase(it);
  }
  for (const auto& info : present) {
    if (known_.count(info.path)) continue;
    HidDeviceRef device{nextHandle_++, info};
    known_.emplace(info.path, Known{device});
    changes.push_back({DeviceChange::Kind::Attached, device});
  }
  return changes;
}

DeviceMonitor::Known* DeviceMonitor::known(uint64_t handle) {
  const auto it = std::find_if(known_.begin(), known_.end(), [&](const auto& entry) {
    return entry.second.ref.handle == handle;
  });
  return it == known_.end() ? nullptr : &it->second;
}

std::optional<HidDeviceRef> DeviceMonitor::fail(uint64_t handle) {
  Known* device = known(handle);
  if (device == nullptr || device->gone) return std::nullopt;
  device->gone = true;
  return device->ref;
}

void DeviceMonitor::retire(uint64_t handle) {
  if (Known* device = known(handle)) device->gone = true;
}

std::optional<HidDeviceRef> DeviceMonitor::find(uint64_t handle) const {
  for (const auto& [path, device] : known_) {
    if (device.ref.handle == handle) {
      if (device.gone) return std::nullopt;
      return device.ref;
    }
  }
  return std::nullopt;
}

}  // namespace trident
