#include "hid/hid_link.h"

namespace trident {

namespace {

uint32_t id16(const std::optional<int32_t>& id) {
  return static_cast<uint32_t>(id.value_or(0)) & 0xFFFF;
}

void logDevice(Diagnostics& diag, const char* format, const HidDeviceRef& device) {
  diag.systemLog(strprintf(format, static_cast<unsigned long long>(device.handle)));
  diag.systemLog(
      strprintf("VID：%04X PID : %04X", id16(device.info.vendorId), id16(device.info.productId)));
}

}  // namespace

HidLink::HidLink(std::unique_ptr<HidBackend> backend, Executor& deliverTo, Diagnostics& diag,
                 std::chrono::milliseconds pollInterval)
    : diag_(diag),
      startError_(backend->startError()),
      io_(std::move(backend), deliverTo,
          {[this](HidDeviceRef d) { attached(d); }, [this](HidDeviceRef d) { removed(d); },
           [this](HidDeviceRef d) { departed(d); }, [this](HidDeviceRef d) { opened(d); },
           [this](HidDeviceRef d, std::string e) { openFailed(d, e); },
           [this](uint64_t h, std::vector<uint8_t> r) { report(h, r); },
           [this] {
             diag_.systemLog("SendReport: the board went away before the frame was written");
           },
           [this](HidDeviceRef d, size_t frames) {
             diag_.systemLog(
                 strprintf("HID: the board at %s takes no frames (%zu waiting); it "
                           "counts as removed",
                           d.info.path.c_str(), frames));
           }},
          pollInterval) {}

void HidLink::RegisterHID(BoardSink& sink) {
  if (sink_ != nullptr) return;
  sink_ = &sink;
  if (!startError_.empty()) {
    diag_.systemLog("HID: cannot start the HID library: " + startError_);
    return;
  }
  io_.start(sink.boardLimit());
  diag_.systemLog("IOHIDManager打开成功");
}

void HidLink::attached(const HidDeviceRef& device) {
  if (!sink_->watchingAttachments()) return;
  logDevice(diag_, "插入：0x%llx", device);
  sink_->deviceAttached(device);
}

void HidLink::take(uint64_t handle) {
  io_.take(handle);
}

void HidLink::opened(const HidDeviceRef& device) {
  taken_.insert(device.handle);
  sink_->boardTaken(device);
}

void HidLink::openFailed(const HidDeviceRef& device, const std::string& error) {
  if (!openFailureSaid_.insert(device.handle).second) return;
  diag_.systemLog(strprintf("HID: cannot open the bootloader at %s: %s", device.info.path.c_str(),
                            error.c_str()));
}

void HidLink::removed(const HidDeviceRef& device) {
  logDevice(diag_, "拔出：0x%llx设备", device);
  openFailureSaid_.erase(device.handle);
  const bool wasTaken = taken_.erase(device.handle) > 0;
  if (wasTaken) io_.close(device.handle);
  sink_->deviceRemoved(device, wasTaken);
}

void HidLink::departed(const HidDeviceRef& device) {
  sink_->deviceDeparted(device.handle);
}

void HidLink::report(uint64_t handle, const std::vector<uint8_t>& bytes) {
  if (taken_.count(handle)) sink_->boardReport(handle, bytes.data(), bytes.size());
}

void HidLink::writeTo(uint64_t handle, const Frame& frame) {
  if (!taken_.count(handle)) {
    diag_.systemLog("SendReport: no bootloader is connected; the frame was not sent");
    return;
  }
  io_.write(handle, frame);
}

void HidLink::letGo(uint64_t handle) {
  if (taken_.erase(handle) > 0) io_.close(handle);
}

}  // namespace trident
