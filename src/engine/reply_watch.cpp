#include "engine/reply_watch.h"

namespace trident {

bool ReplyWatch::waitsForBoard(uint32_t status) const {
  if (status == STATUS_WAIT_GET_DUNNO_DEVICE_FWVER) return owed_ == Owed::FromTake;
  return status == STATUS_PRE_UPDATE || status == STATUS_PEND_UPDATE ||
         status == STATUS_WAIT_CHECKSUM;
}

bool ReplyWatch::silentTooLong(const EngineState& state, Clock::time_point now) {
  if (!waitsForBoard(state.iStatus)) {
    position_.reset();
    return false;
  }
  const std::pair position{state.iStatus, state.packNo};
  if (position != position_) {
    position_ = position;
    since_ = now;
    return false;
  }
  return now - since_ > timeout_;
}

}  // namespace trident
