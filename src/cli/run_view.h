#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/flash_outcome.h"
#include "common/diagnostics.h"

namespace trident {

// What a run of trident-flash shows, apart from how it runs: lines and a bar for one board at a
// time, or a row per board and a table at the end for several. Boards are known by their number
// in the run, from 0. Called on the run's thread.
class RunView {
 public:
  virtual ~RunView() = default;
  // Where the link and the runner log, and where each board's engine writes (its trace too).
  virtual Diagnostics& log() = 0;
  virtual Diagnostics& engineLog() = 0;

  virtual void started() = 0;
  // No board is being updated and one is wanted: at the start, and after each in a loop.
  virtual void waiting() = 0;
  // The record names the board: its name, path and serial number.
  virtual void taken(size_t board, const BoardRecord& record) = 0;
  // Facts as they come, for a view that reports them: the release shown (record.version), the
  // firmware in hand (its size and SHA-256), bytes programmed (record.sent of record.total).
  virtual void released(size_t /*board*/, const BoardRecord& /*record*/) {}
  virtual void downloaded(size_t /*board*/, const BoardRecord& /*record*/) {}
  virtual void programmed(size_t /*board*/, const BoardRecord& /*record*/) {}
  virtual void say(size_t board, const std::string& line) = 0;
  // A line that must not be lost among the others (an error).
  virtual void alert(size_t board, const std::string& line) = 0;
  // `share` of the image has been sent, or of the firmware downloaded (below 0: of a size not
  // told); `figures` says so ("45%  14336/32768 bytes  0:02 left").
  virtual void progress(size_t board, double share, const std::string& figures) = 0;
  virtual void concluded(size_t board, const BoardRecord& record) = 0;
  // It is done and has gone: a run that goes on for hours keeps a line per board, not its row.
  virtual void forgotten(size_t board) = 0;
  // A line about no board in particular.
  virtual void note(const std::string& line) = 0;
  // Something beside the updates went wrong (a report or the history not kept): said, the
  // verdicts stand.
  virtual void trouble(const std::string& line) { note(line); }
  // A line that ends the run in failure before any board was taken.
  virtual void failed(const std::string& line) { note(line); }
  // The run ends with exit status `status`.
  virtual void finished(const std::vector<BoardRecord>& records, bool interrupted, int status) = 0;
};

}  // namespace trident
