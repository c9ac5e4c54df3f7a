// The demo update server as the README starts it: its release lines must lead to a complete update
// of the virtual board, and its files must be what the generator writes.
#include <gtest/gtest.h>

#include <algorithm>

#include "client_rig.h"

namespace trident {
namespace {

using testing::ClientRig;

const std::filesystem::path kSource = TRIDENT_SOURCE_DIR;

TEST(DemoUpdateServer, EachVariantUpdatesTheVirtualBoard) {
  testing::ServerProcess server({(kSource / "scripts/serve-update-server").string(), "-p", "0"},
                                "ftp");
  ASSERT_TRUE(server.started()) << server.output();
  EXPECT_TRUE(server.logged(server.url() + "\n", testing::within(std::chrono::seconds(10))));
  for (const int64_t variant : {0, 1}) {
    SCOPED_TRACE(variant);
    ClientRig rig(server.url());
    rig.client.fetchVariant(variant);
    ASSERT_TRUE(rig.settle());
    ASSERT_EQ(rig.status(), STATUS_DOWNLOAD_HEX_SUCCESS) << rig.alert();
    rig.clickUpdate();
    ASSERT_TRUE(rig.settle());
    rig.sim.pump();
    EXPECT_EQ(rig.views().back(), "showUpdateResult(complete)");
    EXPECT_GT(rig.sim.board.programmed().size(), 4000u);
  }
}

TEST(DemoUpdateServer, ItsFilesAreWhatTheGeneratorWrites) {
  testing::TempDir out;
  ASSERT_EQ(
      testing::runCommand(testing::shellQuote((kSource / "scripts/make-demo-firmware").string()) +
                          " --out " + testing::shellQuote(out.path().string()) + " >/dev/null"),
      0);
  const auto files = [](const std::filesystem::path& root) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (entry.is_regular_file()) found.push_back(std::filesystem::relative(entry.path(), root));
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  const auto committed = kSource / "update-server";
  ASSERT_EQ(files(out.path()), files(committed));
  for (const auto& file : files(committed)) {
    EXPECT_EQ(testing::readFile(out / file.string()), testing::readFile(committed / file)) << file;
  }
}

}  // namespace
}  // namespace trident
