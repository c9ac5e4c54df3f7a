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
  void showFetching() override { events.push_back("showFetching"); }
  void showReady(std::string_view versionStr) override;
  void showDownloading() override { events.push_back("showDownloading"); }
  void setUpUpdateHexUI() override { events.push_back("setUpUpdateHexUI"); }
  void showProgressPicture(int index) override { pictures.push_back(index); }
  void showUpdateResult(bool success) override;
  void showDeviceRemoved() override { events.push_back("showDeviceRemoved"); }
  void showServerError() override { events.push_back("showServerError"); }
  void adjustToErrorUI() override { events.push_back("adjustToErrorUI"); }
  void alertA(std::string_view message) override;
  void terminate() override { events.push_back("terminate"); }

  std::vector<std::string> events;
  std::vector<int> pictures;
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
  explicit SimRig(BoardFaults faults = {}, std::filesystem::path hexFile = {});
  // The same rig with the engine's view changes going to `view` (the real window) instead of the
  // recorder.
  explicit SimRig(WindowPort& view, BoardFaults faults = {}, std::filesystem::path hexFile = {});

  void writeReport(const Frame& frame) override;
  // Delivers queued replies, then a pending disconnect, until nothing is left.
  void pump();

  // Takes the board and answers the first reply: the update now waits for the release line.
  void takeBoard();
  // Takes the board, accepts a release, clicks "Update", stores `hexFile` as the firmware with the
  // expected `checksum` and runs the exchange to its end.
  void runUpdate(const std::filesystem::path& hexFile, uint64_t checksum);
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
  int dropped = 0;
};

}  // namespace trident::testing
