#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"

namespace trident::testing {

// Records both diagnostic channels.
class RecordingDiagnostics final : public Diagnostics {
 public:
  void systemLog(std::string_view line) override { log.emplace_back(line); }
  void standardOutput(std::string_view text) override { out.append(text); }
  bool logged(std::string_view line) const;
  std::vector<std::string> log;
  std::string out;
};

// A fresh directory under the system temp dir, removed with its contents at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> randomBytes(size_t count, uint32_t seed);
void writeFile(const std::filesystem::path& file, std::string_view bytes);
void writeFile(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);
std::string readFile(const std::filesystem::path& file);

// Runs a command line through the shell; returns its exit status. Output goes to the test log.
int runCommand(const std::string& commandLine);
std::string shellQuote(const std::string& text);

// Intel HEX written by the real tools, from `data` stored at `address`.
// objcopy writes 16-byte records with CRLF line ends.
std::filesystem::path objcopyHex(const TempDir& dir, const std::vector<uint8_t>& data,
                                 uint32_t address = 0, std::string_view name = "image");
// srec_cat writes records of `recordLength` bytes.
std::filesystem::path srecCatHex(const TempDir& dir, const std::vector<uint8_t>& data,
                                 uint32_t address, int recordLength,
                                 std::string_view name = "image");

}  // namespace trident::testing
