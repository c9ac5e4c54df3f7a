// The update-server client against real servers on loopback (pyftpdlib, the demo server, and a
// scripted HTTP(S) server for what an FTP server will not do on demand), with the engine and the
// virtual board behind it; and the text rules of a release description.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <algorithm>
#include <numeric>

#include "common/event_loop.h"
#include "engine/engine_rig.h"
#include "records/release_text.h"
#include "records/variants.h"
#include "servers.h"
#include "update/release_signature.h"
#include "update/update_server_client.h"

namespace trident {
namespace {

using namespace std::chrono_literals;

// The application initialises libcurl once in main(); this binary does it here.
struct Curl : ::testing::Environment {
  void SetUp() override { ASSERT_EQ(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK); }
  void TearDown() override { curl_global_cleanup(); }
};
const auto* const kCurl = ::testing::AddGlobalTestEnvironment(new Curl);

// The client wired to the engine, the window recorder and the virtual board, which has been taken
// and has answered: the engine waits for the release line, as in the application.
struct ClientRig {
  // Without a key, as a build without one: releases are taken unsigned.
  explicit ClientRig(const std::string& root, std::filesystem::path hexFile = {},
                     TransferTimeouts timeouts = {2s, 1s}, std::optional<ReleaseKey> key = {})
      : sim({}, std::move(hexFile)),
        client({sim.engine, sim.window, loop, sim.diag}, root, timeouts, key) {
    sim.takeBoard();
    sim.window.events.clear();
    builtLog = std::exchange(sim.diag.log, {});
  }
  // Runs posted work until every transfer has reported back.
  void settle() {
    EXPECT_TRUE(loop.runUntil([&] { return !client.busy(); }, 20s));
  }
  // Clicks "Update" as the window does: the engine's click, then the download it asks for.
  void clickUpdate() {
    sim.engine.OnActionButtonClick();
    if (sim.server.downloads > 0) client.downloadNewVerHexFile();
  }
  // The window's changes since the board was taken, each followed by "|".
  std::string views() const {
    return std::accumulate(sim.window.events.begin(), sim.window.events.end(), std::string(),
                           [](const std::string& a, const std::string& b) { return a + b + "|"; });
  }

  testing::SimRig sim;
  EventLoop loop;
  UpdateServerClient client;
  std::vector<std::string> builtLog;  // what the client logged when it was made
};

class UpdateClient : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ftp.started() && http.started()) << ftp.output(); }
  static std::string releasePath(size_t v) { return std::string(kFirmwareVariants[v].releasePath); }
  // Puts a file where both servers show it at `path`.
  void publish(std::string_view path, std::string_view content) {
    const auto file = dir.path() / std::filesystem::path(path).relative_path();
    std::filesystem::create_directories(file.parent_path());
    testing::writeFile(file, content);
  }

  testing::TempDir dir;
  testing::FtpServer ftp{dir.path()};
  testing::HttpServer http{dir.path()};
  const std::vector<uint8_t> image = testing::randomBytes(1000, 7);
  const std::string hex = testing::readFile(testing::objcopyHex(dir, image));
  // The board's 16-bit sum of `image`, as a release line gives it.
  const std::string sum =
      strprintf("0x%04X", std::accumulate(image.begin(), image.end(), 0u) & 0xFFFF);
};

