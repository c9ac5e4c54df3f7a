#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>

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

// Plain blocking reads: the console and named pipes have no poll() to wait on here, so `silence`
// is not watched; `stop` is looked at between reads.
WholeFile readWholeFile(const std::filesystem::path& path, size_t maxBytes,
                        std::chrono::milliseconds, const std::function<bool()>& stop) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    return WholeFile{{}, WholeFile::Failure::Folder, {}};
  }
  UniqueFd fd(::_wopen(path.c_str(), _O_RDONLY | _O_BINARY));
  if (!fd) return WholeFile{{}, WholeFile::Failure::CannotOpen, std::strerror(errno)};
  WholeFile file;
  std::array<char, 64 * 1024> buffer;
  for (;;) {
    if (stop()) return WholeFile{{}, WholeFile::Failure::Stopped, {}};
    const int got = ::_read(fd.get(), buffer.data(), static_cast<unsigned>(buffer.size()));
    if (got == 0) return file;
    if (got < 0) {
      if (errno == EINTR) continue;
      return WholeFile{{}, WholeFile::Failure::Unreadable, std::strerror(errno)};
    }
    if (file.bytes.size() + static_cast<size_t>(got) > maxBytes) {
      return WholeFile{{}, WholeFile::Failure::TooLarge, {}};
    }
    file.bytes.append(buffer.data(), static_cast<size_t>(got));
  }
}

// Paths are wide here: the log gets them converted.
std::string_view pathText(const std::filesystem::path& path, std::string& storage) {
  storage = path.string();
  return storage;
}

}  // namespace trident
