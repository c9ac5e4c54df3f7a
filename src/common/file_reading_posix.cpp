#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/file_reading.h"

namespace trident {

FileReader::FileReader(const std::filesystem::path& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

long long FileReader::size() const {
  const off_t end = ::lseek(fd_.get(), 0, SEEK_END);
  ::lseek(fd_.get(), 0, SEEK_SET);
  return end;
}

size_t FileReader::read(char* into, size_t count) {
  for (;;) {
    const ssize_t got = ::read(fd_.get(), into, count);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) return 0;
  }
}

std::string_view pathText(const std::filesystem::path& path, std::string&) {
  return path.native();
}

}  // namespace trident
