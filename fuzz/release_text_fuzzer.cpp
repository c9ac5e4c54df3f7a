// A release-description body as the update server may send it, through the same steps the
// release fetch takes: UTF-8 check, comment lines, the comma split, the release record and its
// URL, the checksum length rule and the expected checksum.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "records/checksum_text.h"
#include "records/remote_txt_file.h"
#include "records/split.h"
#include "records/url_escape.h"
#include "targets.h"
#include "records/release_text.h"

namespace trident::fuzz {

void releaseText(std::span<const uint8_t> input) {
  const std::string_view body(reinterpret_cast<const char*>(input.data()), input.size());
  NullDiagnostics diag;

  const size_t size = body.size();
  check(bodyDescription(body).size() == (size == 0 ? 2 : 2 + 2 * size + (size - 1) / 4),
        "two digits per byte, a blank per group of four, two brackets");
  const int64_t number = hexStringToInteger(body);
  check(number >= 0 && number <= 0xFFFFFFFF, "scanned numbers fit in 32 bits");
  check(ftpChecksumInteger(body) <= 0xFFFF, "the expected checksum is 16 bits");
  (void)isCheckSumStrTooShort(body);

  std::optional<std::string> text = decodeUtf8(body);
  if (!text) return;
  check(*text == body, "valid UTF-8 is taken unchanged");
  if (hasCommentLines(*text)) {
    const std::string kept = dropCommentLines(*text);
    check(kept.size() < text->size(), "a comment line always goes");
    check(kept.find('\n') == std::string::npos, "the kept lines are joined");
    text = kept;
  }
  const std::vector<std::string> fields = splitByComma(*text);
  check(fields.size() == static_cast<size_t>(std::count(text->begin(), text->end(), ',')) + 1,
        "one field more than commas");
  if (fields.size() < 4) return;

  const RemoteTxtFileModel model(fields[0], fields[1], fields[2], fields[3]);
  const RemoteTxtFileViewModel release(model, "ftp://127.0.0.1:2121", diag);
  if (release.aHexUrl()) check(isAbsoluteUrl(*release.aHexUrl()), "the image URL is absolute");
  check(legacyPercentEscape(fields[3]).size() >= fields[3].size(), "escaping never shortens");
  (void)isCheckSumStrTooShort(fields[2]);
  check(ftpChecksumInteger(fields[2]) <= 0xFFFF, "the expected checksum is 16 bits");
}

}  // namespace trident::fuzz
