// trident-flash: the window's update, from the command line.
#include <algorithm>
#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/board_list.h"
#include "cli/firmware_source.h"
#include "cli/flash_options.h"
#include "cli/flash_runner.h"
#include "cli/json_view.h"
#include "cli/report_view.h"
#include "cli/rows_view.h"
#include "cli/single_view.h"
#include "common/diagnostics.h"
#include "common/event_loop.h"
#include "common/work_folder.h"
#include "hid/hid_backend.h"
#include "records/variants.h"
#include "update/curl_transfer.h"

namespace {

using namespace trident;

std::atomic<bool> interrupted{false};

// A run that ends before any board: one line on standard error, or with --json the error and the
// summary on standard output.
int failRun(bool json, const std::string& line, int status) {
  if (json) {
    JsonView::failRun(stdout, line, status);
  } else {
    std::fprintf(stderr, "%s\n", printSafe(line, false).c_str());
  }
  return status;
}

// What a bug report needs to know besides the run itself.
std::string about(const FlashOptions& options, const std::vector<std::string>& args) {
  std::string command = "trident-flash";
  for (const auto& arg : args)
    command += " " + arg;
  return "program: trident-flash " TRIDENT_VERSION "\ncommand: " + printSafe(command, false) +
         "\nsystem: " + systemDescription() + "\nlibraries: " + hidLibraryVersion() + ", " +
         curlLibraryVersion() + ", Qt not linked\nserver: " +
         printSafe(options.dev.serverUrl.value_or(TRIDENT_UPDATE_SERVER_URL), false) +
         "\nrelease key: " +
         (options.releaseKey ? keyIdText(options.releaseKey->id) : std::string("none")) +
         "\nvariant: " + options.variantName().value_or("- (a local file)") + "\n";
}

// A report would overwrite what the run reads, or the JSON lines a script reads: refused before
// anything is done.
std::optional<std::string> reportClash(const FlashOptions& options) {
  if (!options.report) return std::nullopt;
  const auto same = [&](const std::optional<std::string>& other) {
    std::error_code ignored;
    return other && std::filesystem::equivalent(*options.report, *other, ignored);
  };
  if (same(options.hexFile)) return "--report names the --hex file, which it would overwrite";
  if (same(options.dev.releaseKey)) return "--report names the --release-key file";
  if (same(UpdateHistory::defaultFile().string())) return "--report names the update history";
  if (options.json && same("/dev/stdout")) {
    return "--report names standard output, which --json keeps for its lines";
  }
  return std::nullopt;
}

int flash(int argc, char** argv) {
  // hidapi reads a device's serial number and name as multibyte text: in the C locale anything
  // past ASCII would be lost. The system gives them as UTF-8 whatever the user's language.
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "");
  const std::vector<std::string> args(argv + 1, argv + argc);
  const auto parsed = parseFlashOptions(args);
  if (parsed.error) {
    // A script that asked for JSON gets its bad usage as JSON too.
    const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
    return failRun(json, "trident-flash: " + *parsed.error + " (see trident-flash --help)", 64);
  }
  const FlashOptions& options = parsed.options;
  if (const auto clash = reportClash(options)) {
    return failRun(options.json, "trident-flash: " + *clash + " (see trident-flash --help)", 64);
  }
  if (options.help) {
    std::printf(kFlashUsage, kDevOptionsHelp.data());
    return 0;
  }
  if (options.version) {
    std::printf("trident-flash %s\n", TRIDENT_VERSION);
    return 0;
  }

  // A look that takes a moment, and writes to no board: nothing for Ctrl-C to wait for.
  if (options.list) return listBootloaders(*hidBackendFor(options), options, stdout);
  // Ctrl-C, a service manager's TERM and a closed terminal or dropped ssh session's HUP end the run
  // alike: the queued frames written, the unfinished boards named.
  std::signal(SIGINT, [](int) { interrupted = true; });
  std::signal(SIGTERM, [](int) { interrupted = true; });
#ifdef SIGHUP
  // Under nohup it comes ignored, and stays so: the run was asked to outlive its terminal.
  if (std::signal(SIGHUP, [](int) { interrupted = true; }) == SIG_IGN) std::signal(SIGHUP, SIG_IGN);
#endif

  // Where the firmware is kept, downloaded or copied: a private folder, gone when the tool ends.
  WorkFolder work("trident-flash");
  if (work.path().empty()) {
    return failRun(
        options.json,
        "trident-flash: cannot make a working folder in " + work.where() + ": " + work.reason(),
        static_cast<int>(FlashOutcome::FileError));
  }
  const std::filesystem::path firmware = work.path() / "tmp.hex";
  // A local file is judged before anyone is asked to plug a board in; the engine checks it again
  // when it loads it, as it does a downloaded one.
  if (options.hexFile) {
    if (const auto failure = copyLocalFirmware(*options.hexFile, firmware, interrupted)) {
      return failRun(options.json, failure->message, static_cast<int>(failure->outcome));
    }
  }

  // libcurl is set up for the whole run. (hidapi is started and ended by its backend.)
  CurlLibrary curl;
  std::unique_ptr<Diagnostics> diag;
  if (options.quiet || options.json) {
    diag = std::make_unique<NullDiagnostics>();
  } else {
    diag = std::make_unique<ConsoleDiagnostics>("trident-flash");
  }
  EventLoop loop;
  const bool terminal = isTerminal(stderr);
  std::unique_ptr<RunView> view;
  if (options.json) {
    view = std::make_unique<JsonView>(stdout, options.variantName());
  } else if (options.all) {
    view = std::make_unique<RowsView>(stderr, terminal, options.quiet);
  } else {
    view = std::make_unique<SingleView>(stderr, terminal, options.loop, *diag);
  }
  // --report sees all the user sees, and what the view leaves out besides.
  std::unique_ptr<RunView> report;
  if (options.report)
    report = std::make_unique<ReportView>(*view, *options.report, about(options, args));
  RunView& shown = report ? *report : *view;
  UpdateHistory history(
      options.history ? std::optional(UpdateHistory::defaultFile()) : std::nullopt, "trident-flash",
      [&shown](const std::string& line) { shown.trouble(line); });
  FlashRunner runner(options, loop, shown, firmware, history);
  return runner.run(interrupted);
}

}  // namespace

int main(int argc, char** argv) {
  trident::keepStandardStreams();
  // An exception let out of main ends the program in an abort, without a word of why.
  try {
    return flash(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "trident-flash: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "trident-flash: an unexpected error ended the run\n");
  }
  return static_cast<int>(FlashOutcome::FileError);
}
