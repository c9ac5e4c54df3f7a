#include "update/update_server_client.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "engine/hex_loader.h"
#include "records/release_text.h"
#include "records/url_escape.h"
#include "records/variants.h"
#include "update/release_signature.h"

namespace trident {

namespace {

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string writeFailure(const std::filesystem::path& file, const std::error_code& reason) {
  return joined({"Cannot write the firmware file ", file.string(), ": ", reason.message()});
}

// Writes `bytes` to a fresh file beside `file` and renames it over `file`, so the loader finds
// either the whole new firmware or nothing new, never a torn file. Returns the reason on failure.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& file,
                                               std::string_view bytes) {
  std::filesystem::path part = file;
  part += ".part-" + std::to_string(std::random_device{}());
  std::unique_ptr<std::FILE, FileClose> out(std::fopen(part.string().c_str(), "wb"));
  if (!out) return writeFailure(file, std::error_code(errno, std::generic_category()));
  // A short write or a failed close (a full disk shows there) keeps its own reason.
  const auto lastError = [] { return errno != 0 ? errno : EIO; };
  int failure = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size() ||
      std::fflush(out.get()) != 0) {
    failure = lastError();
  }
  if (std::fclose(out.release()) != 0 && failure == 0) failure = lastError();
  std::error_code ec;
  if (failure != 0) {
    std::filesystem::remove(part, ec);
    return writeFailure(file, std::error_code(failure, std::generic_category()));
  }
  std::filesystem::rename(part, file, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
    return writeFailure(file, ec);
  }
  return std::nullopt;
}

}  // namespace

UpdateServerClient::UpdateServerClient(Ports ports, std::string_view ftpRootUrlStr,
                                       TransferTimeouts timeouts)
    : ports_(ports), ftpRootUrlStr_(ftpRootUrlStr), transfers_(ports.executor, timeouts) {
  while (!ftpRootUrlStr_.empty() && ftpRootUrlStr_.back() == '/')
    ftpRootUrlStr_.pop_back();
}

void UpdateServerClient::fetchVariant(int64_t selectedIndex) {
  downloadNewVerUpdateInfoBy(getUpdateUrlStrBy(0, selectedIndex));
}

void UpdateServerClient::popUpBtnValueChanged(int64_t selectedIndex) {
  ports_.diag.systemLog(
      strprintf("DEBUG: selected item index %ld", static_cast<long>(selectedIndex)));
  fetchVariant(selectedIndex);
}

std::string UpdateServerClient::getUpdateUrlStrBy(int64_t /*unused*/, int64_t selectedIndex) {
  if (selectedIndex < 0 || static_cast<uint64_t>(selectedIndex) >= kFirmwareVariants.size()) {
    ports_.diag.systemLog("DEBUG: getUpdateUrlStrBy: error");
    return {};
  }
  const std::string downloadURLStr =
      ftpRootUrlStr_ +
      std::string(kFirmwareVariants[static_cast<size_t>(selectedIndex)].releasePath);
  ports_.diag.systemLog(joined({"DEBUG: getUpdateUrlStrBy, downloadURLStr = ", downloadURLStr}));
  return downloadURLStr;
}

void UpdateServerClient::downloadNewVerUpdateInfoBy(const std::string& ftpTxtUrlStr) {
  auto& diag = ports_.diag;
  diag.systemLog(joined({"DEBUG: downloadNewVerUpdateInfoBy ftpTxtUrlStr = ", ftpTxtUrlStr}));
  if (downloadBegun_) {
    // The release being installed is fixed at the click.
    diag.systemLog("DEBUG: [Download] the firmware download has begun; no new fetch is started");
    return;
  }
  ports_.window.showFetching();
  std::string url = legacyPercentEscape(ftpTxtUrlStr);
  diag.systemLog(joined({"DEBUG: downloadNewVerUpdateInfoBy url = ", url}));
  const uint64_t fetch = ++latestFetch_;
  // A byte past the largest release description is enough to refuse it.
  transfers_.start(
      url,
      [this, fetch, url](TransferOutcome outcome) {
        return [this, fetch, url, outcome = std::move(outcome)] {
          readReleaseDescription(fetch, url, outcome);
        };
      },
      kMaxReleaseDescriptionBytes);
}

