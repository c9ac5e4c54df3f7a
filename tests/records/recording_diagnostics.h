#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"

namespace trident::test {

// Keeps both diagnostic channels so tests can check the exact lines the product writes.
class RecordingDiagnostics final : public Diagnostics {
 public:
  void systemLog(std::string_view line) override { systemLogLines.emplace_back(line); }
  void standardOutput(std::string_view text) override { standardOutputText.append(text); }

  std::vector<std::string> systemLogLines;
  std::string standardOutputText;
};

}  // namespace trident::test
