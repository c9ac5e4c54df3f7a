#pragma once

#include <cstddef>
#include <filesystem>
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

// The path as narrow text, for a log line. Where the platform's paths are narrow it is the path's
// own bytes and `storage` stays untouched, so nothing is allocated; elsewhere it is made there.
std::string_view pathText(const std::filesystem::path& path, std::string& storage);

}  // namespace trident
