#include <sys/ioctl.h>

#include "common/terminal.h"

namespace trident {

size_t terminalColumns(std::FILE* stream) {
  winsize size{};
  return ::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col : 80;
}

}  // namespace trident
