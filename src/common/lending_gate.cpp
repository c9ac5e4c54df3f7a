#include "common/lending_gate.h"

namespace trident {

void LendingGate::lock() {
  acquire(std::nullopt);
}

bool LendingGate::tryLock() {
  return acquire(std::chrono::steady_clock::now() + kOwnerWait);
}

bool LendingGate::acquire(std::optional<std::chrono::steady_clock::time_point> deadline) {
  const auto self = std::this_thread::get_id();
  MutexLock lock(ownerMutex_);
  if (depth_ > 0 && holder_ == self) {
    ++depth_;
    return true;
  }
  const auto free = [this]() REQUIRES(ownerMutex_) { return depth_ == 0; };
  if (!deadline)
    lock.wait(freed_, free);
  else if (!lock.waitUntil(freed_, *deadline, free))
    return false;
  holder_ = self;
  depth_ = 1;
  return true;
}

void LendingGate::unlock() {
  bool freed;
  {
    MutexLock lock(ownerMutex_);
    freed = --depth_ == 0;
  }
  if (freed) freed_.notify_all();
}

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
