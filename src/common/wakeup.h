#pragma once

#include <chrono>
#include <vector>

#include "common/unique_fd.h"

namespace trident {

// Lets any thread wake one that sleeps on descriptors (the HID I/O thread), which has nothing else
// a frame queued for it could end its sleep with.
class Wakeup {
 public:
  Wakeup();
  // Whether it could be made; without it, wait() only sleeps out its time.
  explicit operator bool() const { return static_cast<bool>(read_); }

  // Any thread.
  void signal() const;
  // Sleeps until signalled, one of `fds` is readable or hung up, or `timeout` passes; `ready` gets
  // one flag per descriptor. Returns whether it was signalled; a signal is used up by it.
  bool wait(const std::vector<int>& fds, std::chrono::milliseconds timeout,
            std::vector<bool>& ready) const;

 private:
  UniqueFd read_;
  UniqueFd write_;
};

}  // namespace trident
