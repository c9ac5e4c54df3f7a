#include "cli/firmware_source.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>

#include "common/diagnostics.h"
#include "common/file_reading.h"
#include "engine/hex_loader.h"
#include "update/release_signature.h"

namespace trident {

FirmwareSource::FirmwareSource(Executor& loop, Lookup boards, std::filesystem::path hexFile,
                               int64_t variant)
    : loop_(loop), boards_(std::move(boards)), hexFile_(std::move(hexFile)), variant_(variant) {}

void FirmwareSource::ask(size_t board, bool answered, Question& question,
                         const std::function<void(FirmwareWaiter&)>& give,
                         const std::function<void()>& start) {
  if (answered) {
    // Posted, as the server's own answer would be: the board is in the middle of asking.
    loop_.post([this, board, give] {
      if (FirmwareWaiter* waiter = boards_(board)) give(*waiter);
    });
    return;
  }
  question.waiting.push_back(board);
  if (!std::exchange(question.asked, true)) start();
}

void FirmwareSource::answer(Question& question, const std::function<void(FirmwareWaiter&)>& give) {
  question.asked = false;
  for (const size_t board : std::exchange(question.waiting, {})) {
    if (FirmwareWaiter* waiter = boards_(board)) give(*waiter);
  }
}

void FirmwareSource::askRelease(size_t board) {
  ask(
      board, version_.has_value(), release_,
      [version = version_.value_or("")](FirmwareWaiter& w) { w.releaseAccepted(version); },
      [this] { upstream_->fetchVariant(variant_); });
}

void FirmwareSource::askFirmware(size_t board) {
  ask(
      board, checksum_.has_value(), firmware_,
      [checksum = checksum_.value_or(0), fetched = fetched_](FirmwareWaiter& w) {
        w.firmwareFetched(fetched);
        w.firmwareStored(checksum);
      },
      [this] { upstream_->downloadNewVerHexFile(); });
}

void FirmwareSource::firmwareFetched(const FetchedFirmware& firmware) {
  fetched_ = firmware;
  for (const size_t board : firmware_.waiting) {
    if (FirmwareWaiter* waiter = boards_(board)) waiter->firmwareFetched(firmware);
  }
}

void FirmwareSource::Notices::showFetching() {
  for (const size_t board : source.release_.waiting) {
    if (FirmwareWaiter* waiter = source.boards_(board)) waiter->fetching();
  }
}

void FirmwareSource::downloadProgress(uint64_t received, uint64_t expected) {
  for (const size_t board : firmware_.waiting) {
    if (FirmwareWaiter* waiter = boards_(board)) waiter->downloadProgress(received, expected);
  }
}

void FirmwareSource::releaseAccepted(std::string_view versionStr) {
  version_ = std::string(versionStr);
  answer(release_, [&](FirmwareWaiter& w) { w.releaseAccepted(versionStr); });
}

void FirmwareSource::showErrorAlertWithMessage(std::string_view message) {
  // The client answers one thing at a time: the download once it has been asked for, else the
  // fetch.
  answer(firmware_.asked ? firmware_ : release_,
         [&](FirmwareWaiter& w) { w.serverError(message); });
}

void FirmwareSource::firmwareStored(uint64_t expectedChecksum) {
  checksum_ = expectedChecksum;
  answer(firmware_, [&](FirmwareWaiter& w) { w.firmwareStored(expectedChecksum); });
}

void LocalFirmware::fetchVariant(int64_t) {
  loop_.post(
      [this] { answers_.releaseAccepted(std::filesystem::path(file_).filename().string()); });
}

void LocalFirmware::downloadNewVerHexFile() {
  loop_.post([this] {
    const WholeFile copy = readWholeFile(answers_.hexFile(), kMaxHexTextBytes,
                                         std::chrono::seconds(1), [] { return false; });
    if (!copy.failure) answers_.firmwareFetched({copy.bytes.size(), sha256Hex(copy.bytes), file_});
    answers_.firmwareStored(checksum_);
  });
}

std::optional<LocalCopyFailure> copyLocalFirmware(const std::string& file,
                                                  const std::filesystem::path& copy,
                                                  const std::atomic<bool>& stop,
                                                  std::chrono::milliseconds silence) {
  const auto fail = [](const std::string& why, FlashOutcome outcome = FlashOutcome::FileError) {
    return LocalCopyFailure{outcome, "trident-flash: " + why};
  };
  const WholeFile read =
      readWholeFile(file, kMaxHexTextBytes, silence, [&stop] { return stop.load(); });
  if (read.failure) {
    switch (*read.failure) {
      case WholeFile::Failure::CannotOpen:
      case WholeFile::Failure::Unreadable:
        return fail("cannot read " + file + ": " + read.reason);
      case WholeFile::Failure::Folder:
        return fail(file + " is a folder, not a firmware file");
      case WholeFile::Failure::TooLarge:
        return fail(
            strprintf("%s is larger than a HEX file of the largest image can be (%zu bytes)",
                      file.c_str(), kMaxHexTextBytes));
      case WholeFile::Failure::Silent:
        return fail(strprintf(
            "nothing arrived from %s for %lld s", file.c_str(),
            static_cast<long long>(std::chrono::ceil<std::chrono::seconds>(silence).count())));
      case WholeFile::Failure::Stopped:
        return fail("interrupted", FlashOutcome::Interrupted);
    }
  }
  std::ofstream out(copy, std::ios::binary | std::ios::trunc);
  out.write(read.bytes.data(), static_cast<std::streamsize>(read.bytes.size()));
  out.close();
  if (!out) return fail("cannot write " + copy.string() + ": " + std::strerror(errno));
  // Judged from the bytes already in hand, by the loader's own rules.
  HexImage image;
  int32_t lines = 0;
  NullDiagnostics quiet;
  decodeHexText(read.bytes, image, lines, quiet);
  if (const auto refusal = imageRefusal(image)) return fail(refusal->alert);
  return std::nullopt;
}

}  // namespace trident
