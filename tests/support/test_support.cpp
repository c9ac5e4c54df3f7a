#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace trident::testing {

bool RecordingDiagnostics::logged(std::string_view line) const {
  return std::find(log.begin(), log.end(), line) != log.end();
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "trident-test-" + std::to_string(::getpid()) + "-" +
                     std::to_string(counter++) + "-" + (info ? info->name() : "x");
  std::replace(name.begin(), name.end(), '/', '_');
  // Virtual boards are sockets in here, and a socket path has to fit in 108 bytes.
  name.resize(std::min<size_t>(name.size(), 40));
  path_ = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> randomBytes(size_t count, uint32_t seed) {
  std::mt19937 engine(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> out(count);
  for (auto& b : out)
    b = static_cast<uint8_t>(byte(engine));
  return out;
}

void writeFile(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << file;
}

void writeFile(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
  writeFile(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string shellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

namespace {

// One word after another, each appended in place: chains of temporary strings joined with `+`
// trip GCC 12's overlap analysis at -O3.
std::string commandLine(const std::vector<std::string>& words) {
  std::string line;
  for (const auto& word : words) {
    if (!line.empty()) line += ' ';
    line += word;
  }
  return line;
}

}  // namespace

int runCommand(const std::string& line) {
  const int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::filesystem::path objcopyHex(const TempDir& dir, const std::vector<uint8_t>& data,
                                 uint32_t address, std::string_view name) {
  const auto bin = dir / (std::string(name) + ".bin");
  const auto hex = dir / (std::string(name) + ".hex");
  writeFile(bin, data);
  std::vector<std::string> words{"objcopy", "-I", "binary", "-O", "ihex"};
  if (address != 0) words.insert(words.end(), {"--change-addresses", std::to_string(address)});
  words.insert(words.end(), {shellQuote(bin.string()), shellQuote(hex.string())});
  const std::string cmd = commandLine(words);
  EXPECT_EQ(runCommand(cmd), 0) << cmd;
  return hex;
}

std::filesystem::path srecCatHex(const TempDir& dir, const std::vector<uint8_t>& data,
                                 uint32_t address, int recordLength, std::string_view name) {
  const auto bin = dir / (std::string(name) + ".bin");
  const auto hex = dir / (std::string(name) + ".hex");
  writeFile(bin, data);
  const std::string cmd = commandLine(
      {"srec_cat", shellQuote(bin.string()), "-binary", "-offset", std::to_string(address), "-o",
       shellQuote(hex.string()), "-intel", "-Output_Block_Size", std::to_string(recordLength)});
  EXPECT_EQ(runCommand(cmd), 0) << cmd;
  return hex;
}

}  // namespace trident::testing
