#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// Clang's thread-safety analysis (-Wthread-safety, on in the clang build): who may touch a shared
// field is checked by the compiler, not only said in a comment. Other compilers see plain code.
#if defined(__clang__)
#define TRIDENT_TSA(x) __attribute__((x))
#else
#define TRIDENT_TSA(x)
#endif

#define CAPABILITY(x) TRIDENT_TSA(capability(x))
#define SCOPED_CAPABILITY TRIDENT_TSA(scoped_lockable)
#define GUARDED_BY(x) TRIDENT_TSA(guarded_by(x))
#define PT_GUARDED_BY(x) TRIDENT_TSA(pt_guarded_by(x))
#define REQUIRES(...) TRIDENT_TSA(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) TRIDENT_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) TRIDENT_TSA(release_capability(__VA_ARGS__))
#define EXCLUDES(...) TRIDENT_TSA(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) TRIDENT_TSA(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS TRIDENT_TSA(no_thread_safety_analysis)

namespace trident {

// std::mutex as the analysis sees it: libstdc++'s own carries no annotations.
class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { m_.lock(); }
  void unlock() RELEASE() { m_.unlock(); }
  std::mutex& native() { return m_; }

 private:
  std::mutex m_;
};

class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& m) ACQUIRE(m) : m_(m) { m_.lock(); }
  ~MutexLock() RELEASE() { m_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // Waits once on `cv` until notified or `deadline`, with the lock held on either side; the
  // caller checks its guarded condition again, where the analysis sees the lock held.
  template <typename Clock, typename Duration>
  std::cv_status waitOnce(std::condition_variable& cv,
                          std::chrono::time_point<Clock, Duration> deadline) {
    std::unique_lock lock(m_.native(), std::adopt_lock);
    const std::cv_status status = cv.wait_until(lock, deadline);
    lock.release();
    return status;
  }
  // Waits on `cv` with the lock held on either side, as std::condition_variable does.
  template <typename Predicate>
  void wait(std::condition_variable& cv, Predicate ready) {
    std::unique_lock lock(m_.native(), std::adopt_lock);
    cv.wait(lock, ready);
    lock.release();
  }
  template <typename Clock, typename Duration, typename Predicate>
  bool waitUntil(std::condition_variable& cv, std::chrono::time_point<Clock, Duration> deadline,
                 Predicate ready) {
    std::unique_lock lock(m_.native(), std::adopt_lock);
    const bool met = cv.wait_until(lock, deadline, ready);
    lock.release();
    return met;
  }

 private:
  Mutex& m_;
};

// A capability with no lock behind it: the role of one thread. Code that only that thread runs
// REQUIRES it, and the thread asserts it where it starts, so a field it alone owns is GUARDED_BY
// that role and the compiler refuses a touch from anywhere else.
class CAPABILITY("role") ThreadRole {
 public:
  void assumeHeld() const TRIDENT_TSA(assert_capability(this)) {}
};

}  // namespace trident
