#include "cli/json_lines.h"

#include <cmath>

#include "common/diagnostics.h"

namespace trident {

std::string jsonLine(const nlohmann::ordered_json& object) {
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

double jsonSeconds(double seconds) {
  return std::round(seconds * 1000) / 1000;
}

void JsonLines::write(std::string_view event, const nlohmann::ordered_json& fields) {
  nlohmann::ordered_json line;
  line["event"] = event;
  line["time"] = utcTimeText(std::chrono::system_clock::now());
  if (first_) line["schema"] = kJsonSchema;
  first_ = false;
  if (fields.is_object()) line.update(fields);
  const std::string text = jsonLine(line);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

}  // namespace trident
