#include "cli/flash_options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "records/checksum_text.h"
#include "records/variants.h"

namespace trident {

const char* const kFlashUsage =
    "usage: trident-flash [--variant tournament|standard] [--hex FILE --checksum TEXT]\n"
    "                     [--server URL] [--release-key KEY] [--virtual-hid DIR]\n"
    "                     [--wait SECONDS] [--reply-timeout SECONDS] [--loop] [--all]\n"
    "                     [--serial S]... [--path P]... [--no-history]\n"
    "                     [--report FILE] [--quiet] [--json] [--help] [--version]\n"
    "       trident-flash --list [--json] [--serial S]... [--path P]...\n"
    "\n"
    "Waits for a Trident board in bootloader mode (hold its button while plugging it in), puts\n"
    "the latest firmware of the chosen variant on it, and prints the board's verdict.\n"
    "\n"
    "  --variant NAME          tournament (default: \"Tournament(No Turbo & Remap)\") or standard\n"
    "  --hex FILE              program this Intel HEX file instead of the server's firmware\n"
    "                          (read once, whole: /dev/stdin reads it from a pipe)\n"
    "  --checksum TEXT         the file's checksum as a release line writes it, e.g. 0x1234\n"
    "  --wait SECONDS          give up when no bootloader appears within SECONDS (default: wait)\n"
    "  --reply-timeout SECONDS fail when the board stops answering for SECONDS (default: 5)\n"
    "  --loop                  update one board after another until interrupted\n"
    "  --all                   update every bootloader present at once, each on its own; with\n"
    "                          --loop also every one plugged in later (no protocol trace)\n"
    "  --serial S, --path P    take only the bootloaders of these serial numbers or paths (as\n"
    "                          --list shows them; each option as often as needed); leave the\n"
    "                          others alone, unopened\n"
    "  --list                  name the bootloaders plugged in now: path, serial number and\n"
    "                          whether it can be opened (nothing is sent to them); exit 0\n"
    "  --report FILE           write the whole run into FILE, to attach to a bug report: the\n"
    "                          versions, the system, the boards, the log and the protocol trace\n"
    "  --no-history            add no line to the update history (the README says where it is)\n"
    "  --quiet                 leave the protocol trace and the log out\n"
    "  --json                  report every event as a line of JSON on standard output, and\n"
    "                          nothing else there (see the README for the events); with\n"
    "                          --list one line per bootloader\n"
    "  --help, --version\n"
    "\n"
    "Developer options:\n"
    "%s"
    "\n"
    "Exit status: 0 updated; 1 the board's checksum differs; 2 server, release or firmware file\n"
    "error; 3 the board was removed; 4 time-out; 64 bad usage; 130 interrupted. With several\n"
    "boards: 0 when every one was updated, otherwise the highest status among them.\n";

namespace {

std::optional<std::chrono::milliseconds> parseSeconds(const std::string& text) {
  // Decimal seconds only: strtod alone would also take "0x10", "1e3" or "inf".
  if (text.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds < 0 || seconds > 1e6) {
    return std::nullopt;
  }
  return std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
}

// "tournament or standard", in pop-up order.
std::string variantNames() {
  std::string names;
  for (const auto& variant : kFirmwareVariants)
    names.append(names.empty() ? "" : " or ").append(variant.name);
  return names;
}

}  // namespace

std::optional<std::string> FlashOptions::variantName() const {
  if (hexFile) return std::nullopt;
  return std::string(kFirmwareVariants[static_cast<size_t>(variant)].name);
}

bool FlashOptions::chooses(const HidDeviceInfo& device) const {
  if (serials.empty() && paths.empty()) return true;
  return (!device.serial.empty() && std::ranges::count(serials, device.serial) > 0) ||
         std::ranges::count(paths, device.path) > 0;
}

ParsedFlashOptions parseFlashOptions(const std::vector<std::string>& argsIn) {
  ParsedFlashOptions parsed;
  FlashOptions& o = parsed.options;
  std::vector<std::string> args = argsIn;
  if (auto error = takeDevOptions(args, o.dev)) {
    parsed.error = *error;
    return parsed;
  }
  auto fail = [&](std::string message) {
    parsed.error = std::move(message);
    return parsed;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else if (arg == "--loop") {
      o.loop = true;
    } else if (arg == "--all") {
      o.all = true;
    } else if (arg == "--quiet" || arg == "-q") {
      o.quiet = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--no-history") {
      o.history = false;
    } else if (arg == "--list") {
      o.list = true;
    } else if (!hasValue && (arg == "--variant" || arg == "--hex" || arg == "--checksum" ||
                             arg == "--wait" || arg == "--reply-timeout" || arg == "--serial" ||
                             arg == "--path" || arg == "--report")) {
      return fail(arg + " needs a value");
    } else if (arg == "--report") {
      o.report = args[++i];
    } else if ((arg == "--serial" || arg == "--path") && args[i + 1].empty()) {
      return fail(arg + " names no board: it is empty");  // it would wait for ever
    } else if (arg == "--serial") {
      o.serials.push_back(args[++i]);
    } else if (arg == "--path") {
      o.paths.push_back(args[++i]);
    } else if (arg == "--variant") {
      const std::string& name = args[++i];
      const std::optional<int64_t> variant = variantNamed(name);
      if (!variant) return fail("--variant takes " + variantNames() + ", not " + name);
      o.variant = *variant;
    } else if (arg == "--hex") {
      o.hexFile = args[++i];
    } else if (arg == "--checksum") {
      o.checksum = args[++i];
    } else if (arg == "--wait" || arg == "--reply-timeout") {
      const auto value = parseSeconds(args[++i]);
      if (!value || (arg == "--reply-timeout" && value->count() == 0)) {
        return fail(arg + " takes a number of seconds, not " + args[i]);
      }
      if (arg == "--wait") {
        o.wait = *value;
      } else {
        o.replyTimeout = *value;
      }
    } else {
      return fail("unknown option " + arg);
    }
  }
  if (o.help || o.version) return parsed;
  TrustedKey trusted = trustedReleaseKey(o.dev.releaseKey);
  if (trusted.error) return fail(*trusted.error);
  o.releaseKey = trusted.key;
  if (o.hexFile.has_value() != o.checksum.has_value()) {
    return fail("--hex and --checksum go together");
  }
  // Taken as a release line's checksum is: a mistyped digit would only show after programming.
  // A release line's first two characters are not read; typed by hand they are "0x", as the
  // usage says, so that "121234" is not silently taken as 0x1234.
  if (o.checksum && (!(o.checksum->starts_with("0x") || o.checksum->starts_with("0X")) ||
                     !hasChecksumDigits(*o.checksum))) {
    return fail(
        "--checksum takes the board's checksum as 0x and four hex digits (e.g. 0x1234), "
        "not " +
        *o.checksum);
  }
  return parsed;
}

}  // namespace trident
