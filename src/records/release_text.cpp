#include "records/release_text.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <limits>

#include "common/diagnostics.h"
#include "records/checksum_text.h"
#include "records/split.h"
#include "records/url_escape.h"
#include "records/utf8.h"

namespace trident {

namespace {

// White space and line breaks as the scanner skips them: Unicode separators, the ASCII controls
// from tab to carriage return, and NEL.
bool isScannerSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

int hexDigitValue(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

int64_t scanHex(std::u32string_view text) {
  size_t i = 0;
  while (i < text.size() && isScannerSpace(text[i]))
    ++i;
  if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      hexDigitValue(text[i + 2]) >= 0) {
    i += 2;
  }
  uint64_t value = 0;
  for (; i < text.size() && hexDigitValue(text[i]) >= 0; ++i) {
    value = value * 16 + static_cast<uint64_t>(hexDigitValue(text[i]));
    if (value > std::numeric_limits<uint32_t>::max()) value = std::numeric_limits<uint32_t>::max();
  }
  return static_cast<int64_t>(value);
}

}  // namespace

std::optional<std::string> decodeUtf8(std::string_view body) {
  if (!codePoints(body)) return std::nullopt;
  return std::string(body);
}

bool hasCommentLines(std::string_view text) {
  return text.find("//") != std::string_view::npos;
}

std::string dropCommentLines(std::string_view text) {
  std::string kept;
  for (const auto& line : splitBy(text, '\n')) {
    if (!hasCommentLines(line)) kept += line;
  }
  return kept;
}

std::string bodyDescription(std::string_view body) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string out = "<";
  for (size_t i = 0; i < body.size(); ++i) {
    if (i > 0 && i % 4 == 0) out.push_back(' ');
    const auto byte = static_cast<unsigned char>(body[i]);
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
  }
  out.push_back('>');
  return out;
}

int64_t hexStringToInteger(std::string_view text) {
  // Release lines are decoded text already; anything else reads as no number.
  const auto points = codePoints(text);
  return points ? scanHex(*points) : 0;
}

uint64_t ftpChecksumInteger(std::string_view checkSumStr) {
  const std::u32string points = codePoints(checkSumStr).value_or(std::u32string());
  const std::u32string_view digits =
      std::u32string_view(points).substr(std::min<size_t>(2, points.size()));
  const auto pair = [&](size_t at) {
    return static_cast<uint64_t>(scanHex(digits.substr(std::min(at, digits.size()), 2)));
  };
  return pair(2) * 256 + pair(0);
}

namespace {

// Collects the lines the record writes while it is built.
class LogLines final : public Diagnostics {
 public:
  explicit LogLines(std::vector<std::string>& lines) : lines_(lines) {}
  void systemLog(std::string_view line) override { lines_.emplace_back(line); }
  void standardOutput(std::string_view) override {}

 private:
  std::vector<std::string>& lines_;
};

// The scheme and authority a URL names, the scheme and host in lower case.
std::string origin(std::string_view url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  const size_t end = url.find_first_of("/?#", scheme + 3);
  std::string out(url.substr(0, end == std::string_view::npos ? url.size() : end));
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

}  // namespace

ReleaseReading readReleaseText(std::string_view body, std::string_view url,
                               std::string_view ftpRootUrlStr, uint64_t announcedSize) {
  ReleaseReading reading;
  auto& log = reading.log;
  const auto refuse = [&](std::string alert) {
    reading.refusal = std::move(alert);
    return std::move(reading);
  };
  if (const uint64_t size = std::max<uint64_t>(body.size(), announcedSize);
      size > kMaxReleaseDescriptionBytes) {
    log.push_back(
        strprintf("DEBUG: [Download] the release description holds %llu bytes, more than "
                  "%zu; refused",
                  static_cast<unsigned long long>(size), kMaxReleaseDescriptionBytes));
    return refuse("Parse txt file error");
  }
  std::optional<std::string> text = decodeUtf8(body);
  log.push_back(joined({"DEBUG: [Download] dataTask data = ", bodyDescription(body),
                        ", ftpUrlTxtDataStr = ", orNull(text)}));
  log.push_back(joined({"DEBUG: [Download] 下載根目錄 = ", ftpRootUrlStr}));
  log.push_back(joined({"DEBUG: [Download] 下載檔案txt連結 = ", url}));
  log.push_back(joined({"DEBUG: [Download] 下載檔案txt連結的內容 = ", orNull(text)}));
  if (text && hasCommentLines(*text)) {
    log.push_back("DEBUG: [Download] 下載檔案txt 有 // ");
    text = dropCommentLines(*text);
    log.push_back(joined({"DEBUG: [Download] 去 // 後 = ", *text}));
  }
  // No text at all (not UTF-8) has no fields; an empty text has one.
  std::vector<std::string> fields = text ? splitByComma(*text) : std::vector<std::string>{};
  if (fields.size() < 4) return refuse("Parse txt file error");

  // A release file ends its line as every editor saves it, with LF or CRLF.
  std::string& path = fields[3];
  while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
    path.pop_back();
  LogLines lines(log);
  const auto made = std::make_shared<RemoteTxtFileViewModel>(
      RemoteTxtFileModel(fields[0], fields[1], fields[2], path), ftpRootUrlStr, lines);
  reading.release = made;
  const auto& release = *made;

  // A path such as "@other-host:21/f.hex" would turn the base into a user name and fetch the
  // firmware from another host.
  if (!path.starts_with('/') || !release.aHexUrl() ||
      origin(*release.aHexUrl()) != origin(ftpRootUrlStr)) {
    log.push_back(
        joined({"DEBUG: [Download] hexFileUrlStr is not a path on the update server: ", path}));
    return refuse("Parse txt file error");
  }
  const auto& checkSumStr = release.checkSumStr();
  if (!checkSumStr || !hasChecksumDigits(*checkSumStr)) {
    log.push_back("DEBUG: checkSumStr error");
    return refuse("checkSumStr error");
  }
  // A field past the fourth may bind the firmware to this release: "sha256:" and the file's
  // SHA-256 as sha256sum writes it. Readers that know four fields pass over it; this one refuses
  // it malformed, in any case, or named twice, rather than download a firmware it could not check.
  for (size_t i = 4; i < fields.size(); ++i) {
    std::string field = fields[i];
    while (!field.empty() && (field.back() == '\n' || field.back() == '\r'))
      field.pop_back();
    std::string prefix = field.substr(0, 7);
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (prefix != "sha256:") continue;
    const std::string digits = field.substr(7);
    if (!field.starts_with("sha256:") || digits.size() != 64 ||
        digits.find_first_not_of("0123456789abcdef") != std::string::npos ||
        release.firmwareSha256()) {
      log.push_back(joined({"DEBUG: [Download] the sha256: field is malformed",
                            release.firmwareSha256() ? " or named twice: " : ": ", field}));
      return refuse("Parse txt file error");
    }
    made->setFirmwareSha256(digits);
  }
  log.push_back(joined({"DEBUG: [Download] pasre:版本 = ", orNull(release.versionStr()),
                        ", checkSum = ", orNull(checkSumStr),
                        ", hexFileUrlStr = ", orNull(release.hexFileUrlStr())}));
  log.push_back(joined({"DEBUG: [Download] aHexUrl = ", orNull(release.aHexUrl())}));
  return reading;
}

}  // namespace trident
