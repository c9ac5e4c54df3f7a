// trident-flash: the window's update, from the command line.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/flash_all.h"
#include "cli/flash_options.h"
#include "cli/flash_session.h"
#include "common/diagnostics.h"
#include "common/event_loop.h"
#include "engine/hex_loader.h"
#include "hid/hid_backend.h"
#include "update/curl_transfer.h"

namespace {

using namespace trident;

std::atomic<bool> interrupted{false};

// Where a downloaded firmware file is kept: a private folder, gone when the tool ends.
class WorkDir {
 public:
  WorkDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "trident-flash.XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~WorkDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "trident-flash: %s (see trident-flash --help)\n", message.c_str());
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = parseFlashOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.error) return usageError(*parsed.error);
  const FlashOptions& options = parsed.options;
  if (options.help) {
    std::printf(kFlashUsage, kDevOptionsHelp.data());
    return 0;
  }
  if (options.version) {
    std::printf("trident-flash %s\n", TRIDENT_VERSION);
    return 0;
  }
  if (options.hexFile && !std::ifstream(*options.hexFile)) {
    std::fprintf(stderr, "trident-flash: cannot read %s\n", options.hexFile->c_str());
    return static_cast<int>(FlashOutcome::FileError);
  }
  // A local file is judged before anyone is asked to plug a board in; the engine checks it again
  // when it loads it, as it does a downloaded one.
  if (options.hexFile) {
    HexImage image;
    int32_t lines = 0;
    NullDiagnostics quiet;
    if (readHexImage(*options.hexFile, image, lines, quiet) == HexLoadStatus::Loaded &&
        image.damagedLine) {
      std::fprintf(stderr, "trident-flash: %s\n", damagedFileMessage(*image.damagedLine).c_str());
      return static_cast<int>(FlashOutcome::FileError);
    }
  }

  // A reader that goes away (`| head`) must not end an update halfway: what is written to it is
  // lost, the update goes on.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGINT, [](int) { interrupted = true; });
  std::signal(SIGTERM, [](int) { interrupted = true; });

  // libcurl is set up for the whole run; hidapi ends after everything else, then libcurl.
  CurlLibrary curl;
  HidapiLibrary hidapi(!options.dev.virtualHidDir);
  std::unique_ptr<Diagnostics> diag;
  if (options.quiet) {
    diag = std::make_unique<NullDiagnostics>();
  } else {
    diag = std::make_unique<ConsoleDiagnostics>("trident-flash");
  }
  WorkDir work;
  if (work.path().empty()) {
    std::fprintf(stderr, "trident-flash: cannot make a working folder in %s\n",
                 std::filesystem::temp_directory_path().c_str());
    return static_cast<int>(FlashOutcome::FileError);
  }
  EventLoop loop;
  if (options.all) {
    BoardRows rows(stderr, ::isatty(2) == 1);
    RowsLog rowsLog(rows);
    NullDiagnostics quiet;
    FlashAll all(options, loop, options.quiet ? static_cast<Diagnostics&>(quiet) : rowsLog, rows,
                 work.path());
    return all.run(interrupted);
  }

  int worst = 0;
  for (int board = 1;; ++board) {
    StreamOutput out(stderr, ::isatty(2) == 1);
    ConsoleWindow window(out);
    FlashSession session(options, loop, *diag, work.path(), window);
    const auto started = std::chrono::steady_clock::now();
    const FlashOutcome outcome = session.run(interrupted);
    if (outcome == FlashOutcome::Interrupted) {
      window.say("trident-flash: interrupted");
      return 130;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!options.loop) {
      window.say(window.verdict());
      return static_cast<int>(outcome);
    }
    if (outcome == FlashOutcome::TimedOut && !session.boardTaken() && options.wait) {
      // No further board came within --wait; none at all is a time-out, as without --loop.
      return board == 1 ? static_cast<int>(outcome) : worst;
    }
    window.say(strprintf("board %d: %s (%s, %.1f s, exit status %d)", board,
                         window.verdict().c_str(),
                         window.version().empty() ? "no release" : window.version().c_str(),
                         seconds, static_cast<int>(outcome)));
    if (outcome != FlashOutcome::Updated) worst = static_cast<int>(outcome);
    switch (session.waitForRemoval(interrupted)) {
      case FlashSession::Removal::Gone:
        break;
      case FlashSession::Removal::Interrupted:
        window.say("trident-flash: interrupted");
        return 130;
      case FlashSession::Removal::TimedOut:
        // A board left plugged in (one that stopped answering) ends a run bounded by --wait.
        window.say("trident-flash: the board was not unplugged in time");
        return worst;
    }
  }
}