void UpdateServerClient::readReleaseDescription(uint64_t fetch, const std::string& url,
                                                const TransferOutcome& outcome) {
  auto& diag = ports_.diag;
  if (fetch != latestFetch_) {
    diag.systemLog(joined({"DEBUG: [Download] a newer request has superseded the fetch of ", url,
                           "; its answer is dropped"}));
    return;
  }
  if (!outcome.ok() && !outcome.tooLarge) {
    diag.systemLog("DEBUG: [Download] dataTask error");
    ports_.answers.showErrorAlertWithMessage(*outcome.error);
    return;
  }

  ReleaseReading reading =
      readReleaseText(outcome.body, url, ftpRootUrlStr_, outcome.announcedSize);
  for (const auto& line : reading.log)
    diag.systemLog(line);
  if (reading.release) currentRelease_ = std::move(reading.release);
  if (reading.refusal) {
    ports_.answers.showErrorAlertWithMessage(*reading.refusal);
    return;
  }
  ports_.answers.releaseAccepted(orNull(currentRelease_->versionStr()));
}

void UpdateServerClient::downloadNewVerHexFile() {
  auto& diag = ports_.diag;
  diag.systemLog("downloadNewVerHexFile");
  // A fetch still running when the user clicked must not replace the release being installed or
  // bring the Ready view back over the update.
  ++latestFetch_;
  downloadBegun_ = true;
  const std::shared_ptr<const RemoteTxtFileViewModel> release = currentRelease_;
  if (!release || !release->aHexUrl()) {
    const std::string reason =
        release ? joined({"The firmware file has no valid address on the update server ",
                          ftpRootUrlStr_})
                : std::string("No firmware release has been read from the update server");
    diag.systemLog(joined({"DEBUG: [Download] ", reason}));
    ports_.answers.showErrorAlertWithMessage(reason);
    return;
  }
  transfers_.start(
      *release->aHexUrl(),
      [this, release, hexFile = ports_.answers.hexFile()](TransferOutcome outcome) {
        std::optional<std::string> writeError, foreignSha256;
        // A firmware its release does not name is never written, so never loaded or sent.
        const auto& bound = release->firmwareSha256();
        if (outcome.ok() && bound) {
          if (std::string sha256 = sha256Hex(outcome.body); sha256 != *bound)
            foreignSha256 = std::move(sha256);
        }
        if (outcome.ok() && !foreignSha256) writeError = writeFileAtomically(hexFile, outcome.body);
        return [this, release, transferError = outcome.error, writeError, foreignSha256] {
          firmwareDownloaded(*release, transferError, writeError, foreignSha256);
        };
      },
      kMaxHexTextBytes,
      [this](TransferProgress progress) {
        ports_.answers.downloadProgress(progress.received, progress.expected);
      });
}

void UpdateServerClient::firmwareDownloaded(const RemoteTxtFileViewModel& release,
                                            const std::optional<std::string>& transferError,
                                            const std::optional<std::string>& writeError,
                                            const std::optional<std::string>& foreignSha256) {
  auto& diag = ports_.diag;
  if (transferError) {
    diag.systemLog("DEBUG: dataTaskA error");
    ports_.answers.showErrorAlertWithMessage(*transferError);
    return;
  }
  if (foreignSha256) {
    diag.systemLog(
        joined({"DEBUG: [Download] the firmware's SHA-256 is ", *foreignSha256,
                ", its release names ", orNull(release.firmwareSha256()), "; not written"}));
    ports_.answers.showErrorAlertWithMessage("The firmware does not match its release.");
    return;
  }
  if (writeError) {
    diag.systemLog(joined({"DEBUG: [Download] ", *writeError}));
    ports_.answers.showErrorAlertWithMessage(*writeError);
    return;
  }
  const uint64_t ftp_checksum_integer = ftpChecksumInteger(release.checkSumStr().value_or(""));
  diag.systemLog(strprintf("DEBUG: [Download] success, ftp_checksum_integer = %ld",
                           static_cast<long>(ftp_checksum_integer)));
  ports_.answers.firmwareStored(ftp_checksum_integer);
}

}  // namespace trident
