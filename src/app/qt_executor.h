#pragma once

#include <QObject>

#include <deque>
#include <functional>

#include "common/executor.h"
#include "common/thread_annotations.h"

namespace trident {

// Hands work from worker threads to the GUI thread's event loop. Work still queued when the
// executor goes away is dropped with it, so nothing runs against objects already destroyed.
//
// The work waits in a queue of ours, under our own lock, and Qt only carries a call of runNext()
// for each post. Qt's event queue hands data between threads under locks and reference counts of
// its own, which ThreadSanitizer cannot see (Debian's Qt is not built for it): a closure carried
// by Qt looked like a race between its poster and the GUI thread. Ours it sees, and so does the
// thread-safety analysis. One call per post, each taking the oldest work, keeps the order Qt kept,
// among our work and beside the window's own events alike.
class QtExecutor final : public QObject, public Executor {
  Q_OBJECT

 public:
  void post(std::function<void()> work) override {
    {
      MutexLock lock(mutex_);
      queue_.push_back(std::move(work));
    }
    QMetaObject::invokeMethod(this, "runNext", Qt::QueuedConnection);
  }

 private:
  Q_INVOKABLE void runNext() {
    std::function<void()> work;
    {
      MutexLock lock(mutex_);
      if (queue_.empty()) return;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
  }

  Mutex mutex_;
  std::deque<std::function<void()>> queue_ GUARDED_BY(mutex_);
};

}  // namespace trident
