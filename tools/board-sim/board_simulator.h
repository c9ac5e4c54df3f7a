#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/frame.h"

namespace trident {

// Faults the virtual board can be told to make. Frames are counted from 1 in the order they
// arrive, the sync sent when the board is taken included.
struct BoardFaults {
  bool wrongChecksum = false;           // report the true checksum plus one
  std::optional<uint32_t> silentAfter;  // answer frames up to this one, then nothing more
  std::optional<uint32_t> unplugAfter;  // answer frames up to this one, then disconnect
  bool staleReplies = false;            // before each reply, one carrying an old packet number
  bool duplicateReplies = false;        // every reply twice
  // Answer frames up to this one, then stop taking frames while still sending, every 2 ms, the
  // reply the host waits for next: a board whose host can no longer write to it.
  std::optional<uint32_t> stallAfter;
};

// The bootloader as the updater sees it: each frame numbered N is answered with N + 1 in bytes
// 4-5; the image announced by the first transfer frame is kept as it is programmed, and the reply
// to the last data frame carries the 16-bit sum of the programmed bytes, low byte in byte 8 and
// high byte in byte 9. After the final command the board starts its new firmware, which ends the
// connection.
class BoardSimulator {
 public:
  struct Response {
    std::vector<Frame> replies;
    bool disconnect = false;
    bool stall = false;  // take no more frames (see BoardFaults::stallAfter)
  };

  explicit BoardSimulator(BoardFaults faults = {});

  // One output report: 64 bytes, or 65 with the leading report ID 0.
  Response receive(const uint8_t* report, size_t length);

  // The replies to the last frame have left the board: the host's turn starts.
  void repliesSent();
  // What the host took between a reply leaving the board and its next frame arriving: its own
  // overhead per frame, whatever the transport and the board's own reply delay. The wait after
  // the first reply is left out: that is the host getting ready (a click on "Update", the
  // download, reading the file), not answering a frame.
  struct Turnaround {
    uint32_t frames = 0;
    std::chrono::nanoseconds total{0};
    std::chrono::nanoseconds longest{0};
  };
  const Turnaround& turnaround() const { return turnaround_; }

  const std::vector<uint8_t>& programmed() const { return programmed_; }
  uint32_t announcedLength() const { return announced_; }
  uint32_t framesReceived() const { return framesReceived_; }
  uint16_t checksum() const;                   // 16-bit sum of the programmed bytes
  bool finished() const { return finished_; }  // the final command arrived
  bool connected() const { return connected_; }

 private:
  BoardFaults faults_;
  std::vector<uint8_t> programmed_;
  uint32_t announced_ = 0;
  bool transferOpen_ = false;
  bool finished_ = false;
  bool connected_ = true;
  uint32_t framesReceived_ = 0;
  std::optional<std::chrono::steady_clock::time_point> repliesSent_;
  bool firstReplyAnswered_ = false;
  Turnaround turnaround_;
};

}  // namespace trident
