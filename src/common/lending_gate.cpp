#include "common/lending_gate.h"

namespace trident {

void LendingGate::post(std::function<void()> work) {
  if (handedOver_.load() == 0 && tryLock()) {
    if (!heldBack_ && !closed_) {
      work();
      unlock();
      return;
    }
    unlock();
  }
  ++handedOver_;
  next_.post([this, work = std::move(work)] {
    Hold hold(*this);
    --handedOver_;
    work();
  });
}

void LendingGate::UnderHold::post(std::function<void()> work) {
  next_.post([gate = &gate_, work = std::move(work)] {
    Hold hold(*gate);
    work();
  });
}

void LendingGate::close() {
  Hold hold(*this);
  closed_ = true;
}

}  // namespace trident