TEST_F(UpdateClient, EachServerAnswerEndsAsExpected) {
  testing::HttpServer tls(dir.path(), true);
  // The demo update server as the README starts it.
  testing::ServerProcess demo({TRIDENT_SOURCE_DIR "/scripts/serve-update-server", "-p", "0"},
                              "ftp");
  ASSERT_TRUE(tls.started() && demo.started()) << tls.output() << demo.output();
  EXPECT_TRUE(demo.logged(demo.url() + "\n", testing::within(10s)));
  testing::TempDir place;  // where a firmware file cannot be written
  testing::writeFile(place / "blocker", "not a directory");
  std::filesystem::create_directories(place / "taken.hex");
  publish("/fw/te.hex", hex);
  publish("/fw/empty.hex", "");
  publish("/mute/te.hex", hex);
  publish("/huge/te.hex", hex);
  testing::FaultyFtpServer faulty(dir.path()), slow(dir.path(), {"--trickle", "300", "150"});
  ASSERT_TRUE(faulty.started() && slow.started()) << faulty.output() << slow.output();
  // A row: the server's base URL, the release description served (if any), how the window's
  // changes begin, a line the log holds (if any); the variant, firmware file and an unplugging
  // at the click, where they differ.
  // clang-format off
  struct Row { std::string root; std::optional<std::string> body; std::string views, log;
               size_t variant = 0; std::filesystem::path hexFile = {}; bool unplug = false; };
  const std::string f = ftp.url(), good = "N,V1," + sum + ",/fw/te.hex", d = "DEBUG: [Download] ";
  const std::string no = "showFetching|showServerError|alertA(", failed = d + "dataTask error";
  const std::string got = "showFetching|showReady(V1)|showDownloading|", stored = d + "success, "
      "ftp_checksum_integer = ", cannot = "Cannot write the firmware file " + place.path().string();
  const std::string complete = "showDownloading|setUpUpdateHexUI|showUpdateResult(complete)";
  const std::string sha = sha256Hex(hex);
  const Row rows[] = {
      {"ftp://127.0.0.1:9", {}, no + "Failed to connect to 127.0.0.1 port 9", failed},
      {f, {}, no + "Server denied you to change to the given directory", failed},
      {http.url(), {}, no + "The requested URL returned error: 404", failed},
      {tls.url(), {}, no + "SSL certificate problem: self-signed certificate", failed},
      // An HTTP server never greets an FTP client; a stalled one never sends the body.
      {"ftp" + http.url().substr(4), {}, no + "The server has not answered for 1 s)", failed},
      {http.url() + "/stall", {}, no + "The server has not answered for 1 s)", failed},
      // A server that streams the release without end; one that never says the file has ended.
      {faulty.url(), {}, no + "Parse txt file error)", d + "the release description holds 65537 "
       "bytes, more than 65536; refused"},
      {faulty.url(), "N,V1," + sum + ",/mute/te.hex", got + "showServerError|alertA(The server "
       "has not answered for 1 s)", "DEBUG: dataTaskA error"},
      // A firmware said to be larger than any HEX file of an image can be is refused on that word.
      {faulty.url(), "N,V1," + sum + ",/huge/te.hex", got + "showServerError|alertA(The server "
       "announced 1000000000 bytes, more than 7339548)", "DEBUG: dataTaskA error"},
      {f, {}, no + "URL using bad/illegal format", "DEBUG: getUpdateUrlStrBy: error", 2},
      {f, "N,V,0x1234,/fw/\xff.hex", no + "Parse txt file error)", ""},
      {f, "N,V,0x1234", no + "Parse txt file error)", ""},
      {f, "N,V,0x1234,ftp://host/a.hex", no + "Parse txt file error)", ""},
      {f, "N,V,0x123,/fw/te.hex", no + "checkSumStr error)", "DEBUG: checkSumStr error"},
      {f, "N,V,0xZZ12,/fw/te.hex", no + "checkSumStr error)", "DEBUG: checkSumStr error"},
      // A path that would leave the server, or is not one; a body no release line needs.
      {f, "N,V," + sum + ",@127.0.0.1:9/fw/te.hex", no + "Parse txt file error)",
       d + "hexFileUrlStr is not a path on the update server: @127.0.0.1:9/fw/te.hex"},
      {f, "N,V," + sum + ",fw/te.hex", no + "Parse txt file error)", ""},
      {f, std::string(64 * 1024 + 10, ','), no + "Parse txt file error)",
       d + "the release description holds 65546 bytes, more than 65536; refused"},
      // The line break that ends the line, LF or CRLF, after comment lines or not.
      {f, good + "\n", "showFetching|showReady(V1)|" + complete, ""},
      {f, "// release\r\n" + good + "\r\n", "showFetching|showReady(V1)|" + complete, ""},
      {f, "N,V1,0x1234,/fw/missing.hex", got + "showServerError|alertA(The file does not exist)",
       "DEBUG: dataTaskA error"},
      {f, good, got + "showServerError|alertA(" + cannot + "/blocker/tmp.hex: Not a directory)",
       d + cannot + "/blocker/tmp.hex: Not a directory", 0, place / "blocker/tmp.hex"},
      {f, good, got + "showServerError|alertA(" + cannot + "/taken.hex: Is a directory)",
       d + cannot + "/taken.hex: Is a directory", 0, place / "taken.hex"},
      // The client hands a late download on; the engine drops it.
      {f, good, got + "showDeviceRemoved", "firmwareStored: the update has already ended "
       "(STATUS_DEVICE_REMOVED)", 0, {}, true},
      // An empty firmware file replaces the one from before, which is never loaded.
      {f, "N,V1,0x1234,/fw/empty.hex", got + "setUpUpdateHexUI|adjustToErrorUI|alertA(Error: The "
       "firmware file holds no firmware data)", stored + "13330"},
      // The checksum field is what the board must report: "0x1234" reads as 0x3412.
      {f, "N,V1,0x1234,/fw/te.hex", got + "setUpUpdateHexUI|showUpdateResult(failed)",
       stored + "13330"},
      {f, good, "showFetching|showReady(V1)|" + complete,
       stored + std::to_string(testing::SimRig::expectedChecksumFor(image))},
      // A fifth field binds the firmware to its release: a firmware with another SHA-256 is never
      // written or loaded; the field malformed, in the prefix's case or the digits', is refused.
      {f, good + ",sha256:" + sha, "showFetching|showReady(V1)|" + complete, ""},
      {f, good + ",sha256:" + sha256Hex("other"), got + "showServerError|alertA(The firmware does "
       "not match its release.)", d + "the firmware's SHA-256 is " + sha + ", its release names " +
       sha256Hex("other") + "; not written"},
      {f, good + ",sha256:1234\r\n", no + "Parse txt file error)",
       d + "the sha256: field is malformed: sha256:1234"},
      {f, good + ",SHA256:" + sha, no + "Parse txt file error)", ""},
      {f, good + ",sha256:" + std::string(64, 'A'), no + "Parse txt file error)", ""},
      {f, good + ",sha256:" + sha + ",sha256:" + sha, no + "Parse txt file error)",
       d + "the sha256: field is malformed or named twice: sha256:" + sha},
      {f, good + ",x,sha256:" + sha, "showFetching|showReady(V1)|" + complete, ""},
      // A slow link that keeps moving gets through: the stall limit counts from the last byte.
      {slow.url(), good, "showFetching|showReady(V1)|" + complete, ""},
      // The Standard variant reads its own file; spaces stay and a fifth field is ignored.
      {f, "STD, V2.0," + sum + ",/fw/te.hex,x", "showFetching|showReady( V2.0)|" + complete, "", 1},
      {demo.url(), {}, "showFetching|showReady(V2.1.0)|" + complete, "", 0},
      {demo.url(), {}, "showFetching|showReady(V2.1.0)|" + complete, "", 1}};
  // clang-format on
  const std::string old = testing::readFile(testing::objcopyHex(dir, testing::randomBytes(100, 3)));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.views);
    std::filesystem::remove_all(dir / "varnehex");
    if (row.body) publish(releasePath(row.variant), *row.body);
    ClientRig rig(row.root, row.hexFile);
    if (row.hexFile.empty()) testing::writeFile(rig.sim.engine.hexFile(), old);
    rig.client.fetchVariant(row.variant);
    rig.settle();
    if (rig.sim.engine.state().iStatus == STATUS_DOWNLOAD_HEX_SUCCESS) {
      rig.clickUpdate();
      if (row.unplug) rig.sim.engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
      rig.settle();
      rig.sim.pump();
    }
    EXPECT_TRUE(rig.views().starts_with(row.views)) << rig.views();
    // The window heard how far each download came, in the order the bytes came, to its end.
    const auto& seen = rig.sim.window.downloaded;
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_TRUE(seen.empty() || seen.back().first == seen.back().second);
    EXPECT_EQ(seen.size() > 2, row.root == slow.url());
    EXPECT_TRUE(row.log.empty() || rig.sim.diag.logged(row.log));
    const std::string fetched = "DEBUG: getUpdateUrlStrBy, downloadURLStr = " + row.root;
    EXPECT_TRUE(row.variant > 1 || rig.sim.diag.logged(fetched + releasePath(row.variant)));
  }
  // Nothing half-written is left beside a firmware file that could not be written.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(place.path()), {}), 2);
  // A download asked for before any release was read ends at once, with its reason.
  const std::string none = "No firmware release has been read from the update server";
  ClientRig idle(f);
  idle.client.downloadNewVerHexFile();
  EXPECT_EQ(idle.views(), "showServerError|alertA(" + none + ")|");
  EXPECT_TRUE(idle.sim.diag.logged(d + none));
}

