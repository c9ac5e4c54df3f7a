#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/json_lines.h"
#include "cli/run_view.h"

namespace trident {

// trident-flash --json: every event of the run as a line of JSON on standard output, and nothing
// else there; the log and the protocol trace are left out. Events about a board name it as the
// rows do, with its path and serial number where known. Programming progress comes at most ten
// times a second per board, and its last figure always comes before the board's verdict.
class JsonView final : public RunView {
 public:
  // `variant` is the firmware variant asked of the server; none for a local file.
  JsonView(std::FILE* out, std::optional<std::string> variant);

  Diagnostics& log() override { return none_; }
  Diagnostics& engineLog() override { return none_; }
  void started() override {}
  void waiting() override { lines_.write("waiting"); }
  void taken(size_t board, const BoardRecord& record) override;
  void say(size_t, const std::string&) override {}
  void alert(size_t board, const std::string& line) override;
  void progress(size_t, double, const std::string&) override {}
  void released(size_t board, const BoardRecord& record) override;
  void downloaded(size_t board, const BoardRecord& record) override;
  void programmed(size_t board, const BoardRecord& record) override;
  void concluded(size_t board, const BoardRecord& record) override;
  void forgotten(size_t) override {}
  void note(const std::string&) override {}
  void failed(const std::string& line) override;
  void trouble(const std::string& line) override { failed(line); }
  void finished(const std::vector<BoardRecord>& records, bool interrupted, int status) override;

  // An error of the whole run, before or without a board (bad usage, an unreadable --hex file),
  // and the summary that ends it.
  static void failRun(std::FILE* out, const std::string& message, int status);

 private:
  struct Pace {
    std::chrono::steady_clock::time_point last{};
    bool pending = false;  // a figure not written yet
  };
  nlohmann::ordered_json about(size_t board) const;
  void writeProgress(size_t board, const BoardRecord& record);

  JsonLines lines_;
  NullDiagnostics none_;
  std::optional<std::string> variant_;
  std::map<size_t, nlohmann::ordered_json> boards_;  // each board's name, path and serial
  std::map<size_t, Pace> paces_;
};

}  // namespace trident
