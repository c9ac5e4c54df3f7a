#include "cli/flash_outcome.h"

#include <algorithm>
#include <utility>

#include "common/diagnostics.h"

namespace trident {

std::string verdictText(const std::optional<FlashOutcome>& outcome) {
  return outcome == FlashOutcome::Updated ? "Firmware successfully updated."
                                          : "The Setup didn't finish and will restart.";
}

std::string resultText(const std::optional<FlashOutcome>& outcome) {
  if (!outcome) return "unfinished";
  switch (*outcome) {
    case FlashOutcome::Updated:
      return "updated";
    case FlashOutcome::ChecksumDiffers:
      return "checksum differs";
    case FlashOutcome::FileError:
      return "server or file error";
    case FlashOutcome::Removed:
      return "removed";
    case FlashOutcome::TimedOut:
      return "timed out";
    case FlashOutcome::Interrupted:
      return "interrupted";
  }
  return "unfinished";
}

std::string resultKey(const BoardRecord& record) {
  switch (record.outcome.value_or(FlashOutcome::Interrupted)) {
    case FlashOutcome::Updated:
      return "updated";
    case FlashOutcome::ChecksumDiffers:
      return "checksum-differs";
    case FlashOutcome::FileError:
      return record.serverError ? "server-error" : "file-error";
    case FlashOutcome::Removed:
      return "removed";
    case FlashOutcome::TimedOut:
      return "timed-out";
    case FlashOutcome::Interrupted:
      break;
  }
  return "interrupted";
}

std::string checksumText(uint64_t checksum) {
  return strprintf("0x%02X%02X", static_cast<unsigned>(checksum & 0xFF),
                   static_cast<unsigned>((checksum >> 8) & 0xFF));
}

std::string clockText(double seconds) {
  const auto s = static_cast<long>(std::max(seconds, 0.0) + 0.5);
  return strprintf("%ld:%02ld", s / 60, s % 60);
}

std::string progressBar(double share, const std::string& figures) {
  constexpr int kWidth = 30;
  const int filled = std::clamp(static_cast<int>(share * kWidth), 0, kWidth);
  // Appended in place: GCC 12 at -O3 warns wrongly of overlap in chains of temporary strings.
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  bar += "] ";
  bar += figures;
  return bar;
}

bool PlainProgress::due(double share) {
  if (share < 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::seconds(1)) return false;
    last_ = now;
    return true;
  }
  const int step = static_cast<int>(share * 10);
  return std::exchange(step_, step) != step;
}

}  // namespace trident