TEST_F(UpdateClient, LogsEachStepAndOnlyTheNewestFetchCountsUntilTheClickFixesTheRelease) {
  const std::string body =
      "// Trident TE, tournament rules\nNEW,V1.0," + sum + ",/fw/new fw é.hex\n";
  publish("/dir with space/Trident é.txt", body);
  publish("/fw/new fw é.hex", hex);
  publish("/old.txt", "OLD,V0.9,0x1111,/fw/new fw é.hex");
  ClientRig rig(ftp.url() + "//");  // the base URL's trailing '/' goes: paths bring their own
  // The first fetch is answered last; a fetch still running at the click, and a choice made
  // after it, change nothing either.
  const std::string held = http.url() + "/held/old.txt", d = "DEBUG: [Download] ";
  rig.client.downloadNewVerUpdateInfoBy(held);
  rig.client.downloadNewVerUpdateInfoBy(ftp.url() + "/dir with space/Trident é.txt");
  ASSERT_TRUE(rig.loop.runUntil([&] { return rig.views().ends_with("showReady(V1.0)|"); }, 20s));
  const std::string url = ftp.url() + "/dir%20with%20space/Trident%20%C3%A9.txt";
  const std::string hexUrl = ftp.url() + "/fw/new%20fw%20%C3%A9.hex";
  const std::string fetch = "DEBUG: downloadNewVerUpdateInfoBy ";
  // clang-format off
  EXPECT_EQ(rig.sim.diag.log, (std::vector<std::string>{
      fetch + "ftpTxtUrlStr = " + held, fetch + "url = " + held,
      fetch + "ftpTxtUrlStr = " + ftp.url() + "/dir with space/Trident é.txt",
      fetch + "url = " + url,
      d + "dataTask data = " + bodyDescription(body) + ", ftpUrlTxtDataStr = " + body,
      d + "下載根目錄 = " + ftp.url(), d + "下載檔案txt連結 = " + url,
      d + "下載檔案txt連結的內容 = " + body, d + "下載檔案txt 有 // ",
      d + "去 // 後 = NEW,V1.0," + sum + ",/fw/new fw é.hex",
      "initWithMode ftpTxtUrlStr = " + hexUrl,
      d + "pasre:版本 = V1.0, checkSum = " + sum + ", hexFileUrlStr = /fw/new fw é.hex",
      d + "aHexUrl = " + hexUrl}));
  // clang-format on
  rig.client.downloadNewVerUpdateInfoBy(held);
  rig.clickUpdate();
  rig.client.popUpBtnValueChanged(1);
  testing::writeFile(dir / "release", "");
  rig.settle();
  EXPECT_EQ(testing::readFile(rig.sim.engine.hexFile()), hex);
  rig.sim.pump();
  EXPECT_EQ(rig.views(),
            "showFetching|showFetching|showReady(V1.0)|showFetching|showDownloading|"
            "setUpUpdateHexUI|showUpdateResult(complete)|");
  EXPECT_EQ(rig.client.currentRelease()->infoNameStr(), "NEW");
  EXPECT_TRUE(rig.sim.diag.logged("downloadNewVerHexFile"));
  EXPECT_TRUE(rig.sim.diag.logged("DEBUG: selected item index 1"));
  EXPECT_TRUE(rig.sim.diag.logged(d + "a newer request has superseded the fetch of " + held +
                                  "; its answer is dropped"));
  EXPECT_TRUE(rig.sim.diag.logged(d + "the firmware download has begun; no new fetch is started"));
}

