#pragma once

#include <deque>
#include <string>
#include <vector>

#include "board_simulator.h"
#include "engine/update_engine.h"
#include "support/test_support.h"

namespace trident::testing {

// Records every view change the engine asks for, as "name" or "name(argument)".
class WindowRecorder final : public WindowPort {
 public:
  void fillVariantPopUp(const std::vector<std::string>& titles) override;
  void showFetching() override { add("showFetching"); }
  void showReady(std::string_view versionStr) override { add("showReady", versionStr); }
  void showDownloading() override { add("showDownloading"); }
  // Kept apart from the views: how many reports come depends on the link's speed.
  void showDownloadProgress(uint64_t received, uint64_t expected) override {
    downloaded.emplace_back(received, expected);
  }
  void setUpUpdateHexUI() override { add("setUpUpdateHexUI"); }
  void showProgressPicture(int index, uint32_t, uint32_t) override { pictures.push_back(index); }
  void showUpdateResult(bool ok) override { add("showUpdateResult", ok ? "complete" : "failed"); }
  void showDeviceRemoved() override { add("showDeviceRemoved"); }
  void showServerError() override { add("showServerError"); }
  void adjustToErrorUI() override { add("adjustToErrorUI"); }
  void alertA(std::string_view message) override { add("alertA", message); }
  void terminate() override { add("terminate"); }

  std::vector<std::string> events;
  std::vector<int> pictures;
  std::vector<std::pair<uint64_t, uint64_t>> downloaded;

 private:
  void add(std::string_view name) { events.emplace_back(name); }
  void add(std::string_view name, std::string_view argument) {
    events.push_back(std::string(name) + "(" + std::string(argument) + ")");
  }
};

class ServerRecorder final : public UpdateServerPort {
 public:
  void fetchVariant(int64_t selectedIndex) override { fetches.push_back(selectedIndex); }
  void downloadNewVerHexFile() override { ++downloads; }
  std::vector<int64_t> fetches;
  int downloads = 0;
};

// The engine wired to the in-process virtual board. Frames go to the board as they are sent; the
// board's replies queue up and pump() feeds them back one at a time, as the main loop would.
class SimRig final : public ReportPort {
 public:
  // `hexFile` is where the engine keeps the firmware file; by default tmp.hex in `dir`.
  explicit SimRig(BoardFaults faults = {}, std::filesystem::path hexFile = {})
      : SimRig(nullptr, faults, std::move(hexFile)) {}
  // The same rig with the engine's view changes going to `view` (the real window) instead of the
  // recorder.
  explicit SimRig(WindowPort& view, BoardFaults faults = {}, std::filesystem::path hexFile = {})
      : SimRig(&view, faults, std::move(hexFile)) {}

  void writeReport(const Frame& frame) override;
  // Delivers the next queued reply, or else a pending disconnect; false when nothing was left.
  bool pumpOne();
  // Delivers queued replies, then a pending disconnect, until nothing is left.
  void pump() {
    while (pumpOne()) {
    }
  }

  // Takes the board and answers the first reply: the update now waits for the release line.
  void takeBoard() {
    engine.SyncOnTake();
    pump();
  }
  // Takes the board, accepts a release, clicks "Update", stores `hexFile` as the firmware with the
  // expected `checksum` and runs the exchange to its end.
  void runUpdate(const std::filesystem::path& hexFile, uint64_t checksum) {
    takeBoard();
    engine.releaseAccepted("V1.0");
    engine.OnActionButtonClick();
    storeFirmware(hexFile, checksum);
  }
  void storeFirmware(const std::filesystem::path& hexFile, uint64_t checksum);

  // The checksum a release line announces for this image, as the engine stores it.
  static uint64_t expectedChecksumFor(const std::vector<uint8_t>& image);

  RecordingDiagnostics diag;
  WindowRecorder window;
  ServerRecorder server;
  BoardSimulator board;
  TempDir dir;
  UpdateEngine engine;
  std::vector<Frame> sent;
  std::deque<Frame> pending;
  bool attached = true;
  bool disconnectPending = false;

 private:
  // The recorder is only there once the members are: a delegating constructor must not name it.
  SimRig(WindowPort* view, BoardFaults faults, std::filesystem::path hexFile);
};

}  // namespace trident::testing
