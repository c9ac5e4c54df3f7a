#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/run_view.h"

namespace trident {

// One board at a time on a stream: its lines as they come, and a bar kept in place on a terminal
// or a line at every tenth of the image otherwise. In a loop each board's verdict is one line
// with its number. The log and the protocol trace go where `log` sends them.
class SingleView final : public RunView {
 public:
  SingleView(std::FILE* out, bool terminal, bool loop, Diagnostics& log)
      : out_(out), terminal_(terminal), loop_(loop), log_(log) {}

  Diagnostics& log() override { return log_; }
  Diagnostics& engineLog() override { return log_; }
  void started() override {}
  void waiting() override;
  void taken(size_t, const BoardRecord&) override { plain_.restart(); }
  void say(size_t board, const std::string& line) override;
  void alert(size_t board, const std::string& line) override { say(board, line); }
  void progress(size_t board, double share, const std::string& figures) override;
  void concluded(size_t board, const BoardRecord& record) override;
  void forgotten(size_t) override {}
  void note(const std::string& line) override { say(0, line); }
  void finished(const std::vector<BoardRecord>& records, bool interrupted, int) override;

 private:
  std::FILE* out_;
  bool terminal_;
  bool loop_;
  Diagnostics& log_;
  PlainProgress plain_;
  bool barDrawn_ = false;
};

}  // namespace trident
