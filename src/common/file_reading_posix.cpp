#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

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

namespace {

WholeFile failed(WholeFile::Failure failure, int error = 0) {
  return WholeFile{{}, failure, error != 0 ? std::strerror(error) : ""};
}

}  // namespace

WholeFile readWholeFile(const std::filesystem::path& path, size_t maxBytes,
                        std::chrono::milliseconds silence, const std::function<bool()>& stop) {
  using Clock = std::chrono::steady_clock;
  // Without O_NONBLOCK, opening a FIFO waits for a writer, and no signal ends that wait here.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) return failed(WholeFile::Failure::CannotOpen, errno);
  struct stat about {};
  if (::fstat(fd.get(), &about) != 0) return failed(WholeFile::Failure::Unreadable, errno);
  if (S_ISDIR(about.st_mode)) return failed(WholeFile::Failure::Folder);
  if (S_ISREG(about.st_mode) && static_cast<unsigned long long>(about.st_size) > maxBytes) {
    return failed(WholeFile::Failure::TooLarge);
  }
  WholeFile file;
  std::array<char, 64 * 1024> buffer;
  auto lastByte = Clock::now();
  for (;;) {
    if (stop()) return failed(WholeFile::Failure::Stopped);
    // A FIFO that never had a writer polls as quiet, not as ended; it is read only once poll
    // says so, since a read would take it for the end.
    pollfd ready{fd.get(), POLLIN, 0};
    const int n = ::poll(&ready, 1, 100);
    if (n < 0 && errno != EINTR) return failed(WholeFile::Failure::Unreadable, errno);
    if (n <= 0) {
      if (Clock::now() - lastByte >= silence) return failed(WholeFile::Failure::Silent);
      continue;
    }
    // One byte past the limit is asked for, so that a file of exactly the limit passes.
    const size_t want = std::min(buffer.size(), maxBytes + 1 - file.bytes.size());
    const ssize_t got = ::read(fd.get(), buffer.data(), want);
    if (got == 0) return file;
    if (got < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return failed(WholeFile::Failure::Unreadable, errno);
    }
    if (file.bytes.size() + static_cast<size_t>(got) > maxBytes) {
      return failed(WholeFile::Failure::TooLarge);
    }
    file.bytes.append(buffer.data(), static_cast<size_t>(got));
    lastByte = Clock::now();
  }
}

std::string_view pathText(const std::filesystem::path& path, std::string&) {
  return path.native();
}

}  // namespace trident
