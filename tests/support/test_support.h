#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"

// Helpers every test layer shares. They are defined here, inline: each is a few lines.
namespace trident::testing {

// Records both diagnostic channels.
class RecordingDiagnostics final : public Diagnostics {
 public:
  void systemLog(std::string_view line) override { log.emplace_back(line); }
  void standardOutput(std::string_view text) override { out.append(text); }
  bool logged(std::string_view line) const {
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  std::vector<std::string> log;
  std::string out;
};

// Names a parametrised test's case in gtest's output by its `name`. A test file takes it in with
// `using testing::PrintTo;` in the namespace of its cases, where gtest looks for it.
template <typename Case>
requires requires(const Case& c, std::ostream& out) {
  out << c.name;
}
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

// A fresh directory under the system temp dir, removed with its contents at the end of the scope.
// Its name is short: virtual boards are sockets in here, and a socket path fits in 108 bytes.
class TempDir {
 public:
  TempDir() {
    std::string name = (std::filesystem::temp_directory_path() / "trident-test-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) ADD_FAILURE() << "cannot make " << name;
    path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> randomBytes(size_t count, uint32_t seed) {
  std::mt19937 engine(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> out(count);
  std::generate(out.begin(), out.end(), [&] { return static_cast<uint8_t>(byte(engine)); });
  return out;
}

inline void writeFile(const std::filesystem::path& file, std::string_view bytes) {
  if (!std::ofstream(file, std::ios::binary).write(bytes.data(), std::ssize(bytes))) {
    ADD_FAILURE() << "cannot write " << file;
  }
}
inline void writeFile(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
  writeFile(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
inline std::string readFile(const std::filesystem::path& file) {
  std::ostringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

// How many times `part` is in `text`.
inline size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

// Runs a command line through the shell; returns its exit status. Output goes to the test log.
inline int runCommand(const std::string& commandLine) {
  const int status = std::system(commandLine.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
inline std::string shellQuote(const std::string& text) {
  std::string out = "'";
  out += std::regex_replace(text, std::regex("'"), "'\\''");
  return out += "'";
}

// Runs a tool with IN and OUT in `words` standing for the files `in` and `out`; returns `out`.
// One word after another, each appended in place: chains of temporary strings joined with `+`
// trip GCC 12's overlap analysis at -O3.
inline std::filesystem::path convert(std::vector<std::string> words,
                                     const std::filesystem::path& in,
                                     const std::filesystem::path& out) {
  std::string line;
  for (const auto& word : words) {
    line += word == "IN" ? shellQuote(in) : word == "OUT" ? shellQuote(out) : word;
    line += ' ';
  }
  EXPECT_EQ(runCommand(line), 0) << line;
  return out;
}

// Intel HEX written by the real tools, from `data` stored at `address`.
// objcopy writes 16-byte records with CRLF line ends.
inline std::filesystem::path objcopyHex(const TempDir& dir, const std::vector<uint8_t>& data,
                                        uint32_t address = 0, std::string_view name = "image") {
  const auto bin = dir / (std::string(name) + ".bin");
  writeFile(bin, data);
  return convert({"objcopy", "-I", "binary", "-O", "ihex", "--change-addresses",
                  std::to_string(address), "IN", "OUT"},
                 bin, std::filesystem::path(bin).replace_extension("hex"));
}
// srec_cat writes records of `recordLength` bytes.
inline std::filesystem::path srecCatHex(const TempDir& dir, const std::vector<uint8_t>& data,
                                        uint32_t address, int recordLength,
                                        std::string_view name = "image") {
  const auto bin = dir / (std::string(name) + ".bin");
  writeFile(bin, data);
  return convert({"srec_cat", "IN", "-binary", "-offset", std::to_string(address), "-o", "OUT",
                  "-intel", "-Output_Block_Size", std::to_string(recordLength)},
                 bin, std::filesystem::path(bin).replace_extension("hex"));
}
// The bytes an Intel HEX file holds, as objcopy reads them (a binary file in `dir` on the way).
inline std::string hexData(const TempDir& dir, const std::filesystem::path& hex) {
  return readFile(
      convert({"objcopy", "-I", "ihex", "-O", "binary", "IN", "OUT"}, hex, dir / "data"));
}

// minisign, the publisher's own tool, with its key pairs NAME.pub and NAME.key (no password) in
// `dir`. The update-server folder holds the demo key, which the default build trusts.
struct Minisign {
  std::filesystem::path dir;
  std::string makeKey(const std::string& name) const {
    return readFile(run("-G -f -W", name, dir / (name + ".pub")));
  }
  // Signs `file` (with "-l", in the legacy algorithm) into FILE.minisig; returns that signature.
  std::string sign(const std::string& name, const std::filesystem::path& file,
                   const std::string& options = "") const {
    return readFile(
        run("-S " + options + " -m " + shellQuote(file), name, file.string() + ".minisig"));
  }

 private:
  std::filesystem::path run(const std::string& verb, const std::string& name,
                            const std::filesystem::path& made) const {
    const std::string line = "minisign " + verb + " -p " + shellQuote(dir / (name + ".pub")) +
                             " -s " + shellQuote(dir / (name + ".key")) + " -x " +
                             shellQuote(made) + " >/dev/null 2>&1 </dev/null";
    EXPECT_EQ(runCommand(line), 0) << line;
    return made;
  }
};

}  // namespace trident::testing
