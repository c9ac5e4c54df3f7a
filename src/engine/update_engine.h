#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"
#include "engine/frame.h"
#include "engine/ports.h"
#include "engine/status.h"

namespace trident {

inline constexpr uint32_t BOOTLOADER_VID = 0x0416;
inline constexpr uint32_t BOOTLOADER_PID = 0x3F00;

// The update's state, under the names the bootloader protocol gives it.
struct EngineState {
  uint32_t iStatus = STATUS_WAIT_GET_DUNNO_DEVICE_FWVER;
  uint32_t packNo = 1;                       // packet number of the next numbered frame
  uint16_t sentPackNo = 0;                   // packet number of the last frame sent
  std::unique_ptr<uint8_t[]> acodeImage;     // the decoded firmware image
  uint32_t acodeCapacity = 0;                // size of acodeImage
  uint32_t acodeLength = 0;                  // bytes stored, then bytes not yet sent
  uint32_t acodeTotal = 0;                   // image length announced to the board
  uint32_t acodeOffset = 0;                  // next image byte to send
  double progressPercent = 0;                // last progress figure
  uint64_t ftp_checksum_integer = 0;         // what the board must report, from the release line
  bool updateFinished = false;               // the checksum reply came: a disconnect is expected
  std::optional<uint64_t> reportedChecksum;  // what the board reported, as ftp_checksum_integer
  uint64_t firmwareBytes = 0;                // the firmware file as it came, for the record
  std::string firmwareSha256;
  int32_t lineNO = -1;  // loader's line counter, for its trace
  Frame rxReport{};     // the last input report
};

// The firmware update engine: the bootloader command frames, the HEX loader, the transfer and the
// state machine driven by the board's replies. It is fed events (the board was taken, a report
// arrived, the board went away, the firmware was stored, a click) and answers only through its
// ports, so it does no I/O of its own besides reading the firmware file.
//
// Which thread runs it: one at a time, never two at once, and nothing in it locks. In the window
// that is the GUI thread alone; every other thread posts to it. In trident-flash it is the main
// loop's thread, or the HID thread in that loop's place while the loop waits idle with nothing
// queued (EventLoop::whileIdle): the loop's thread takes nothing up until such work has ended, so
// the two never overlap, and what one wrote the other sees. Its ports are called on that same
// thread. The ThreadSanitizer build (make tsan) runs the whole suite to hold this.
class UpdateEngine final : public ServerAnswerPort {
 public:
  struct Ports {
    ReportPort& report;
    WindowPort& window;
    UpdateServerPort& server;
    Diagnostics& diag;
  };

  explicit UpdateEngine(Ports ports, std::filesystem::path hexFile = "tmp.hex");

  const EngineState& state() const { return st_; }
  const std::filesystem::path& hexFile() const override { return hexFile_; }

  // The link has taken the board: the sync frame goes out; packNo is left alone.
  void SyncOnTake();
  // One input report of 1 to 64 bytes from the taken board.
  void InputReportCallback(const uint8_t* report, size_t length);
  // The taken board went away. `deviceVID`/`devicePID` are the IDs the link remembered.
  void RemovalRule(uint32_t deviceVID, uint32_t devicePID);

  // The action button: ends the application in a final status, otherwise starts the download.
  void OnActionButtonClick();
  // The server's answers. Once the update has ended (a final status) each is logged and dropped:
  // a late answer must not bring a view back over the final one.
  // A release line was accepted: the Ready view, then STATUS_DOWNLOAD_HEX_SUCCESS.
  void releaseAccepted(std::string_view versionStr) override;
  // The Server error view with `message` in the alert (release fetch or download failed).
  void showErrorAlertWithMessage(std::string_view message) override;
  // The Setup error view with `message` in the alert (the firmware file cannot be used).
  void showSetupErrorAlertWithMessage(std::string_view message);
  // The board left a frame unanswered for too long (see ReplyWatch): the Setup error view, with
  // the alert that tells the user how to start again.
  void boardStoppedAnswering();
  // The firmware file is stored: remember the checksum, show Programming, load and start.
  void firmwareStored(uint64_t expectedChecksum) override;
  // Shown only while the download the click started is under way.
  void downloadProgress(uint64_t received, uint64_t expected) override;
  void firmwareFetched(const FetchedFirmware& firmware) override;

  // The steps of the update, each named as the protocol names it.
  void LoadHexFile();
  void DoPreUpdate();
  void DoUpdate();
  void SendFinalCommand();

 private:
  void sendFrame(const Frame& frame);   // its dump, then the frame
  void writeFrame(const Frame& frame);  // the frame alone, its packet number kept
                                        // send dump, then the report
  void logStatus();
  // The update has ended: `step` is logged as dropped and must change nothing.
  bool hasEnded(std::string_view step, std::string_view consequence = "");

  Ports ports_;
  std::filesystem::path hexFile_;
  EngineState st_;
};

}  // namespace trident
