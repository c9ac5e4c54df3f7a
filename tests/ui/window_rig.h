#pragma once

#include <chrono>
#include <functional>

namespace trident::testing {

// Turns the Qt event loop until `done` holds; false if the limit passed first. The window tests'
// main() (ui_test_main.cpp) brings it.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(5));

}  // namespace trident::testing
