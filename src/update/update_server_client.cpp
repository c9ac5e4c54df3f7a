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

constexpr const char* kUnsignedReleaseAlert = "The release is not signed by its publisher.";
constexpr const char* kForeignFirmwareAlert = "The firmware does not match its release.";
// minisign keeps each comment under 1 KiB; four lines of it are far below this.
constexpr size_t kMaxSignatureFileBytes = 8 * 1024;

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
                                       TransferTimeouts timeouts,
                                       std::optional<ReleaseKey> releaseKey)
    : ports_(ports),
      ftpRootUrlStr_(ftpRootUrlStr),
      releaseKey_(releaseKey),
      transfers_(ports.executor, timeouts) {
  while (!ftpRootUrlStr_.empty() && ftpRootUrlStr_.back() == '/')
    ftpRootUrlStr_.pop_back();
  if (!releaseKey_) {
    ports_.diag.systemLog(
        "DEBUG: [Download] no release key is built in: release signatures are not checked");
  }
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
  pending_ = ReleaseFetch{fetch, url, ftpTxtUrlStr.substr(ftpTxtUrlStr.rfind('/') + 1),
                          std::nullopt, std::nullopt};
  // A byte past the largest release description is enough to refuse it.
  transfers_.start(
      url,
      [this, fetch, url](TransferOutcome outcome) {
        return [this, fetch, url, outcome = std::move(outcome)]() mutable {
          releaseDescriptionArrived(fetch, url, std::move(outcome));
        };
      },
      kMaxReleaseDescriptionBytes);
  // The signature comes alongside, not after, so checking costs no round trip.
  if (releaseKey_) {
    transfers_.start(
        url + ".minisig",
        [this, fetch](TransferOutcome outcome) {
          return [this, fetch, outcome = std::move(outcome)]() mutable {
            signatureArrived(fetch, std::move(outcome));
          };
        },
        kMaxSignatureFileBytes);
  }
}

void UpdateServerClient::releaseDescriptionArrived(uint64_t fetch, const std::string& url,
                                                   TransferOutcome outcome) {
  auto& diag = ports_.diag;
  if (fetch != latestFetch_ || !pending_ || pending_->fetch != fetch) {
    diag.systemLog(joined({"DEBUG: [Download] a newer request has superseded the fetch of ", url,
                           "; its answer is dropped"}));
    return;
  }
  if (!outcome.ok() && !outcome.tooLarge) {
    pending_.reset();  // its signature no longer matters
    diag.systemLog("DEBUG: [Download] dataTask error");
    ports_.answers.showErrorAlertWithMessage(*outcome.error);
    return;
  }
  pending_->text = std::move(outcome);
  if (!releaseKey_) {
    const ReleaseFetch done = std::move(*pending_);
    pending_.reset();
    readReleaseDescription(done.url, *done.text);
    return;
  }
  checkSignature();
}

void UpdateServerClient::signatureArrived(uint64_t fetch, TransferOutcome outcome) {
  // A superseded fetch says so once, when its release description comes.
  if (!pending_ || pending_->fetch != fetch || fetch != latestFetch_) return;
  pending_->signature = std::move(outcome);
  checkSignature();
}

void UpdateServerClient::checkSignature() {
  if (!pending_->text || !pending_->signature) return;
  const ReleaseFetch done = std::move(*pending_);
  pending_.reset();
  const TransferOutcome &text = *done.text, &signature = *done.signature;
  auto& diag = ports_.diag;
  // One past the limit is refused for its size, whoever signed it.
  if (text.tooLarge) {
    readReleaseDescription(done.url, text);
    return;
  }
  SignatureCheck check;
  if (!signature.ok()) {
    check.refusal = signature.tooLarge ? strprintf("its signature file holds more than %zu bytes",
                                                   kMaxSignatureFileBytes)
                                       : joined({"no signature file (", *signature.error, ")"});
  } else {
    check = checkReleaseSignature(*releaseKey_, signature.body, text.body, done.fileName);
  }
  if (check.refusal) {
    diag.systemLog(
        joined({"DEBUG: [Download] the release at ", done.url, " is refused: ", *check.refusal}));
    ports_.answers.showErrorAlertWithMessage(kUnsignedReleaseAlert);
    return;
  }
  diag.systemLog(joined({"DEBUG: [Download] the release is signed by key ",
                         keyIdText(releaseKey_->id), ", trusted comment: ", check.trustedComment}));
  readReleaseDescription(done.url, text);
}

void UpdateServerClient::readReleaseDescription(const std::string& url,
                                                const TransferOutcome& outcome) {
  auto& diag = ports_.diag;
  ReleaseReading reading =
      readReleaseText(outcome.body, url, ftpRootUrlStr_, outcome.announcedSize);
  for (const auto& line : reading.log)
    diag.systemLog(line);
  if (reading.release) currentRelease_ = std::move(reading.release);
  if (reading.refusal) {
    ports_.answers.showErrorAlertWithMessage(*reading.refusal);
    return;
  }
  // A signature vouches for the firmware only through the hash its release line names.
  if (releaseKey_ && !currentRelease_->firmwareSha256()) {
    diag.systemLog(joined({"DEBUG: [Download] the release at ", url,
                           " is refused: its release line names no sha256: field"}));
    ports_.answers.showErrorAlertWithMessage(kUnsignedReleaseAlert);
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
        // Hashed here, off the engine's thread: the record of the update names it too.
        const std::string sha256 = outcome.ok() ? sha256Hex(outcome.body) : std::string();
        // A firmware its release does not name is never written, so never loaded or sent.
        const auto& bound = release->firmwareSha256();
        if (outcome.ok() && bound && sha256 != *bound) foreignSha256 = sha256;
        if (outcome.ok() && !foreignSha256) writeError = writeFileAtomically(hexFile, outcome.body);
        return [this, release, transferError = outcome.error, writeError, foreignSha256, sha256,
                bytes = outcome.body.size()] {
          if (!transferError && !writeError && !foreignSha256) {
            ports_.answers.firmwareFetched({bytes, sha256, *release->aHexUrl()});
          }
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
    ports_.answers.showErrorAlertWithMessage(kForeignFirmwareAlert);
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