// With a key, a release counts only signed by it over its exact text, its firmware bound by
// SHA-256; each refusal leaves the board with nothing but the sync it had when taken.
TEST_F(UpdateClient, OnlyAReleaseItsPublisherSignedIsDownloaded) {
  const testing::Minisign minisign{dir.path()};
  Error why;
  const std::string pub = minisign.makeKey("publisher");
  const auto key = readReleaseKey(pub, why), other = readReleaseKey(minisign.makeKey("other"), why);
  // A key is its .pub file or that file's last line; minisign names it by the id shown here.
  ASSERT_TRUE(key && other && readReleaseKey(pub.substr(pub.find('\n') + 1) + " \r\n", why));
  EXPECT_NE(pub.find("public key " + keyIdText(key->id) + "\n"), std::string::npos) << pub;
  for (const std::string& bad : std::vector<std::string>{"", "RWQ=", pub + pub, "zz" + pub})
    EXPECT_FALSE(readReleaseKey(bad, why)) << bad;
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  publish("/fw/te.hex", hex);
  const std::string line = "N,V1," + sum + ",/fw/te.hex", sha = ",sha256:" + sha256Hex(hex);
  const auto release = dir.path() / std::filesystem::path(releasePath(0)).relative_path();
  // clang-format off
  // A row: the release line signed; who signs it (minisign's options); how the signature file is
  // then changed in place; what the window shows; the reason logged; the line served instead of
  // the one signed; whether the client has a key.
  using Edit = std::function<void(std::string&)>;
  struct Row { std::string text, signer, options; Edit edit; std::string views, reason, served = "";
               bool trusted = true; };
  const auto as = [](const std::string& with) { return [with](std::string& s) { s = with; }; };
  const auto at = [](int n, size_t count, const std::string& with) {  // in line n + 1
    return [=](std::string& s) {
      size_t i = 0;
      for (int k = 0; k < n; ++k) i = s.find('\n', i) + 1;
      s.replace(i, count, with);
    };
  };
  const std::string no = "showFetching|showServerError|alertA(The release is not signed by its "
      "publisher.)|", bad = "the signature file is malformed: ", bound = line + sha;
  const std::string ready = "showFetching|showReady(V1)|showDownloading|", done = ready +
      "setUpUpdateHexUI|showUpdateResult(complete)|";
  const Row rows[] = {
      {bound, "publisher", "", {}, done, ""},
      {bound, "publisher", "-l", {}, done, ""},  // the legacy algorithm
      {bound, "", "", {}, done, "", "", false},  // no key: taken unsigned
      {line + ",sha256:" + sha256Hex("other"), "publisher", "", {}, ready + "showServerError|"
       "alertA(The firmware does not match its release.)|", ""},
      {bound, "publisher", "", {}, no, "bad signature", "N,V2," + sum + ",/fw/te.hex" + sha},
      {bound, "other", "", {}, no, "signed by another key (" + keyIdText(other->id) + ", not " +
       keyIdText(key->id) + ")"},
      {bound, "", "", {}, no, "no signature file (The file does not exist)"},
      {bound, "publisher", "", as(""), no, bad + "a signature file has four lines at line 1"},
      {bound, "publisher", "", [](std::string& s) { s = std::regex_replace(s, std::regex("\n"),
       "\r\n"); }, done, ""},  // CRLF line ends, as an editor on another system may save it
      {bound, "publisher", "", [](std::string& s) { s.resize(s.size() / 2); }, no,
       bad + "a signature file has four lines at line 1"},
      {bound, "publisher", "", at(0, 2, "Un"), no, bad + "no untrusted comment at line 1"},
      {bound, "publisher", "", at(1, 4, "!!!!"), no, bad + "malformed signature at line 2"},
      {bound, "publisher", "", at(1, 2, "RV"), no, bad + "unknown signature algorithm at line 2"},
      {bound, "publisher", "", at(2, 8, ""), no, bad + "no trusted comment at line 3"},
      {bound, "publisher", "", at(3, 4, ""), no, bad + "malformed global signature at line 4"},
      {bound, "publisher", "", at(3, 0, "\n"), no, bad + "a signature file has four lines at line 1"},
      {bound, "publisher", "", [](std::string& s) {
         // Before the last line's end: the trusted comment then no longer matches its signature.
         if (const auto end = s.rfind('\n', s.size() - 2); end != std::string::npos)
           s.insert(end, 1, '!');
       },
       no, "bad trusted comment"},
      {bound, "publisher", "", as(std::string(9000, 'x')), no,
       "its signature file holds more than 8192 bytes"},
      {line, "publisher", "", {}, no, "its release line names no sha256: field"},
      // The trusted comment names the file it was signed for: minisign's own does ("file:NAME").
      {bound, "publisher", "-t 'release Standard.txt'", {}, no, "its trusted comment does not "
       "name VARNE_TRIDENT_Fighting_Board_TE.txt: it was signed for another file"},
      {bound, "publisher", "-t file:VARNE_TRIDENT_Fighting_Board_TE.txt.old", {}, no, "its "
       "trusted comment does not name"},
      {bound, "publisher", "-t 'release x/VARNE_TRIDENT_Fighting_Board_TE.txt version V1'", {},
       done, ""},
      {line + sha.substr(0, 20), "publisher", "", {},
       "showFetching|showServerError|alertA(Parse txt file error)|", ""}};
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.views + row.reason);
    std::filesystem::remove(release.string() + ".minisig");
    publish(releasePath(0), row.text);
    if (!row.signer.empty()) {
      std::string signature = minisign.sign(row.signer, release, row.options);
      if (row.edit) row.edit(signature);
      publish(releasePath(0) + ".minisig", signature);
    }
    if (!row.served.empty()) publish(releasePath(0), row.served);
    ClientRig rig(ftp.url(), {}, {2s, 1s}, row.trusted ? key : std::nullopt);
    rig.client.fetchVariant(0);
    rig.settle();
    if (rig.sim.engine.state().iStatus == STATUS_DOWNLOAD_HEX_SUCCESS) rig.clickUpdate();
    rig.settle();
    rig.sim.pump();
    EXPECT_EQ(rig.views(), row.views);
    const auto& log = rig.sim.diag.log;
    EXPECT_EQ(std::any_of(log.begin(), log.end(),
                          [&](auto& l) { return l.find(" is refused: " + row.reason) != l.npos; }),
              !row.reason.empty());
    // Only the sync sent when the board was taken reached it, unless the update ran.
    EXPECT_EQ(rig.sim.sent.size() == 1, !row.views.ends_with("(complete)|"));
    // Without a key, the log says so once.
    EXPECT_EQ(std::count(rig.builtLog.begin(), rig.builtLog.end(),
                         "DEBUG: [Download] no release "
                         "key is built in: release signatures are not checked"),
              !row.trusted);
  }
}

