#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <optional>
#include <thread>

#include "common/executor.h"
#include "common/thread_annotations.h"

namespace trident {

// Objects one thread owns (the window's engine, HID link and board, owned by the GUI thread),
// lent to one other thread (the HID I/O thread) for its work on them. Handing each reply of the
// board to the owner, and the next frame back, costs two thread wake-ups per frame: on a board
// that answers within a millisecond that was a third of the wire's time. So the poster runs its
// work itself, in the owner's place, whenever the owner is not inside the objects, nothing the
// poster handed over earlier still waits, and the owner has not asked to hold the poster's work
// back; otherwise the work goes to `next`, the owner's way, as before.
//
// The owner marks every stretch of its code that touches the objects with a Hold. A Hold may be
// taken again inside one on the owner's thread (a modal alert's nested event loop).
class CAPABILITY("lending gate") LendingGate final : public Executor {
 public:
  explicit LendingGate(Executor& next) : next_(next) {}
  LendingGate(const LendingGate&) = delete;
  LendingGate& operator=(const LendingGate&) = delete;

  class SCOPED_CAPABILITY Hold {
   public:
    explicit Hold(LendingGate& gate) ACQUIRE(gate) : gate_(gate) { gate_.lock(); }
    ~Hold() RELEASE() { gate_.unlock(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    LendingGate& gate_;
  };

  // The poster's side: `work` runs now, on the calling thread, or later through `next` under a
  // Hold. Only one thread posts.
  void post(std::function<void()> work) override;

  // Posts to `next` work that runs there under a Hold of `gate`: the owner's other sources of work
  // on the objects (a transfer's answer, a view waiting for the GUI thread) use one.
  class UnderHold final : public Executor {
   public:
    UnderHold(LendingGate& gate, Executor& next) : gate_(gate), next_(next) {}
    void post(std::function<void()> work) override;

   private:
    LendingGate& gate_;
    Executor& next_;
  };

  // While held back, the poster's work goes the owner's way (an alert is queued for the owner,
  // and what the board says next must wait behind it, as it would behind the alert).
  void holdBack(bool held) REQUIRES(this) { heldBack_ = held; }

  // Lends nothing any more and returns once work running in the owner's place has ended: what
  // the poster hands over from now on goes the owner's way. The owner calls it before the
  // objects go.
  void close() EXCLUDES(this);

  void lock() ACQUIRE();
  void unlock() RELEASE();

 private:
  // The owner's stretches inside the objects are short (a tick, a click, an answer), and work
  // handed over waits for everything else the owner has to do (a repaint): a short wait for the
  // owner to come out costs less. A modal alert keeps it inside for good, hence the limit.
  static constexpr std::chrono::milliseconds kOwnerWait{2};
  bool tryLock() TRIDENT_TSA(try_acquire_capability(true));
  // Takes the gate, again if this thread holds it; waits for it until `deadline` (none: for good).
  bool acquire(std::optional<std::chrono::steady_clock::time_point> deadline);

  Executor& next_;
  // The gate's own lock: a thread and how often it has taken it. (Built on a mutex and a
  // condition, which ThreadSanitizer follows; it does not see a timed recursive mutex taken.)
  Mutex ownerMutex_;
  std::condition_variable freed_;
  std::thread::id holder_ GUARDED_BY(ownerMutex_);
  int depth_ GUARDED_BY(ownerMutex_) = 0;
  // Work handed to `next` and not yet run: later work must not overtake it. Only the poster adds.
  std::atomic<size_t> handedOver_{0};
  bool heldBack_ GUARDED_BY(this) = false;
  bool closed_ GUARDED_BY(this) = false;
};

}  // namespace trident
