#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "common/file_reading.h"

namespace trident {

FileReader::FileReader(const std::filesystem::path& path)
    : fd_(::_wopen(path.c_str(), _O_RDONLY | _O_BINARY)) {}

long long FileReader::size() const {
  const long long end = ::_lseeki64(fd_.get(), 0, SEEK_END);
  ::_lseeki64(fd_.get(), 0, SEEK_SET);
  return end;
}

size_t FileReader::read(char* into, size_t count) {
  for (;;) {
    const int got =
        ::_read(fd_.get(), into, static_cast<unsigned>(std::min<size_t>(count, INT_MAX)));
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) return 0;
  }
}

// Paths are wide here: the log gets them converted.
std::string_view pathText(const std::filesystem::path& path, std::string& storage) {
  storage = path.string();
  return storage;
}

}  // namespace trident
