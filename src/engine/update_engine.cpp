#include "engine/update_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/hex_loader.h"
#include "records/variants.h"

namespace trident {

namespace {

constexpr int kLastProgressPicture = 20;

}  // namespace

UpdateEngine::UpdateEngine(Ports ports, std::filesystem::path hexFile)
    : ports_(ports), hexFile_(std::move(hexFile)) {}

void UpdateEngine::sendFrame(const Frame& frame) {
  ports_.diag.standardOutput(sendDump(frame));
  writeFrame(frame);
}

void UpdateEngine::writeFrame(const Frame& frame) {
  st_.sentPackNo = replyPacketNumber(frame);
  ports_.report.writeReport(frame);
}

void UpdateEngine::logStatus() {
  ports_.diag.systemLog(strprintf("iStatus = %s", statusName(st_.iStatus).data()));
}

void UpdateEngine::SyncOnTake() {
  sendFrame(makeSyncFrame());
}

void UpdateEngine::InputReportCallback(const uint8_t* report, size_t length) {
  // A short report fills the front of the buffer; the rest reads as zeros rather than as what an
  // earlier report left there, so a reply too short to carry a packet number never answers.
  const size_t used = std::min(length, kReportSize);
  st_.rxReport.fill(0);
  if (report != nullptr && used > 0) std::memcpy(st_.rxReport.data(), report, used);
  ports_.diag.standardOutput(receiveDump(st_.rxReport));

  const bool answers = report != nullptr && used >= 6 &&
                       replyPacketNumber(st_.rxReport) == static_cast<uint16_t>(st_.packNo - 1);
  switch (st_.iStatus) {
    case STATUS_WAIT_GET_DUNNO_DEVICE_FWVER:
      logStatus();
      st_.iStatus = STATUS_WAIT_DOWNLOAD_HEX;
      ports_.window.fillVariantPopUp(getPopUpBtnArray());
      ports_.server.fetchVariant(0);
      return;
    case STATUS_WAIT_DOWNLOAD_HEX:
    case STATUS_DOWNLOAD_HEX_SUCCESS:
      logStatus();
      return;
    case STATUS_PRE_UPDATE:
      logStatus();
      if (!answers) return;
      if (st_.packNo <= 8) {
        DoPreUpdate();
      } else {
        st_.packNo = 1;
        st_.iStatus = STATUS_PEND_UPDATE;
        DoUpdate();
      }
      return;
    case STATUS_PEND_UPDATE:
      logStatus();
      if (!answers) return;
      DoUpdate();
      return;
    case STATUS_WAIT_CHECKSUM: {
      logStatus();
      // A reply that stops before the checksum's two bytes cannot be judged.
      if (!answers || used < kChecksumReplyAt + 2) return;
      const uint64_t boardChecksum =
          st_.rxReport[kChecksumReplyAt] * 256u + st_.rxReport[kChecksumReplyAt + 1];
      const bool success = boardChecksum == st_.ftp_checksum_integer;
      st_.reportedChecksum = boardChecksum;
      st_.updateFinished = true;
      SendFinalCommand();
      st_.iStatus = STATUS_DONE;
      ports_.window.showUpdateResult(success);
      return;
    }
    default:
      return;  // the update has ended: the dump is all
  }
}

void UpdateEngine::RemovalRule(uint32_t deviceVID, uint32_t devicePID) {
  if (deviceVID != BOOTLOADER_VID || devicePID != BOOTLOADER_PID || st_.updateFinished) return;
  st_.iStatus = STATUS_DEVICE_REMOVED;
  ports_.window.showDeviceRemoved();
}

void UpdateEngine::OnActionButtonClick() {
  if (isFinalStatus(st_.iStatus)) {
    ports_.window.terminate();
    return;
  }
  ports_.window.showDownloading();
  ports_.server.downloadNewVerHexFile();
}

bool UpdateEngine::hasEnded(std::string_view step, std::string_view consequence) {
  if (!isFinalStatus(st_.iStatus)) return false;
  ports_.diag.systemLog(joined(
      {step, ": the update has already ended (", statusName(st_.iStatus), ")", consequence}));
  return true;
}

void UpdateEngine::releaseAccepted(std::string_view versionStr) {
  if (hasEnded("releaseAccepted")) return;
  ports_.window.showReady(versionStr);
  st_.iStatus = STATUS_DOWNLOAD_HEX_SUCCESS;
}

void UpdateEngine::showErrorAlertWithMessage(std::string_view message) {
  if (hasEnded("showErrorAlertWithMessage")) return;
  ports_.window.showServerError();
  st_.iStatus = STATUS_ERROR;
  ports_.window.alertA(message);
}

void UpdateEngine::showSetupErrorAlertWithMessage(std::string_view message) {
  st_.iStatus = STATUS_ERROR;
  ports_.window.adjustToErrorUI();
  ports_.window.alertA(message);
}

void UpdateEngine::boardStoppedAnswering() {
  if (isFinalStatus(st_.iStatus)) return;
  ports_.diag.systemLog(
      strprintf("The board stopped answering (no reply to frame %u)", st_.sentPackNo));
  // A bootloader that went quiet mid-transfer only wakes up again from a fresh start.
  showSetupErrorAlertWithMessage(
      "Error: The board stopped answering. Unplug it, hold its button and plug it in again.");
}

void UpdateEngine::firmwareStored(uint64_t expectedChecksum) {
  if (hasEnded("firmwareStored")) return;
  st_.ftp_checksum_integer = expectedChecksum;
  ports_.window.setUpUpdateHexUI();
  LoadHexFile();
}

void UpdateEngine::downloadProgress(uint64_t received, uint64_t expected) {
  if (st_.iStatus == STATUS_DOWNLOAD_HEX_SUCCESS)
    ports_.window.showDownloadProgress(received, expected);
}

void UpdateEngine::firmwareFetched(const FetchedFirmware& firmware) {
  if (hasEnded("firmwareFetched")) return;
  st_.firmwareBytes = firmware.bytes;
  st_.firmwareSha256 = firmware.sha256;
}

void UpdateEngine::LoadHexFile() {
  // Nothing is sent to a board that is gone, or after a verdict.
  if (hasEnded("LoadHexFile", "; not loading")) return;
  // A firmware stored again mid-transfer starts a new image: nothing of it has been sent yet.
  st_.acodeOffset = 0;
  st_.acodeLength = 0;
  st_.acodeTotal = 0;
  HexImage image;
  if (readHexImage(hexFile_, image, st_.lineNO, ports_.diag) == HexLoadStatus::CannotOpen) {
    ports_.diag.standardOutput("fopen(Acode) fail\n");
    showSetupErrorAlertWithMessage("Error: Please check your network");
    return;
  }
  st_.acodeImage = std::move(image.bytes);
  st_.acodeCapacity = image.capacity;
  st_.acodeLength = image.length;
  st_.acodeTotal = image.length;

  // Refused before any frame goes out.
  if (const auto refusal = imageRefusal(image)) {
    ports_.diag.systemLog("LoadHexFile: " + refusal->log + "; refused");
    showSetupErrorAlertWithMessage(refusal->alert);
    return;
  }
  st_.packNo = 1;
  st_.iStatus = STATUS_PRE_UPDATE;
  DoPreUpdate();
}

void UpdateEngine::DoPreUpdate() {
  Frame frame{};
  switch (st_.packNo) {
    case 1:
      frame = makeSyncFrame();
      break;
    case 3:
      frame = makeFrame(Command::MagicLetters, 3);
      frame[8] = 'Q';
      frame[9] = 'K';
      break;
    case 5:
      frame = makeFrame(Command::PreUpdateB1, 5);
      break;
    case 7:
      frame = makeFrame(Command::PreUpdateA2, 7);
      break;
    default:
      // Only 1, 3, 5 and 7 reach here; anything else would be a fault in the caller.
      ports_.diag.systemLog(strprintf("DoPreUpdate: unexpected packNo %u", st_.packNo));
      return;
  }
  st_.packNo += 2;
  sendFrame(frame);
}

void UpdateEngine::DoUpdate() {
  Frame frame{};
  auto& diag = ports_.diag;
  if (st_.packNo == 1) {
    frame = makeSyncFrame();
    st_.packNo = 3;
    diag.standardOutput(sendDump(frame));
  } else if (st_.packNo == 3) {
    st_.acodeOffset = 0;
    st_.progressPercent = 0;
    frame = makeFrame(Command::FirstTransfer, 3);
    putU32LE(frame, kImageLengthAt, st_.acodeTotal);
    // An image shorter than the first frame's room goes out as far as it goes, zeros after.
    const uint32_t count = std::min(kFirstPayloadBytes, st_.acodeLength);
    std::memcpy(frame.data() + kFirstPayloadAt, st_.acodeImage.get(), count);
    st_.acodeOffset += count;
    st_.acodeLength -= count;
    diag.standardOutput(sendDump(frame));
    st_.packNo += 2;
  } else if (st_.acodeLength >= kDataPayloadBytes) {
    frame = makeFrame(Command::Data, st_.packNo);
    std::memcpy(frame.data() + kDataPayloadAt, st_.acodeImage.get() + st_.acodeOffset,
                kDataPayloadBytes);
    st_.acodeOffset += kDataPayloadBytes;
    st_.acodeLength -= kDataPayloadBytes;
    diag.standardOutput(sendDump(frame));
    diag.standardOutput(strprintf("============================================= %u remain %u\n",
                                  st_.acodeTotal, st_.acodeLength));
    st_.packNo += 2;
  } else {
    diag.standardOutput(strprintf("*** LAST PACK has %d bytes, packNo=%d(0x%04x)\n",
                                  static_cast<int>(st_.acodeLength), static_cast<int>(st_.packNo),
                                  st_.packNo));
    frame = makeFrame(Command::Data, st_.packNo);
    if (st_.acodeLength > 0) {
      std::memcpy(frame.data() + kDataPayloadAt, st_.acodeImage.get() + st_.acodeOffset,
                  st_.acodeLength);
    }
    st_.acodeOffset += st_.acodeLength;
    st_.acodeLength = 0;
    diag.standardOutput(sendDump(frame));
    diag.standardOutput(
        "===================================================== (GUI Says) Above Sended last "
        "pack\n");
    st_.iStatus = STATUS_WAIT_CHECKSUM;
    st_.packNo += 2;
  }

  // The figure follows the frames sent. Small images would divide by zero or run past the last
  // picture, so the divisor, the printed figure and the picture index are kept in range.
  const double divisor = std::max<uint32_t>(st_.acodeTotal / 150, 1);
  st_.progressPercent = ((st_.packNo / 5.4) * 100) / divisor;
  const auto shown = static_cast<int>(std::clamp(st_.progressPercent, 0.0, 100.0));
  diag.standardOutput(strprintf("(pbar,%02d)", shown));
  const auto picture = static_cast<int>(
      std::clamp(st_.progressPercent / 5.0, 0.0, static_cast<double>(kLastProgressPicture)));
  ports_.window.showProgressPicture(picture, st_.acodeTotal - st_.acodeLength, st_.acodeTotal);

  writeFrame(frame);
}

void UpdateEngine::SendFinalCommand() {
  sendFrame(makeFrame(Command::Final, st_.packNo));
  st_.packNo = 1;
}

}  // namespace trident
