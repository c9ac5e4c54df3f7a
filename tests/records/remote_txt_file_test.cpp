#include "records/remote_txt_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "recording_diagnostics.h"

namespace trident {
namespace {

using ::testing::ElementsAre;

TEST(RemoteTxtFileViewModel, EscapesOnlyThePathAndKeepsTheFieldsAsGiven) {
  const std::pair<std::string, std::string> cases[] = {
      {"/fw/Trident 1.2.hex", "ftp://127.0.0.1:2121/fw/Trident%201.2.hex"},
      {"/fw/tr\xC3\xA9sor.hex", "ftp://127.0.0.1:2121/fw/tr%C3%A9sor.hex"},
      {"/fw/Trident.hex\r", "ftp://127.0.0.1:2121/fw/Trident.hex%0D"},
      {"/fw/50%#2.hex", "ftp://127.0.0.1:2121/fw/50%25%232.hex"},
  };
  for (const auto& [path, url] : cases) {
    test::RecordingDiagnostics diagnostics;
    const RemoteTxtFileViewModel release(RemoteTxtFileModel(" Trident\r", "v1", "", path),
                                         "ftp://127.0.0.1:2121", diagnostics);
    EXPECT_EQ(release.aHexUrl(), url);
    EXPECT_EQ(release.hexFileUrlStr(), path);
    EXPECT_EQ(release.infoNameStr(), " Trident\r");
    EXPECT_EQ(release.checkSumStr(), "");
    EXPECT_THAT(diagnostics.systemLogLines, ElementsAre("initWithMode ftpTxtUrlStr = " + url));
  }
}

TEST(RemoteTxtFileViewModel, NoUrlWithoutAPathOrWithABaseThatMakesNoAbsoluteUrl) {
  struct Case {
    std::string base;
    std::optional<std::string> path;
    std::string logged;
  };
  const Case cases[] = {{"ftp://h", std::nullopt, "(null)"},
                        {"127.0.0.1", "/f.hex", "127.0.0.1/f.hex"},
                        {"ftp://a b", "/f.hex", "ftp://a b/f.hex"}};
  for (const Case& c : cases) {
    test::RecordingDiagnostics diagnostics;
    const RemoteTxtFileViewModel release(RemoteTxtFileModel("T", "v1", "0x1234", c.path), c.base,
                                         diagnostics);
    EXPECT_EQ(release.aHexUrl(), std::nullopt);
    EXPECT_THAT(diagnostics.systemLogLines, ElementsAre("initWithMode ftpTxtUrlStr = " + c.logged));
  }
}

}  // namespace
}  // namespace trident
