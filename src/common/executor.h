#pragma once

#include <functional>

namespace trident {

// Where work that finished on a worker thread is handed back to the thread that owns the engine.
// The application posts to the Qt main thread; tests run the posted work themselves.
class Executor {
 public:
  virtual ~Executor() = default;
  virtual void post(std::function<void()> work) = 0;
};

}  // namespace trident
