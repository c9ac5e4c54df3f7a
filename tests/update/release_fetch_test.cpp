// The release-description fetch against a real FTP server on loopback: what is accepted, what is
// refused and how, and which fetch may change the window.
#include <gtest/gtest.h>

#include "client_rig.h"
#include "records/release_text.h"
#include "update/variants.h"

namespace trident {
namespace {

using testing::ClientRig;
using testing::ScriptedHttpServer;
using testing::Served;
using Views = std::vector<std::string>;

const std::string kTePath(kFirmwareVariants[0].releasePath);
const std::string kStandardPath(kFirmwareVariants[1].releasePath);

class ReleaseFetch : public ::testing::Test, public Served {
 protected:
  void SetUp() override { ASSERT_TRUE(server.started()) << server.output(); }
  ClientRig rig{server.url()};
};

TEST_F(ReleaseFetch, AcceptsTheLineAfterACommentAndLogsEachStep) {
  const std::string body = "// Trident TE, tournament rules\nTRIDENT_TE,V1.2.0,0x1234,/fw/te.hex\n";
  publish(kTePath, body);
  rig.client.fetchVariant(0);
  ASSERT_TRUE(rig.settle());

  EXPECT_EQ(rig.views(), (Views{"showFetching", "showReady(V1.2.0)"}));
  EXPECT_EQ(rig.status(), STATUS_DOWNLOAD_HEX_SUCCESS);
  const auto& release = *rig.client.currentRelease();
  EXPECT_EQ(release.infoNameStr(), "TRIDENT_TE");
  EXPECT_EQ(release.versionStr(), "V1.2.0");
  EXPECT_EQ(release.checkSumStr(), "0x1234");
  EXPECT_EQ(release.hexFileUrlStr(), "/fw/te.hex");
  const std::string url = server.url() + kTePath;
  const std::string hexUrl = server.url() + "/fw/te.hex";
  EXPECT_EQ(release.aHexUrl(), hexUrl);
  EXPECT_EQ(
      rig.log(),
      (Views{
          "DEBUG: getUpdateUrlStrBy, downloadURLStr = " + url,
          "DEBUG: downloadNewVerUpdateInfoBy ftpTxtUrlStr = " + url,
          "DEBUG: downloadNewVerUpdateInfoBy url = " + url,
          "DEBUG: [Download] dataTask data = " + bodyDescription(body) +
              ", ftpUrlTxtDataStr = " + body,
          "DEBUG: [Download] 下載根目錄 = " + server.url(),
          "DEBUG: [Download] 下載檔案txt連結 = " + url,
          "DEBUG: [Download] 下載檔案txt連結的內容 = " + body,
          "DEBUG: [Download] 下載檔案txt 有 // ",
          "DEBUG: [Download] 去 // 後 = TRIDENT_TE,V1.2.0,0x1234,/fw/te.hex",
          "initWithMode ftpTxtUrlStr = " + hexUrl,
          "DEBUG: [Download] pasre:版本 = V1.2.0, checkSum = 0x1234, hexFileUrlStr = /fw/te.hex",
          "DEBUG: [Download] aHexUrl = " + hexUrl,
      }));
}

TEST_F(ReleaseFetch, EachVariantReadsItsOwnFile) {
  publish(kTePath, "//\nTE,V1.2.0,0x1234,/fw/te.hex\n");
  // One line, no comment, no final line feed; a fifth field is ignored and spaces stay.
  publish(kStandardPath, "STD, V2.0,0x9F3A,/fw/std.hex,ignored");
  rig.client.fetchVariant(0);
  ASSERT_TRUE(rig.settle());
  rig.client.popUpBtnValueChanged(1);
  ASSERT_TRUE(rig.settle());

  EXPECT_EQ(rig.views(),
            (Views{"showFetching", "showReady(V1.2.0)", "showFetching", "showReady( V2.0)"}));
  EXPECT_TRUE(rig.logged("DEBUG: selected item index 1"));
  EXPECT_TRUE(
      rig.logged("DEBUG: getUpdateUrlStrBy, downloadURLStr = " + server.url() + kStandardPath));
  EXPECT_EQ(rig.client.currentRelease()->infoNameStr(), "STD");
  EXPECT_EQ(rig.client.currentRelease()->hexFileUrlStr(), "/fw/std.hex");
}

struct Refused {
  const char* name;
  std::string body;
  const char* alert;
};

class RefusedRelease : public ReleaseFetch, public ::testing::WithParamInterface<Refused> {};

TEST_P(RefusedRelease, EndsInServerError) {
  const auto& row = GetParam();
  publish(kTePath, row.body);
  rig.client.fetchVariant(0);
  ASSERT_TRUE(rig.settle());

  EXPECT_EQ(rig.views(),
            (Views{"showFetching", "showServerError", std::string("alertA(") + row.alert + ")"}));
  EXPECT_EQ(rig.status(), STATUS_ERROR);
  const bool checksumRow = std::string_view(row.alert) == "checkSumStr error";
  EXPECT_EQ(rig.logged("DEBUG: checkSumStr error"), checksumRow);
  // A refused checksum leaves its record current; a line without four fields makes none.
  if (checksumRow) {
    EXPECT_TRUE(rig.client.currentRelease());
  } else {
    EXPECT_FALSE(rig.client.currentRelease());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, RefusedRelease,
    ::testing::Values(
        Refused{"Empty", "", "Parse txt file error"},
        Refused{"NotUtf8", "N,V,0x1234,/fw/\xff.hex", "Parse txt file error"},
        Refused{"OnlyComments", "// a\n// N,V,0x1234,/fw/a.hex\n", "Parse txt file error"},
        Refused{"ThreeFields", "N,V,0x1234", "Parse txt file error"},
        Refused{"PathWithDoubleSlash", "N,V,0x1234,ftp://host/a.hex", "Parse txt file error"},
        Refused{"FiveCharacterChecksum", "N,V,0x123,/fw/a.hex", "checkSumStr error"},
        Refused{"FiveCharactersInSixBytes", "N,V,0xé23,/fw/a.hex", "checkSumStr error"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReleaseFetchFailure, EndsInServerErrorWithTheTransfersReason) {
  Served served;
  ASSERT_TRUE(served.server.started());
  uint16_t closedPort = 0;
  testing::listenOnLoopback(closedPort);  // closed again at once: nothing listens there
  ScriptedHttpServer notFound("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  testing::SelfSignedHttpsServer untrusted;
  ASSERT_TRUE(untrusted.started()) << untrusted.output();
  // The Standard file's directory exists without the file; the TE directory does not exist.
  std::filesystem::create_directories(served.dir / "varnehex/VARNE_TRIDENT_Fighting_Board");
  struct Row {
    std::string root;
    int64_t variant;
    std::string alert;
  };
  const Row rows[] = {
      {"ftp://127.0.0.1:" + std::to_string(closedPort), 0,
       "Failed to connect to 127.0.0.1 port " + std::to_string(closedPort)},
      {"ftp://update.trident.invalid", 0, "Could not resolve host: update.trident.invalid"},
      {served.server.url(), 0, "Server denied you to change to the given directory"},
      {served.server.url(), 1, "The file does not exist"},
      {notFound.url(), 1, "The requested URL returned error: 404"},
      {untrusted.url(), 0, "SSL certificate problem: self-signed certificate"},
      {served.server.url(), 2, "URL using bad/illegal format or missing URL"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.root);
    ClientRig rig(row.root);
    rig.client.fetchVariant(row.variant);
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.status(), STATUS_ERROR);
    const auto views = rig.views();
    ASSERT_EQ(views.size(), 3u);
    EXPECT_EQ(views[1], "showServerError");
    EXPECT_EQ(views[2].rfind("alertA(" + row.alert, 0), 0u) << views[2];
    EXPECT_TRUE(rig.logged("DEBUG: [Download] dataTask error"));
  }
}

TEST(ReleaseFetchFailure, ServerThatNeverAnswersOrStallsTimesOut) {
  const TransferTimeouts shortTimeouts{std::chrono::milliseconds(800),
                                       std::chrono::milliseconds(2000), std::chrono::seconds(1)};
  uint16_t silentPort = 0;
  const auto silent = testing::listenOnLoopback(silentPort);  // accepts, never greets
  ScriptedHttpServer stalled("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\nN,V,0x12");
  struct Row {
    std::string root;
    std::string alert;
  };
  const Row rows[] = {
      {"ftp://127.0.0.1:" + std::to_string(silentPort), "timed out after"},
      {stalled.url(), "Operation timed out after"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.root);
    ClientRig rig(row.root, shortTimeouts);
    const auto start = testing::Clock::now();
    rig.client.fetchVariant(0);
    ASSERT_TRUE(rig.settle());
    EXPECT_LT(testing::Clock::now() - start, std::chrono::seconds(4)) << rig.alert();
    EXPECT_NE(rig.alert().find(row.alert), std::string::npos) << rig.alert();
    EXPECT_EQ(rig.status(), STATUS_ERROR);
  }
}

TEST_F(ReleaseFetch, OnlyTheNewestFetchCounts) {
  ScriptedHttpServer older(testing::httpOk("OLD,V0.9,0x1111,/fw/old.hex"), /*hold=*/true);
  publish(kTePath, "NEW,V1.0,0x2222,/fw/new.hex");
  rig.client.downloadNewVerUpdateInfoBy(older.url() + "/old.txt");
  rig.client.fetchVariant(0);
  ASSERT_TRUE(rig.executor.runUntil([&] { return rig.views().size() == 3; },
                                    testing::within(std::chrono::seconds(20))));
  older.release();  // the older fetch ends after the newer one
  ASSERT_TRUE(rig.settle());

  EXPECT_EQ(rig.views(), (Views{"showFetching", "showFetching", "showReady(V1.0)"}));
  EXPECT_EQ(rig.client.currentRelease()->infoNameStr(), "NEW");
  EXPECT_TRUE(rig.logged("DEBUG: [Download] a newer request has superseded the fetch of " +
                         older.url() + "/old.txt; its answer is dropped"));
}

TEST_F(ReleaseFetch, EscapedUrlsReachTheRightFiles) {
  const std::string firmware = ":00000001FF\r\n";
  publish("/dir with space/Trident é.txt", "N,V1,0x1234,/fw/new firmware é.hex");
  publish("/fw/new firmware é.hex", firmware);
  rig.client.downloadNewVerUpdateInfoBy(server.url() + "/dir with space/Trident é.txt");
  ASSERT_TRUE(rig.settle());
  EXPECT_TRUE(rig.logged("DEBUG: downloadNewVerUpdateInfoBy url = " + server.url() +
                         "/dir%20with%20space/Trident%20%C3%A9.txt"));
  ASSERT_EQ(rig.views().back(), "showReady(V1)");
  EXPECT_EQ(rig.client.currentRelease()->hexFileUrlStr(), "/fw/new firmware é.hex");
  EXPECT_EQ(rig.client.currentRelease()->aHexUrl(),
            server.url() + "/fw/new%20firmware%20%C3%A9.hex");

  rig.clickUpdate();
  ASSERT_TRUE(rig.settle());
  EXPECT_EQ(testing::readFile(rig.sim.engine.hexFile()), firmware);
  EXPECT_TRUE(
      server.logged("RETR " + (dir.path() / "fw/new firmware é.hex").string() + " completed=1",
                    testing::within(std::chrono::seconds(10))))
      << server.output();
}

}  // namespace
}  // namespace trident
