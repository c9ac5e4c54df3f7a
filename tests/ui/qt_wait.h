#pragma once

#include <QCoreApplication>

#include <chrono>
#include <functional>

#include "support/process.h"

namespace trident::testing {

// Turns the Qt event loop until `done` holds; false if the limit passed first.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  return waitFor(
      [&] {
        QCoreApplication::processEvents();
        return done();
      },
      limit);
}

}  // namespace trident::testing
