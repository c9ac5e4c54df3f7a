// One catalogue line read as a family: the first byte picks the family (as a signed value, so
// families past the last one and negative ones are tried too), the rest is the line. A one-byte
// input stands for an absent line.
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "records/parse_line.h"
#include "targets.h"

namespace trident::fuzz {

void parseLine(std::span<const uint8_t> input) {
  if (input.empty()) return;
  const auto parseType = static_cast<int64_t>(static_cast<int8_t>(input[0]));
  std::optional<std::string> line;
  if (input.size() > 1)
    line.emplace(reinterpret_cast<const char*>(input.data() + 1), input.size() - 1);

  NullDiagnostics diag;
  ParseLineViewModel parsed(ParseLineModel(line, parseType), "ftp://127.0.0.1:2121", diag);
  const auto pathsClean = [&] {
    for (const auto* url : {&parsed.aHexFileUrlStr(), &parsed.bHexFileUrlStr()}) {
      if (*url) check(url->value().find('\r') == std::string::npos, "paths lose every CR");
    }
  };
  pathsClean();
  if (!line || parseType < 0 || parseType >= static_cast<int64_t>(kParseTyepCount)) {
    check(!parsed.infoNameStr() && !parsed.aHexFileUrlStr(), "nothing read, nothing set");
  }

  // Every layout on the same line, as the catalogue's family scans may run them.
  parsed.parseLineSingle();
  parsed.parseLineSingle_TE();
  parsed.parseLineAB();
  parsed.parseLineAB_TE();
  parsed.parseThistle();
  pathsClean();
}

}  // namespace trident::fuzz
