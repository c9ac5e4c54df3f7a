#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "common/diagnostics.h"
#include "common/executor.h"
#include "engine/board_sink.h"
#include "hid/hid_backend.h"
#include "hid/hid_io_thread.h"

namespace trident {

// The link to the boards: the devices the I/O thread finds, logged and handed to one sink, which
// decides what to take; each taken board's reports, removal and frames kept apart from the
// others'. It knows neither the engine nor the bootloader. Everything it delivers runs on the
// executor it was given; its calls are made there too.
class HidLink final : public BoardLink {
 public:
  HidLink(std::unique_ptr<HidBackend> backend, Executor& deliverTo, Diagnostics& diag,
          std::chrono::milliseconds pollInterval = std::chrono::milliseconds(250));

  // Starts discovery for `sink` (once; it must outlive the link's deliveries).
  void RegisterHID(BoardSink& sink);

  void take(uint64_t handle) override;
  void writeTo(uint64_t handle, const Frame& frame) override;
  void letGo(uint64_t handle) override;

 private:
  void attached(const HidDeviceRef& device);
  void removed(const HidDeviceRef& device);
  void opened(const HidDeviceRef& device);
  void openFailed(const HidDeviceRef& device, const std::string& error);
  void departed(const HidDeviceRef& device);
  void report(uint64_t handle, const std::vector<uint8_t>& bytes);

  Diagnostics& diag_;
  const std::string startError_;
  BoardSink* sink_ = nullptr;           // not owned; set by RegisterHID
  std::set<uint64_t> taken_;            // given to the sink, and not removed or let go since
  std::set<uint64_t> openFailureSaid_;  // a failing open is retried often, but said once
  HidIoThread io_;                      // last: it stops before the rest goes
};

}  // namespace trident
