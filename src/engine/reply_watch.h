#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>

#include "engine/update_engine.h"

namespace trident {

// How long a board may leave a frame unanswered before the update gives up on it. The window and
// trident-flash both take it from here, so the two never disagree about a slow board.
inline constexpr std::chrono::milliseconds kReplyTimeout{5000};

// Tells when the board has owed an answer for longer than the time-out. It is fed the engine's
// state and the time, at whatever pace the caller ticks, and keeps only when the update last moved:
// an answer moves the engine on (its status or its packet number), a reply that answers nothing
// (stale, or too short to carry a packet number or a checksum) does not.
class ReplyWatch {
 public:
  using Clock = std::chrono::steady_clock;
  // Which silences count: only those while frames are being programmed (the window, which waits
  // at its prompt for as long as the user likes), or from the sync sent when the board is taken.
  enum class Owed { WhileProgramming, FromTake };

  explicit ReplyWatch(std::chrono::milliseconds timeout = kReplyTimeout,
                      Owed owed = Owed::WhileProgramming)
      : timeout_(timeout), owed_(owed) {}

  // True once the board has been silent past the time-out in a state that waits for it.
  bool silentTooLong(const EngineState& state, Clock::time_point now);

 private:
  bool waitsForBoard(uint32_t status) const;

  std::chrono::milliseconds timeout_;
  Owed owed_;
  std::optional<std::pair<uint32_t, uint32_t>> position_;  // iStatus and packNo when last moved
  Clock::time_point since_{};
};

}  // namespace trident
