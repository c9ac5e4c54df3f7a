#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "common/wakeup.h"

namespace trident {

Wakeup::Wakeup() {
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return;
  read_.reset(fds[0]);
  write_.reset(fds[1]);
}

void Wakeup::signal() const {
  const char byte = 1;
  // A full pipe already holds a signal.
  [[maybe_unused]] const ssize_t ignored = ::write(write_.get(), &byte, 1);
}

bool Wakeup::wait(const std::vector<int>& fds, std::chrono::milliseconds timeout,
                  std::vector<bool>& ready) const {
  std::vector<pollfd> polled{{read_.get(), POLLIN, 0}};
  for (const int fd : fds)
    polled.push_back({fd, POLLIN, 0});
  const int ms = static_cast<int>(std::clamp<long long>(timeout.count(), 0, 60'000));
  const int got = ::poll(polled.data(), polled.size(), ms);
  ready.assign(fds.size(), false);
  if (got <= 0) return false;
  for (size_t i = 0; i < fds.size(); ++i)
    ready[i] = (polled[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  if ((polled[0].revents & POLLIN) == 0) return false;
  char bytes[256];
  while (::read(read_.get(), bytes, sizeof bytes) > 0) {
  }
  return true;
}

}  // namespace trident
