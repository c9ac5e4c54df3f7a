#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/frame.h"

namespace trident {

// `done` of `total` in whole percent, as every front end tells the user: 0 to 100, and 0 while no
// total is known. In integers, so that 29 of 100 reads 29, not the 28 that 0.29 * 100 truncates to.
constexpr int wholePercent(uint64_t done, uint64_t total) {
  return total == 0 ? 0 : static_cast<int>(std::min(done, total) * 100 / total);
}

// The engine's ways out. It owns no I/O and no window: the HID link, the window controller and
// the update-server client implement these, tests implement them with recorders.

// Hands one 64-byte output report to the taken device. The engine has already written the send
// dump; an implementation with no device taken drops the frame (and says so in the system log).
class ReportPort {
 public:
  virtual ~ReportPort() = default;
  virtual void writeReport(const Frame& frame) = 0;
};

// One operation per view change the window knows. Each applies its whole view in the window's own
// order; the engine decides when.
class WindowPort {
 public:
  virtual ~WindowPort() = default;
  // Empties the variant pop-up and adds the titles in order, so the first is selected.
  virtual void fillVariantPopUp(const std::vector<std::string>& titles) = 0;
  // Fetching: hides the version line, then the action button.
  virtual void showFetching() = 0;
  // Ready: pop-up, "The lastest version: %@", the "Update" button, "Click Button to start update".
  virtual void showReady(std::string_view versionStr) = 0;
  // Downloading firmware: the click's own view; the button is disabled at once.
  virtual void showDownloading() = 0;
  // While the firmware downloads: `received` bytes so far of `expected` (0: the server did not
  // say how many).
  virtual void showDownloadProgress(uint64_t received, uint64_t expected) = 0;
  // Programming: progress picture "0", "DO NOT Remove the Controller".
  virtual void setUpUpdateHexUI() = 0;
  // Shows the device picture view with progress picture `index` (0 to 20), after `sent` of the
  // image's `total` bytes have gone to the board: front ends show progress from this alone.
  virtual void showProgressPicture(int index, uint32_t sent, uint32_t total) = 0;
  // Updated ("complete") or Update failed ("failed") after the board's checksum reply.
  virtual void showUpdateResult(bool success) = 0;
  // Device removed: the board went away before the update completed.
  virtual void showDeviceRemoved() = 0;
  // Server error view: "Something wrong , Can't Download File From FTP".
  virtual void showServerError() = 0;
  // Setup error view: "The Setup didn't finish and will restart.".
  virtual void adjustToErrorUI() = 0;
  // The modal alert with the given message; returns once the user has dismissed it.
  virtual void alertA(std::string_view message) = 0;
  // Ends the application (the "Close" click in a final status).
  virtual void terminate() = 0;
};

// The update-server client: fetches release descriptions and the firmware file; its results come
// back to the engine on the engine's thread.
class UpdateServerPort {
 public:
  virtual ~UpdateServerPort() = default;
  // Starts the release-description fetch of a firmware variant (0 is the first in the pop-up).
  virtual void fetchVariant(int64_t selectedIndex) = 0;
  // Starts the download of the firmware named by the current release.
  virtual void downloadNewVerHexFile() = 0;
};

// The firmware file as it came, for the record of an update.
struct FetchedFirmware {
  uint64_t bytes = 0;
  std::string sha256;  // 64 lower-case hex digits
  std::string from;    // its URL, or the local file's path
};

// Where the update-server client's answers go, on the engine's thread: the engine itself, or
// (trident-flash --all) the one place that shares them among the engines of several boards. Every
// answer is handed on, however late: only the engine knows whether its update has ended, and it
// drops what comes after that.
class ServerAnswerPort {
 public:
  virtual ~ServerAnswerPort() = default;
  // Where the firmware file is to be stored.
  virtual const std::filesystem::path& hexFile() const = 0;
  // A release line was accepted; its version is shown.
  virtual void releaseAccepted(std::string_view versionStr) = 0;
  // The release fetch or the download failed.
  virtual void showErrorAlertWithMessage(std::string_view message) = 0;
  // The firmware file is stored; the board must report `expectedChecksum`.
  virtual void firmwareStored(uint64_t expectedChecksum) = 0;
  // How far the firmware download has come (see WindowPort::showDownloadProgress).
  virtual void downloadProgress(uint64_t received, uint64_t expected) = 0;
  // The firmware came whole, just before firmwareStored.
  virtual void firmwareFetched(const FetchedFirmware& /*firmware*/) {}
};

// Ports that do nothing, for programs that drive the engine without a window or a server (the
// benchmarks, the fuzz targets); they override only what they watch.
class NullWindowPort : public WindowPort {
 public:
  void fillVariantPopUp(const std::vector<std::string>&) override {}
  void showFetching() override {}
  void showReady(std::string_view) override {}
  void showDownloading() override {}
  void showDownloadProgress(uint64_t, uint64_t) override {}
  void setUpUpdateHexUI() override {}
  void showProgressPicture(int, uint32_t, uint32_t) override {}
  void showUpdateResult(bool) override {}
  void showDeviceRemoved() override {}
  void showServerError() override {}
  void adjustToErrorUI() override {}
  void alertA(std::string_view) override {}
  void terminate() override {}
};

class NullUpdateServerPort final : public UpdateServerPort {
 public:
  void fetchVariant(int64_t) override {}
  void downloadNewVerHexFile() override {}
};

}  // namespace trident
