// The input parsers on arbitrary bytes: whatever the server or the board sends, no parser reads
// past its input (the sanitizers watch that), and what it hands on keeps its rules.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/fw_info.h"
#include "engine/hex_loader.h"
#include "fuzz_check.h"
#include "records/checksum_text.h"
#include "records/parse_line.h"
#include "records/release_text.h"
#include "records/remote_txt_file.h"
#include "records/split.h"
#include "records/upg_txt.h"
#include "records/url_escape.h"
#include "update/release_signature.h"

namespace trident::fuzz {
namespace {

std::string_view text(std::span<const uint8_t> input) {
  return {reinterpret_cast<const char*>(input.data()), input.size()};
}
constexpr char kBase[] = "ftp://127.0.0.1:2121";
NullDiagnostics diag;  // the parsers' diagnostics go nowhere

}  // namespace

// The downloaded tmp.hex is whatever the server sent: no line of it may take the loader past its
// line or past the image, and a file it accepts has an end, so nothing cut short passes.
void hexLoader(std::span<const uint8_t> input) {
  HexImage image;
  int32_t lineNO = 0;
  decodeHexText(text(input), image, lineNO, diag);
  check(image.length <= image.capacity && image.capacity <= input.size() / 2 && !image.tooLarge,
        "the image stays within its buffer, sized from the text");
  check(lineNO >= (input.empty() ? -1 : 0) && static_cast<size_t>(lineNO + 1) <= input.size(),
        "the text gives lines, none of them empty");
  bool end = false;
  for (const auto& line : splitBy(text(input), '\n'))
    end = end || (line.size() >= 11 && line[0] == ':' && line.substr(7, 2) == "01");
  check(image.damagedLine || input.empty() || end, "a file taken whole has an end-of-file record");
}

// A release-description body as the release fetch reads it: whatever it holds, a release that is
// accepted downloads its firmware from the update server and names a 16-bit checksum.
void releaseText(std::span<const uint8_t> input) {
  const ReleaseReading reading =
      readReleaseText(text(input), std::string(kBase) + "/release.txt", kBase);
  check(input.size() <= kMaxReleaseDescriptionBytes || reading.refusal, "oversized is refused");
  if (reading.refusal) return;
  check(reading.release && reading.release->aHexUrl() &&
            reading.release->aHexUrl()->starts_with(std::string(kBase) + "/") &&
            isAbsoluteUrl(*reading.release->aHexUrl()),
        "an accepted release downloads from the update server");
  check(ftpChecksumInteger(reading.release->checkSumStr().value_or("")) <= 0xFFFF,
        "the expected checksum is 16 bits");
  const auto& sha256 = reading.release->firmwareSha256();
  check(!sha256 || (sha256->size() == 64 &&
                    sha256->find_first_not_of("0123456789abcdef") == std::string::npos),
        "a firmware bound to its release is bound by a whole SHA-256");
  (void)hexStringToInteger(text(input));
}

// One catalogue line read as a family: the first byte picks the family (as a signed value, so
// families past the last one and negative ones are tried too), the rest is the line. A one-byte
// input stands for an absent line.
void parseLine(std::span<const uint8_t> input) {
  if (input.empty()) return;
  const auto parseType = static_cast<int64_t>(static_cast<int8_t>(input[0]));
  std::optional<std::string> line;
  if (input.size() > 1) line.emplace(text(input.subspan(1)));
  ParseLineViewModel parsed(ParseLineModel(line, parseType), kBase, diag);
  if (!line || parseType < 0 || parseType >= static_cast<int64_t>(kParseTyepCount)) {
    check(!parsed.infoNameStr() && !parsed.aHexFileUrlStr(), "nothing read, nothing set");
  }
  // Every layout on the same line, as the catalogue's family scans may run them.
  parsed.parseLineSingle();
  parsed.parseLineSingle_TE();
  parsed.parseLineAB();
  parsed.parseLineAB_TE();
  parsed.parseThistle();
  for (const auto* url : {&parsed.aHexFileUrlStr(), &parsed.bHexFileUrlStr()}) {
    if (*url) check(url->value().find('\r') == std::string::npos, "paths lose every CR");
  }
}

// A whole multi-family catalogue text: every line is tried against all 24 families' keys and read
// with the layout of each family it names.
void catalogue(std::span<const uint8_t> input) {
  const UpgTxtViewModel catalogue(UpgTxtModel(std::string(text(input))), kBase, diag);
  for (size_t type = 0; type < kParseTyepCount; ++type) {
    const auto& slot = catalogue.slots()[type];
    if (slot) check(slot->parseType() == static_cast<int64_t>(type), "slot n holds family n");
  }
}

// The firmware-information report decoder on reports of any length and content, and each display
// rule on arbitrary byte arrays: whatever the board sends, the window gets valid UTF-8 text.
void fwInfo(std::span<const uint8_t> input) {
  const auto utf8 = [](const std::string& s) { return decodeUtf8(s).has_value(); };
  const FwInfoDataModel model(input.data(), input.size());
  check(model.uid_ascii_ary().has_value() == (input.size() >= 64), "the last field needs 64 bytes");
  const FwInfoDataViewModel info(model, diag);
  check(utf8(info.ld_rom_str()) && utf8(info.ap_rom_str()) && utf8(info.version_str()) &&
            utf8(info.uid_str()) && utf8(info.getLdRomStrBy(input)) &&
            utf8(info.getApRomStrBy(input)) && utf8(info.getVersionStrBy(input)) &&
            utf8(info.getUidStrBy(input)),
        "the window's text is UTF-8, for any report");
}

// A release's signature file and the publisher's key as the server or the user give them: neither
// reader goes past its text, and no bytes that are not the publisher's signature pass as one.
void releaseSignature(std::span<const uint8_t> input) {
  Error why;
  (void)readReleaseKey(text(input), why);
  static const auto key =
      readReleaseKey("RWTa6nPWsq0OoLSwjf0vPVIcs3fjoS52OPr/tS7S/IeBo0eJ7v4Od1zX", why);
  check(key.has_value(), "the fixed key reads");
  if (const auto signature = readReleaseSignature(text(input), why)) {
    check(signatureRefusal(*key, *signature, "TRIDENT,V9,0x1234,/evil.hex\n").has_value(),
          "a release no one signed is refused");
  } else {
    check(!why.reason.empty() && why.line.value_or(0) >= 1, "a refusal says why and where");
  }
}

}  // namespace trident::fuzz
