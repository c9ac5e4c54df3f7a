#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace trident {

// Bumped when a field changes meaning or goes; new fields and events keep it.
inline constexpr int kJsonSchema = 1;

// One JSON object as a line of text, "\n" included. Text that is no UTF-8 (a board's serial
// number, a server's message) is written with U+FFFD in place of each bad byte: the line is always
// valid JSON.
std::string jsonLine(const nlohmann::ordered_json& object);
// Seconds as the JSON lines give them: to the millisecond.
double jsonSeconds(double seconds);

// trident-flash's output for scripts: JSON Lines, one object per event, each flushed as it is
// written so that a reader sees it at once. Every object begins with "event" and "time" (RFC 3339,
// UTC, milliseconds); the first of a run also carries "schema".
class JsonLines {
 public:
  explicit JsonLines(std::FILE* out) : out_(out) {}
  void write(std::string_view event, const nlohmann::ordered_json& fields = {});

 private:
  std::FILE* out_;
  bool first_ = true;
};

}  // namespace trident