// Whatever the server does, a client that goes (the window closed, Ctrl-C) takes its transfers
// with it within a second: one that says nothing, one that streams a firmware without end, one
// that sent the whole file and never says it has ended (libcurl waits for that word in a call of
// its own, where only a cut socket ends the wait).
TEST_F(UpdateClient, EndingTheClientStopsItsTransfers) {
  testing::FaultyFtpServer faulty(dir.path());
  ASSERT_TRUE(faulty.started()) << faulty.output();
  publish("/mute/te.hex", hex);
  for (const std::string firmware : {"", "/fw/endless.hex", "/mute/te.hex"}) {
    publish(releasePath(0), "N,V1," + sum + "," + firmware);
    auto rig = std::make_unique<ClientRig>(firmware.empty() ? http.url() : faulty.url(), "",
                                           TransferTimeouts{});  // the full 30-second limits
    if (firmware.empty()) {
      rig->client.downloadNewVerUpdateInfoBy(http.url() + "/held/never.txt");
      ASSERT_TRUE(http.logged("holding /held/never.txt", testing::within(10s)));
    } else {
      rig->client.fetchVariant(0);
      rig->settle();
      rig->clickUpdate();
      ASSERT_TRUE(
          faulty.logged((firmware == "/mute/te.hex" ? "silent after " : "streaming ") + firmware,
                        testing::within(10s)));
    }
    if (firmware == "/fw/endless.hex") {
      // The window hears how far it has come, in the order the bytes came.
      ASSERT_TRUE(rig->loop.runUntil([&] { return rig->sim.window.downloaded.size() > 2; }, 10s));
      const auto& seen = rig->sim.window.downloaded;
      EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << seen.size();
      EXPECT_EQ(seen.front().second, 0u);  // the server did not say how large
    }
    const auto start = testing::Clock::now();
    rig.reset();
    EXPECT_LT(testing::Clock::now() - start, 1s) << firmware;
  }
}

