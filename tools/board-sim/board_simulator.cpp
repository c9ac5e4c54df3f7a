#include "board_simulator.h"

#include <algorithm>
#include <numeric>

namespace trident {

BoardSimulator::BoardSimulator(BoardFaults faults) : faults_(faults) {}

uint16_t BoardSimulator::checksum() const {
  return static_cast<uint16_t>(std::accumulate(programmed_.begin(), programmed_.end(), 0u));
}

void BoardSimulator::repliesSent() {
  repliesSent_ = std::chrono::steady_clock::now();
}

BoardSimulator::Response BoardSimulator::receive(const uint8_t* report, size_t length) {
  if (repliesSent_ && !firstReplyAnswered_) {
    firstReplyAnswered_ = true;
    repliesSent_.reset();
  } else if (repliesSent_) {
    const auto took = std::chrono::steady_clock::now() - *repliesSent_;
    ++turnaround_.frames;
    turnaround_.total += took;
    turnaround_.longest = std::max<std::chrono::nanoseconds>(turnaround_.longest, took);
    repliesSent_.reset();
  }
  Response response;
  if (!connected_) return response;
  if (length == kReportSize + 1) {
    ++report;  // report ID
    --length;
  }
  Frame frame{};
  std::copy_n(report, std::min(length, kReportSize), frame.begin());
  ++framesReceived_;

  const uint8_t command = frame[0];
  const uint16_t number = replyPacketNumber(frame);
  Frame reply{};
  reply[0] = command;
  reply[4] = static_cast<uint8_t>(number + 1);
  reply[5] = static_cast<uint8_t>((number + 1) >> 8);

  if (command == static_cast<uint8_t>(Command::Final)) {
    finished_ = true;
    connected_ = false;
    response.disconnect = true;
    return response;
  }
  if (command == static_cast<uint8_t>(Command::FirstTransfer)) {
    announced_ = getU32LE(frame, kImageLengthAt);
    const auto first = frame.begin() + kFirstPayloadAt;
    programmed_.assign(first, first + std::min(kFirstPayloadBytes, announced_));
    transferOpen_ = true;
  } else if (command == static_cast<uint8_t>(Command::Data) && transferOpen_) {
    const uint32_t remaining = announced_ - static_cast<uint32_t>(programmed_.size());
    const auto data = frame.begin() + kDataPayloadAt;
    programmed_.insert(programmed_.end(), data, data + std::min(kDataPayloadBytes, remaining));
    if (remaining < kDataPayloadBytes) {
      transferOpen_ = false;
      const uint16_t sum = static_cast<uint16_t>(checksum() + (faults_.wrongChecksum ? 1 : 0));
      reply[kChecksumReplyAt] = static_cast<uint8_t>(sum);
      reply[kChecksumReplyAt + 1] = static_cast<uint8_t>(sum >> 8);
    }
  }

  if (faults_.silentAfter && framesReceived_ > *faults_.silentAfter) return response;
  if (faults_.staleReplies) {
    Frame stale = reply;
    stale[4] = static_cast<uint8_t>(number - 1);
    stale[5] = static_cast<uint8_t>((number - 1) >> 8);
    response.replies.push_back(stale);
  }
  response.replies.push_back(reply);
  if (faults_.duplicateReplies) response.replies.push_back(reply);
  response.stall = faults_.stallAfter && framesReceived_ >= *faults_.stallAfter;
  if (faults_.unplugAfter && framesReceived_ >= *faults_.unplugAfter) {
    connected_ = false;
    response.disconnect = true;
  }
  return response;
}

}  // namespace trident
