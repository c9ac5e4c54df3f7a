#include <io.h>

#include "common/unique_fd.h"

namespace trident {

void UniqueFd::reset(int fd) {
  const int old = std::exchange(fd_, fd);
  if (old >= 0) ::_close(old);
}

}  // namespace trident