// The demo's files are what its generator writes, signed by the publisher's script. That script
// signs what it can, names what it cannot, and leaves a pair it could not sign as it was served:
// a text changed under a stale signature would be refused.
TEST(DemoUpdateServer, ItsFilesAreWhatTheGeneratorAndTheSigningScriptWrite) {
  testing::TempDir out;
  const std::string dir = out.path().string(), demo = TRIDENT_SOURCE_DIR "/update-server";
  ASSERT_EQ(testing::runCommand(TRIDENT_SOURCE_DIR "/scripts/make-demo-firmware --out " + dir), 0);
  const std::string diff = "diff -r " + dir + "/varnehex " + demo + "/varnehex";
  EXPECT_EQ(testing::runCommand(diff), 0);
  const auto release = out.path() / kFirmwareVariants[0].releasePath.substr(1);
  testing::writeFile(out / "two.txt", std::string("A,V1,0x1,/a\nB,V2,0x1,/b\n"));
  testing::writeFile(out / "notes.txt", std::string("not a release\n"));
  std::filesystem::create_symlink(release, out / "link.txt");
  std::string text = testing::readFile(release);
  testing::writeFile(release, text.replace(text.find("sha256:") + 7, 64, std::string(64, '0')));
  const std::string sign = TRIDENT_SOURCE_DIR "/scripts/sign-release -q " + dir + " " + demo;
  EXPECT_EQ(testing::runCommand(sign + "/demo-release-key.pub 2>" + dir + "/err"), 1);
  EXPECT_EQ(testing::readFile(release), text);
  EXPECT_EQ(testing::runCommand(sign + "/demo-release-key.key 2>" + dir + "/err"), 1);
  const std::string said = testing::readFile(out / "err");
  EXPECT_TRUE(
      said.ends_with("link.txt: it or its signature is a symbolic link; only plain files "
                     "are signed; not signed\nsign-release: " +
                     dir +
                     "/two.txt: more "
                     "than one line is not a comment; the updater would run them "
                     "together; not signed\nsign-release: 2 signed, 2 refused\n"))
      << said;
  EXPECT_EQ(testing::runCommand(diff), 0);
}

