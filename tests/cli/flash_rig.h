#pragma once

#include <gtest/gtest.h>

#include <numeric>

#include "engine/hex_loader.h"
#include "support/process.h"
#include "support/test_support.h"
#include "update/servers.h"

namespace trident::testing {

using namespace std::chrono_literals;

inline const std::string kDemo = TRIDENT_SOURCE_DIR "/update-server";
inline const std::string kTournamentHex =
    kDemo + "/varnehex/VARNE_TRIDENT_Fighting_Board/TE/TRIDENT_TE_V2.1.0.hex";
inline const std::string kStandardHex =
    kDemo + "/varnehex/VARNE_TRIDENT_Fighting_Board/TRIDENT_V2.1.0.hex";

inline std::vector<uint8_t> hexData(const std::string& file) {
  HexImage image;
  int32_t lineNO = 0;
  NullDiagnostics quiet;
  readHexImage(file, image, lineNO, quiet);
  return {image.bytes.get(), image.bytes.get() + image.length};
}

inline std::string checksumText(const std::vector<uint8_t>& data) {
  return strprintf("0x%04x", std::accumulate(data.begin(), data.end(), 0u) & 0xFFFF);
}

class Flash : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(dir / "hid"); }

  // Plugs a virtual board in and waits until its socket is there.
  std::unique_ptr<ChildProcess> plug(const std::string& name = "board",
                                     std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {builtProgram("tools/board-sim/trident-board-sim"),
                                     "--virtual-hid",
                                     (dir / "hid").string(),
                                     "--name",
                                     name,
                                     "--save-image",
                                     (dir / (name + ".bin")).string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto board = std::make_unique<ChildProcess>(argv);
    EXPECT_TRUE(waitFor(
        [&] { return std::filesystem::exists(dir / "hid" / ("0416-3f00-" + name + ".sock")); }));
    return board;
  }

  std::unique_ptr<ChildProcess> flash(std::vector<std::string> args, bool withServer = true) {
    std::vector<std::string> argv = {builtProgram("src/cli/trident-flash"), "--virtual-hid",
                                     (dir / "hid").string()};
    if (withServer) {
      argv.push_back("--server");
      argv.push_back(server().url());
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(argv);
  }

  FtpServer& server() {
    if (!server_) server_ = std::make_unique<FtpServer>(kDemo);
    return *server_;
  }

  std::vector<uint8_t> programmed(const std::string& name = "board") {
    const std::string bytes = readFile(dir / (name + ".bin"));
    return {bytes.begin(), bytes.end()};
  }

  TempDir dir;
  std::unique_ptr<FtpServer> server_;
};

}  // namespace trident::testing
