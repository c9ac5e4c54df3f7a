// The record parsers: release lines, the multi-family catalogue, release records and their URLs,
// the text rules under them, and the board's firmware-information report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <regex>

#include "engine/fw_info.h"
#include "records/checksum_text.h"
#include "records/parse_line.h"
#include "records/remote_txt_file.h"
#include "records/upg_txt.h"
#include "records/url_escape.h"
#include "records/utf8.h"
#include "support/test_support.h"

namespace trident {
namespace {

using Text = std::optional<std::string>;
using Texts = std::vector<Text>;
using Log = std::vector<std::string>;

constexpr const char* kRoot = "ftp://h";

struct Parsed {
  Texts fields;  // name, version, checksum, A URL, B URL
  Log log;
};

Parsed parse(Text line, std::int64_t type) {
  testing::RecordingDiagnostics diagnostics;
  const ParseLineViewModel vm(ParseLineModel(std::move(line), type), kRoot, diagnostics);
  return {{vm.infoNameStr(), vm.versionStr(), vm.checkSumStr(), vm.aHexFileUrlStr(),
           vm.bHexFileUrlStr()},
          diagnostics.log};
}

// Six fields, each at a place of its own, so what a layout reads tells which places it reads.
const std::string kLine = "f0,f1,0x2222,/f3333,/f4,/f5";

const std::size_t kFieldsEnd[] = {0, 2, 5, 12, 19, 23, 27};  // where its first n fields end

TEST(ParseLine, EachTypeLogsItsLabelAndReadsItsLayoutFromItsMinimumFieldCount) {
  // A layout by the places of name, version, checksum, A and B path in a line: it needs a field
  // past the last of them. Its log lines: at the start, for too few fields and for no line.
  // clang-format off
  struct Layout { std::string places, start, tooFew, absent; };
  const std::string d = "DEBUG: [Download] ", count = d + "ftpInfoTextAry.count < ";
  const Layout single{"0123", "parseLine", count + "4",
                      "parseLineAB [Download] Parse parseLineSingle error"};
  const Layout singleTE{"0234", "parseLineSingle_TE", count + "5",
                        "parseLineAB [Download] Parse parseLineSingle_TE error"};
  const Layout ab{"01234", "parseLine", count + "5", "parseLineAB [Download] Parse line error"};
  const Layout abTE{"02345", "parseLine", count + "6",
                    "parseLineAB_TE [Download] Parse line error"};
  const Layout thistle{"1234", "parseLine", d + "parseThistle.count < 5",
                       "parseThistle [Download] Parse parseLineSingle error"};
  const std::string g1 = "ParseTyep_Alder || ParseTyep_Maple_Wheel || ParseTyep_RedCedar || "
                         "ParseTyep_Oak || ParseTyep_Linden";
  const std::string g2 = "ParseTyep_Alder_TE || ParseTyep_RedCedar_TE";
  const std::string g3 = "ParseTyep_Birch_Old || ParseTyep_Rowan || ParseTyep_juniper";
  const std::pair<std::string, const Layout*> byType[kParseTyepCount] = {
      {g1, &ab}, {g2, &abTE}, {"ParseTyep_Alder_Wheel", &ab}, {g3, &single},
      {"ParseTyep_Cedar", &ab}, {"ParseTyep_Cedar_TE", &abTE}, {"ParseTyep_Cedar_Wheel", &ab},
      {"ParseTyep_Hazel", &single}, {"ParseTyep_Hazel_TE", &singleTE}, {"ParseTyep_Larch", &ab},
      {"ParseTyep_Willow", &single}, {"ParseTyep_Hawthorn", &single}, {"ParseTyep_Maple", &ab},
      {"ParseTyep_Maple_TE", &abTE}, {g1, &ab}, {g1, &ab}, {g2, &abTE}, {g1, &ab}, {g1, &ab},
      {g3, &single}, {"ParseTyep_Thistle", &thistle}, {g3, &single}, {g1, &ab}, {g2, &abTE}};
  // clang-format on
  const std::string fields[] = {"f0", "f1", "0x2222", "/f3333", "/f4", "/f5"};
  for (std::size_t type = 0; type < kParseTyepCount; ++type) {
    const auto& [label, layout] = byType[type];
    SCOPED_TRACE(type);
    Texts read(5);
    for (std::size_t i = 0; i < layout->places.size(); ++i)
      read[i] = (i < 3 ? "" : kRoot) + fields[layout->places[i] - '0'];
    const std::size_t minimum = layout->places.back() - '0' + 1;
    for (const std::string& enough : {kLine, kLine.substr(0, kFieldsEnd[minimum])}) {
      const Parsed parsed = parse(enough, type);
      EXPECT_EQ(parsed.fields, read);
      EXPECT_EQ(parsed.log,
                (Log{"initWith ParseLineModel", label, d + layout->start + " = " + enough}));
    }
    // One field short, an empty line (one empty field) and a line without commas fail alike.
    for (const Text& line : {Text(kLine.substr(0, kFieldsEnd[minimum - 1])), Text(""),
                             Text(std::string(9000, 'x')), Text()}) {
      const Parsed parsed = parse(line, type);
      EXPECT_EQ(parsed.fields, Texts(5));
      EXPECT_EQ(parsed.log.back(), line ? layout->tooFew : "DEBUG: " + layout->absent);
    }
  }
  // Compared unsigned: negatives are out of range too, and nothing is parsed.
  for (const std::int64_t type : {std::int64_t{24}, std::int64_t{-1}, INT64_MIN, INT64_MAX})
    EXPECT_EQ(parse(kLine, type).log, (Log{"initWith ParseLineModel", "To be add mode!!!!"}));
}

TEST(ParseLine, TakesFieldsAsWrittenButDropsCarriageReturnsFromImagePaths) {
  const std::pair<std::string, Texts> cases[] = {
      {"Oak\r, v1 ,0x1234\r,/fw\r/oak a.hex,/oak_b.hex\r,extra",
       {"Oak\r", " v1 ", "0x1234\r", "ftp://h/fw/oak a.hex", "ftp://h/oak_b.hex"}},
      {"\xFF\xFE,v\x80,0x1234,,/b\xC3", {"\xFF\xFE", "v\x80", "0x1234", kRoot, "ftp://h/b\xC3"}},
      {std::string(5000, ','), {"", "", "", kRoot, kRoot}},
      {"Oak,v1,0x12,/a,/b", {"Oak", "v1", "0x12", "ftp://h/a", "ftp://h/b"}}};
  for (const auto& [line, fields] : cases)
    EXPECT_EQ(parse(line, ParseTyep_Oak).fields, fields);
  // A checksum too short to read is logged; its line is still read. Characters are counted.
  EXPECT_EQ(parse("Oak,v1,0x12,/a,/b", ParseTyep_Oak).log.back(), "DEBUG: checkSumStr error");
  for (const auto& [text, tooShort] :
       {std::pair{"0x123", true}, {"0x1234", false}, {"ééééé", true}, {"éééééx", false}})
    EXPECT_EQ(isCheckSumStrTooShort(text), tooShort) << text;
}

// A catalogue's line count and filled slots (" slot=version" in slot order, as its log gives
// them); `log` receives its five log lines per slot.
std::string filled(const Text& text, Log* log = nullptr) {
  testing::RecordingDiagnostics diagnostics;
  const UpgTxtViewModel catalogue(UpgTxtModel(text), kRoot, diagnostics);
  std::string out = diagnostics.log.front();
  std::size_t type = 0;
  for (const std::string& line : diagnostics.log) {
    if (!line.starts_with("[DEBUG] download: ")) continue;
    if (log) log->push_back(line);
    const std::size_t at = line.find(".versionStr = ");
    if (at == std::string::npos) continue;
    if (const auto& slot = catalogue.slots().at(type)) {
      out.append(" ").append(line, 18, at - 18).append("=").append(line, at + 14);
      EXPECT_EQ(slot->parseType(), static_cast<std::int64_t>(type));
    }
    ++type;
  }
  EXPECT_EQ(type, kParseTyepCount);
  return out;
}

TEST(UpgTxt, KeysNameChecksAndTheLastMatchDecideTheSlots) {
  std::ifstream in(TRIDENT_FIXTURES_DIR "/records/catalogue-all-families.txt", std::ios::binary);
  const std::string lf{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::string crlf = std::regex_replace(lf, std::regex("\n"), "\r\n");
  const std::string all =
      "lines_ary.count = 25 alder_vm=v1.10 alder_TE_vm=v1.11 alder_wheel_vm=v1.12 "
      "birch_old_vm=v2.01 cedar_vm=v3.00 cedar_TE_vm=v3.01 cedar_wheel_vm=v3.02 hazel_vm=v4.00 "
      "hazel_TE_vm=v4.01 larch_vm=v5.00 willow_vm=v6.00 Hawthorn_vm=v7.00 maple_vm=v8.00 "
      "maple_TE_vm=v8.01 maple_wheel_vm=v8.02 redcedar_vm=v9.00 redcedar_TE_vm=v9.01 "
      "oak_vm=v10.00 linden_vm=v5.00 rowan_vm=v11.00 thistle_vm=v12.00 juniper_vm=v13.00 "
      "poplar_vm=v14.00 poplar_TE_vm=v14.01";
  const std::pair<Text, std::string> cases[] = {
      {lf, all},
      {std::nullopt, "lines_ary.count = 0"},
      {"", "lines_ary.count = 1"},
      // RedCedar lines hold Cedar's keys and a broken line Hazel's: the name check keeps them out.
      {"Cedar,v3.00,0x3C00,/c_a.hex,/c_b.hex\nRedCedar,v9.00,0x9C00,/r_a.hex,/r_b.hex\n"
       "RedCedar,TE,v9.01,0x9C01,/t_a.hex,/t_b.hex\nHazel,v4.00,0x4D00,/h.hex\n"
       "Hazel,v4.01,0x4D01\nHazel,TE,v4.01,0x4D01\n",
       "lines_ary.count = 7 cedar_vm=v3.00 hazel_vm=v4.00 redcedar_vm=v9.00 redcedar_TE_vm=v9.01"},
      // Without a name check a line too short for its layout still fills the slot.
      {"Birch,v2.00,0x2B00,/old.hex\nBirch,v2.01,0x2B01,/new.hex\nOak,v1,0x1234,/o.hex",
       "lines_ary.count = 3 birch_old_vm=v2.01 oak_vm=(null)"},
      // Keys are case-sensitive and found anywhere in a line; fields are still read by position.
      {"x,Thistle,v12,0xCF00,/T.hex\nlegacy,Rowan,v11,0xBE00,/r.hex\nAlder,TE-preview",
       "lines_ary.count = 3 alder_TE_vm=(null) rowan_vm=Rowan"}};
  for (const auto& [text, slots] : cases)
    EXPECT_EQ(filled(text), slots);
  // Every field comes out of a CRLF catalogue as out of an LF one.
  Log lfLog, crlfLog;
  filled(lf, &lfLog);
  filled(crlf, &crlfLog);
  EXPECT_EQ(crlfLog, lfLog);
  const std::string a = "[DEBUG] download: alder_vm.";
  // clang-format off
  EXPECT_EQ(Log(lfLog.begin(), lfLog.begin() + 5), (Log{a + "infoNameStr = Alder",
      a + "versionStr = v1.10", a + "checkSumStr = 0x1A2B",
      a + "aHexFileUrlStr = ftp://h/alder/alder_a.hex",
      a + "bHexFileUrlStr = ftp://h/alder/alder_b.hex"}));
  // clang-format on
}

TEST(RemoteTxtFile, EscapesEveryPathByteOutsideTheKeptSetAndKeepsOnlyAnAbsoluteUrl) {
  // Base, path, what the path becomes in the URL, and whether the URL is absolute.
  // clang-format off
  const std::tuple<std::string, Text, std::string, bool> cases[] = {
      {"ftp://127.0.0.1:2121", "/fw/new board\r\n.hex", "/fw/new%20board%0D%0A.hex", true},
      {"ftp://[::1]:2121", "/fw/caf\xC3\xA9.hex", "/fw/caf%C3%A9.hex", true},
      {"https://h", "/fw/100%#1.hex", "/fw/100%25%231.hex", true},
      {"ftp://h", "/\"<>[\\]^`{|}", "/%22%3C%3E%5B%5C%5D%5E%60%7B%7C%7D", true},
      {"ftp://h", std::string("/\x01\t\x7F\0", 5), "/%01%09%7F%00", true},
      {"ftp://h", "/\xFF\xFE\xC3", "/%FF%FE%C3", true},  // not UTF-8: byte by byte
      {"ftp://h", "/AZaz09!$&'()*+,-./:;=?@_~", "/AZaz09!$&'()*+,-./:;=?@_~", true},
      {"ftp://h", std::nullopt, "(null)", false},
      // The base is ours and not escaped: it must make an absolute URL as it stands.
      {"", "/fw/board.hex", "/fw/board.hex", false}, {":", "/f.hex", "/f.hex", false},
      {"1ftp://h", "/f.hex", "/f.hex", false}, {"ftp://my host", "/f.hex", "/f.hex", false}};
  // clang-format on
  for (const auto& [base, path, escaped, absolute] : cases) {
    testing::RecordingDiagnostics diagnostics;
    const RemoteTxtFileViewModel release(RemoteTxtFileModel("T", "v1", "0x1234", path), base,
                                         diagnostics);
    const std::string url = path ? base + escaped : escaped;
    EXPECT_EQ(release.aHexUrl(), absolute ? Text(url) : std::nullopt);
    EXPECT_EQ(diagnostics.log, Log{"initWithMode ftpTxtUrlStr = " + url});
  }
}

using Bytes = std::vector<std::uint8_t>;

// A device's text as UTF-8: each length of sequence, and what UTF-8 cannot hold as U+FFFD.
TEST(Utf8, WritesEachCodePointAsTheDecoderReadsIt) {
  // clang-format off
  for (const auto& [code, bytes] : std::vector<std::pair<char32_t, std::string>>{
           {U'A', "A"}, {0x7F, "\x7F"}, {0x80, "\xC2\x80"}, {0xE9, "\xC3\xA9"}, {0x7FF, "\xDF\xBF"},
           {0x800, "\xE0\xA0\x80"}, {0x20AC, "\xE2\x82\xAC"}, {0xFFFF, "\xEF\xBF\xBF"},
           {0x10000, "\xF0\x90\x80\x80"}, {0x10FFFF, "\xF4\x8F\xBF\xBF"}, {0xD800, "\xEF\xBF\xBD"},
           {0x110000, "\xEF\xBF\xBD"}}) {
    // clang-format on
    std::string out = "x";
    appendUtf8(out, code);
    EXPECT_EQ(out, "x" + bytes) << std::hex << static_cast<uint32_t>(code);
  }
}

TEST(FwInfo, DecodesEveryFieldTheReportHoldsWholeByItsRule) {
  // A report as the board sends it: 24 unread bytes, the two ROM names, an unread gap, the
  // version (least significant byte first) and the unique ID.
  const std::string report = std::string(24, '\xA5') + "QKLDR120qkAPP301\xA5\xA5\xA5\xA5" +
                             std::string("\0\0\1\2", 4) + "TRD0001234ABCDEF";
  // clang-format off
  const std::pair<std::size_t, std::string> sizes[] = {
      {0, "Unknown!|Unknown!|Get version Error!|"}, {31, "Unknown!|Unknown!|Get version Error!|"},
      {32, "QKLDR120|Unknown!|Get version Error!|"}, {47, "QKLDR120|qkAPP301|Get version Error!|"},
      {63, "QKLDR120|qkAPP301|V2.1|"}, {64, "QKLDR120|qkAPP301|V2.1|TRD0001234ABCDEF"}};
  // clang-format on
  for (const auto& [size, decoded] : sizes) {
    // Exactly `size` bytes, so reading past them is reading past the allocation; cleared once
    // the model is made, so what is decoded is what the model copied.
    Bytes buffer(report.begin(), report.begin() + static_cast<long>(size));
    const FwInfoDataModel model(buffer.data(), buffer.size());
    std::fill(buffer.begin(), buffer.end(), 0);
    testing::RecordingDiagnostics diagnostics;
    const FwInfoDataViewModel info(model, diagnostics);
    EXPECT_EQ(info.ld_rom_str() + "|" + info.ap_rom_str() + "|" + info.version_str() + "|" +
                  info.uid_str(),
              decoded);
    const Log log = {"LdRomStr = QKLDR120, qkStr = QK", "ApRomStr = qkAPP301, qkStr = QK"};
    EXPECT_EQ(diagnostics.log, Log(log.begin(), log.begin() + (size < 32 ? 0 : size < 40 ? 1 : 2)));
  }
  EXPECT_FALSE(FwInfoDataModel(nullptr, 64).uid_ascii_ary());

  testing::RecordingDiagnostics diagnostics;
  const FwInfoDataViewModel info(FwInfoDataModel(nullptr, 0), diagnostics);
  // A ROM name starts with QK in either case and has three characters at least. Zero bytes give
  // no character; bytes above 0x7F are one Latin-1 character each, written as UTF-8.
  const std::tuple<std::string, std::string, std::string> roms[] = {
      // clang-format off
      {"qkldr120", "qkldr120", "LdRomStr = qkldr120, qkStr = QK"}, {"qKx", "qKx", "LdRomStr = qKx, qkStr = QK"},
      {"ABLDR120", "Unknown!", "LdRomStr = ABLDR120, qkStr = AB"},
      {std::string("\0QK\0x", 5), "QKx", "LdRomStr = QKx, qkStr = QK"},
      {std::string("QK\0\0\0\0\0\0", 8), "Unknown!!", ""},
      {"\xE9\xE9x", "Unknown!", "LdRomStr = \xC3\xA9\xC3\xA9x, qkStr = \xC3\x89\xC3\x89"},
      {"\xFEzx", "Unknown!", "LdRomStr = \xC3\xBEzx, qkStr = \xC3\x9EZ"},
      {"q\xF7x", "Unknown!", "LdRomStr = q\xC3\xB7x, qkStr = Q\xC3\xB7"},
      {"Q", "Unknown!", ""}};
  // clang-format on
  for (const auto& [bytes, name, log] : roms) {
    diagnostics.log.clear();
    EXPECT_EQ(info.getLdRomStrBy(Bytes(bytes.begin(), bytes.end())), name);
    EXPECT_EQ(diagnostics.log, log.empty() ? Log{} : Log{log});
  }
  // clang-format off
  const std::pair<Bytes, std::string> versions[] = {
      {{0, 0, 0, 2}, "V2.0"}, {{0, 0, 1, 2}, "V2.1"}, {{0, 3, 1, 2}, "V2.1.3"},
      {{4, 3, 1, 2}, "V2.1.3.4"}, {{0, 0, 0, 0}, "V0.0"}, {{0, 5, 0, 1}, "V1.0.5"},
      {{255, 255, 255, 255}, "Unknown!"}, {{0, 0, 0, 255}, "V255.0"},
      {{255, 255, 255, 254}, "V254.255.255.255"}, {{0x80, 0, 0x90, 1}, "V1.144.0.128"},
      {{0, 0, 1}, "Get version Error!"}};
  // clang-format on
  for (const auto& [bytes, version] : versions)
    EXPECT_EQ(info.getVersionStrBy(bytes), version);
  // The ID is its characters without any test.
  EXPECT_EQ(info.getUidStrBy(Bytes{'I', 'D', 0, 0xFF, 0x7F}), "ID\xC3\xBF\x7F");
}

}  // namespace
}  // namespace trident
