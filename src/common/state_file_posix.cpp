#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/state_file.h"
#include "common/unique_fd.h"

namespace trident {

std::filesystem::path userStateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return state;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return std::filesystem::path(home) / ".local" / "state";
}

std::optional<std::string> appendLine(const std::filesystem::path& file, std::string_view line) {
  std::filesystem::path folder;
  for (const auto& part : file.parent_path()) {
    folder /= part;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      return "cannot make " + folder.string() + ": " + std::strerror(errno);
    }
  }
  // O_NONBLOCK: a FIFO put in the file's place fails the open at once instead of waiting for a
  // reader; a regular file's writes are not affected by it. Read too: for the last byte there.
  UniqueFd fd(::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600));
  if (!fd) return std::string(std::strerror(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::string(std::strerror(errno));
  if (!S_ISREG(info.st_mode)) return std::string("not a regular file");
  char last = '\n';
  if (info.st_size > 0 && ::pread(fd.get(), &last, 1, info.st_size - 1) != 1) last = '\n';
  std::string bytes(last == '\n' ? 0 : 1, '\n');
  bytes += line;
  // One write: appends of one line each from several processes land whole, one after another.
  // A short one (the disk full) is not completed, lest another process's line come between.
  ssize_t written;
  do {
    written = ::write(fd.get(), bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) return std::string(std::strerror(errno));
  if (static_cast<size_t>(written) != bytes.size()) {
    return "only " + std::to_string(written) + " of " + std::to_string(bytes.size()) +
           " bytes written";
  }
  return std::nullopt;
}

std::optional<std::string> writeWhole(const std::filesystem::path& file, std::string_view bytes,
                                      std::chrono::milliseconds patience) {
  UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644));
  if (!fd) return std::string(std::strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (written > 0) {
      done += static_cast<size_t>(written);
    } else if (written < 0 && errno == EAGAIN) {
      pollfd ready{fd.get(), POLLOUT, 0};
      if (::poll(&ready, 1, static_cast<int>(patience.count())) == 0) {
        return "nothing was taken for " + std::to_string(patience.count() / 1000) + " s";
      }
    } else if (written < 0 && errno != EINTR) {
      return std::string(std::strerror(errno));
    }
  }
  return std::nullopt;
}

}  // namespace trident
