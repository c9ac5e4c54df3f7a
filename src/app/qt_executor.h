#pragma once

#include <QObject>

#include "common/executor.h"

namespace trident {

// Hands work from worker threads to the GUI thread's event loop. Work still queued when the
// executor goes away is dropped with it, so nothing runs against objects already destroyed.
class QtExecutor final : public Executor {
 public:
  void post(std::function<void()> work) override {
    QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
  }

 private:
  QObject context_;
};

}  // namespace trident
