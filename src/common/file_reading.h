#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/unique_fd.h"

namespace trident {

// A file read from the start in pieces, as the HEX loader reads the firmware file. Opening and
// reading differ by platform; those calls live in file_reading_<platform>.cpp, so a parser that
// reads a file holds none of them.
class FileReader {
 public:
  explicit FileReader(const std::filesystem::path& path);

  bool isOpen() const { return static_cast<bool>(fd_); }
  // The file's size in bytes (-1 when it cannot be told); reading still starts at the beginning.
  long long size() const;
  // Reads up to `count` bytes; 0 at the end of the file or on an error.
  size_t read(char* into, size_t count);

 private:
  UniqueFd fd_;
};

// A file read whole into memory in one go, for a name that may be a pipe or a FIFO: those can be
// read only once, cannot tell their size, and a FIFO nobody writes to must not hold the caller in
// open() where nothing can end the wait.
struct WholeFile {
  enum class Failure {
    CannotOpen,  // `reason` says why
    Folder,
    TooLarge,    // more than the caller's limit
    Silent,      // nothing arrived for the caller's time
    Stopped,     // the caller's stop check said so
    Unreadable,  // `reason` says why
  };
  std::string bytes;
  std::optional<Failure> failure;
  std::string reason;
};

// Reads `path` to its end, at most `maxBytes` of it. Waiting for bytes ends when `stop` says so
// (looked at a few times a second) or after `silence` without a byte.
WholeFile readWholeFile(const std::filesystem::path& path, size_t maxBytes,
                        std::chrono::milliseconds silence, const std::function<bool()>& stop);

// The path as narrow text, for a log line. Where the platform's paths are narrow it is the path's
// own bytes and `storage` stays untouched, so nothing is allocated; elsewhere it is made there.
std::string_view pathText(const std::filesystem::path& path, std::string& storage);

}  // namespace trident
