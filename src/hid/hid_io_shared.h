#pragma once

// The HID I/O thread's shared state, for the two files that make it up: the thread's loop and
// hand-overs (hid_io_thread.cpp) and its work on the devices (hid_io_devices.cpp).
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <optional>
#include <utility>

#include "common/thread_annotations.h"
#include "common/wakeup.h"
#include "hid/device_monitor.h"
#include "hid/hid_io_thread.h"

namespace trident::hid_io {

using Clock = std::chrono::steady_clock;

// Without a descriptor to sleep on (hidapi), a taken device is read in short slices.
inline constexpr auto kPolledReadSlice = std::chrono::milliseconds(1);
// After a report has been handed over, the engine's answer to it is usually queued within
// microseconds; until this long has passed the thread waits for it instead of starting a read
// that the frame would have to wait out. A report the engine lets pass (a stale or duplicate
// reply) leaves the real reply waiting this long, so it stays short.
inline constexpr auto kTurnaround = std::chrono::milliseconds(1);
// The engine's answer usually comes within some tens of microseconds of the report it answers:
// waiting for it awake that long saves the thread the wake-up that sleeping costs on every frame.
inline constexpr auto kAwakeForAnswer = std::chrono::microseconds(300);
// A device that takes none of the frames waiting for it for this long, or lets this many pile
// up, is let go as removed: one board that stops reading must not hold up the others' frames,
// nor the program's end.
inline constexpr auto kWriteLimit = std::chrono::seconds(1);
inline constexpr size_t kMostWaitingFrames = 64;

}  // namespace trident::hid_io

namespace trident {

// What the I/O thread and the others share, grouped by owner. The thread holds it too, so that a
// thread left blocked in a platform call past the program's end never touches freed memory (nor
// a library already ended: the backend goes with this); once `closed` is set it posts nothing.
struct HidIoThread::Shared : std::enable_shared_from_this<Shared> {
  Shared(std::unique_ptr<HidBackend> b, Executor& e, Events ev, std::chrono::milliseconds poll)
      : main(e), events(std::move(ev)), pollInterval(poll), backend(std::move(b)) {}

  // ---- fixed before the thread starts
  Executor& main;
  const Events events;
  const std::chrono::milliseconds pollInterval;
  size_t boardLimit = 1;
  const Wakeup wake;

  // ---- any thread
  Mutex mutex;
  std::deque<std::function<void()>> commands GUARDED_BY(mutex);
  bool stopping GUARDED_BY(mutex) = false;
  bool finished GUARDED_BY(mutex) = false;
  std::condition_variable finishedChanged;
  std::atomic<bool> queued{false};  // a command waits: no read may start
  // Posted events run only while this holds: it is cleared when the owner goes.
  std::atomic<bool> delivering{true};
  Mutex postMutex;
  bool closed GUARDED_BY(postMutex) = false;

  // ---- the I/O thread's own
  ThreadRole io;
  // An opened device, when it may next be read in a slice (see kTurnaround), and the frames it
  // could not take yet, in order, with when the first of them was first offered.
  struct Taken {
    HidDeviceRef ref;
    std::unique_ptr<HidConnection> connection;
    hid_io::Clock::time_point quietUntil{};
    std::deque<Frame> waiting;
    hid_io::Clock::time_point waitingSince{};
    bool letGo = false;  // closed once what waits is written
  };
  std::unique_ptr<HidBackend> backend PT_GUARDED_BY(io);
  DeviceMonitor monitor GUARDED_BY(io);
  std::vector<uint64_t> candidates GUARDED_BY(io);
  std::map<uint64_t, Taken> taken GUARDED_BY(io);
  bool delivered GUARDED_BY(io) = false;  // a report has just been handed over

  void deliver(std::function<void(const Events&)> event);
  void enqueue(std::function<void()> command);
  static thread_local const Shared* running;  // on the I/O thread: its own state
  void run();
  void enumerateOnce() REQUIRES(io);
  // Opens the devices asked for (or only `only`), while there is room; each one that fails waits
  // for the next try.
  void tryCandidates(std::optional<uint64_t> only = std::nullopt) REQUIRES(io);
  void writeFrame(uint64_t handle, const Frame& frame) REQUIRES(io);
  void flush(uint64_t handle) REQUIRES(io);
  bool flushAll() REQUIRES(io);
  bool readTaken(Taken& device, std::chrono::milliseconds timeout) REQUIRES(io);
  void readDevices(hid_io::Clock::time_point nextEnumeration) REQUIRES(io);
  void releaseTaken(uint64_t handle) REQUIRES(io);
  void dropTaken(uint64_t handle) REQUIRES(io);
};

// Hands an event to the executor, where it runs only while the owner is alive. The executor may
// run it at once on this thread, and the answer then queues a command: that takes `mutex`, so

}  // namespace trident