TEST(ReleaseText, ChecksumFieldsNumbersUtf8CommentsAndRawBytes) {
  // The checksum field gives the board's reply bytes swapped: the first two characters are
  // skipped whatever they are, a pair that is not hex counts as 0, characters after the sixth are
  // ignored; é is one character. Numbers skip white space (Unicode spaces too), take a leading 0
  // that is not "0x" as a digit, and are all ones when too large, not wrapped.
  // clang-format off
  const std::pair<const char*, uint64_t> fields[] = {
      {"0x1234", 0x3412}, {"0X12AB", 0xAB12}, {"ab1234", 0x3412}, {"0xzz34", 0x3400},
      {"0x1234\r", 0x3412}, {"0x1 34", 0x3401}, {"0x 134", 0x3401}, {"0x0x34", 0x3400},
      {"0xé234", 0x3400}, {"0x12", 0x0012}, {"", 0}};
  const std::pair<const char*, int64_t> numbers[] = {
      {"1f", 31}, {" \t\n0X1F", 31}, {"\u00A0\u2009" "1f", 31}, {"0xg", 0}, {"x1", 0}, {"-1", 0},
      {"FFFFFFFF", 0xFFFFFFFF}, {"123456789abc", 0xFFFFFFFF}, {"12zz", 0x12}, {"0123", 0x123},
      {"\r1f", 31}, {"\u2028\u3000" "1f", 31}};
  // clang-format on
  for (const auto& [field, expected] : fields)
    EXPECT_EQ(ftpChecksumInteger(field), expected) << '"' << field << '"';
  for (const auto& [text, expected] : numbers)
    EXPECT_EQ(hexStringToInteger(text), expected) << '"' << text << '"';
  EXPECT_EQ(decodeUtf8("a,é,€,😀"), "a,é,€,😀");
  for (const char* bad : {"\xff", "a\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x80"})
    EXPECT_FALSE(decodeUtf8(bad)) << bad;
  // Carriage returns stay, line feeds go, and plain lines run together.
  EXPECT_EQ(dropCommentLines("N,V,0x1234,/a.hex\r\n//c\r\nX,Y\n"), "N,V,0x1234,/a.hex\rX,Y");
  EXPECT_EQ(dropCommentLines("keep // not at start\n//\n"), "");
  EXPECT_EQ(bodyDescription("N,V,0x\xff"), "<4e2c562c 3078ff>");
}

}  // namespace
}  // namespace trident
