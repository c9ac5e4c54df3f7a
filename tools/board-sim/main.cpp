// trident-board-sim: a virtual bootloader board on the virtual HID transport, or (--hidraw) on a
// USB HID device emulated by umockdev.
//
// It appears as DIR/VVVV-PPPP-NAME.sock (or /dev/hidraw0 in its own testbed), NAME being its
// serial number too, takes one host (one that closes it again before any frame does not count),
// answers the host's frames as the bootloader does, and disappears when it disconnects: after the
// final command, as a board that starts its new firmware, or when a fault option unplugs it. Its
// exit status says whether the final command came. With --boards it plugs in several such boards
// at once, each served on a thread of its own, for a host that updates them side by side.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "board_simulator.h"
#include "common/unique_fd.h"
#include "hid/virtual_device.h"
#ifdef TRIDENT_HIDRAW_BOARD
#include "hidraw_board.h"
#endif

namespace {

using namespace trident;

constexpr const char* kUsage =
    "usage: trident-board-sim --virtual-hid DIR [options]\n"
    "       trident-board-sim --hidraw [options]\n"
    "\n"
    "Plugs a virtual bootloader board into DIR until the host disconnects it.\n"
    "\n"
    "  --virtual-hid DIR      directory of the virtual HID transport\n"
    "  --hidraw               plug it in as a USB HID device emulated by umockdev instead; prints\n"
    "                         UMOCKDEV_DIR=... for the host, which runs under umockdev-wrapper\n"
    "  --name NAME            device name in the socket file name, and its serial number\n"
    "                         (default: board)\n"
    "  --vid HEX, --pid HEX   USB IDs (default: 0416 and 3f00, the bootloader)\n"
    "  --boards N             plug in N boards at once (1 to 64, default 1), named NAME-1 to\n"
    "                         NAME-N when N > 1, each with its own socket; not with --hidraw\n"
    "  --save-image FILE      write the programmed bytes to FILE once the final command came\n"
    "                         (board K's to FILE-K when N > 1)\n"
    "  --wrong-checksum       report a checksum that does not match\n"
    "  --silent-after N       answer frames up to the N-th, then nothing (0: never answer)\n"
    "  --unplug-after N       answer frames up to the N-th, then unplug\n"
    "  --stall-after N        answer frames up to the N-th, then read no more frames while still\n"
    "                         sending, every 2 ms, the reply the host waits for next\n"
    "  --stale-replies        precede every reply with one carrying an old packet number\n"
    "  --duplicate-replies    send every reply twice\n"
    "  --fault-board K[,K...] the fault options above apply to these boards only (default: all)\n"
    "  --reply-delay-ms MS    wait MS milliseconds before each reply (every board)\n"
    "  --help                 this text\n"
    "\n"
    "Frames are counted from 1, the sync sent when the host takes the board included.\n"
    "\n"
    "Exit status: 0 the final command came (\"final command received\" on standard error);\n"
    "5 the board went away without it; 1 it could not be plugged in or the image not saved;\n"
    "64 bad usage; 130 interrupted. With N > 1 boards, 0 when every board got the final command,\n"
    "otherwise the highest status among them; each board's lines start with its name.\n";

struct Options {
  std::filesystem::path dir;
  bool hidraw = false;
  std::string name = "board";
  unsigned vid = 0x0416;
  unsigned pid = 0x3F00;
  std::optional<std::filesystem::path> saveImage;
  BoardFaults faults;
  unsigned replyDelayMs = 0;
  std::optional<unsigned> boards;
  std::vector<unsigned> faultBoards;  // empty: every board
};

std::optional<unsigned long> parseNumber(const char* text, int base, unsigned long max) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, base);
  if (*end != '\0' || value > max) return std::nullopt;
  return value;
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "trident-board-sim: %s\n%s", message.c_str(), kUsage);
  return 64;
}

std::optional<int> parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto number = [&](int base, unsigned long max) {
      ++i;
      return parseNumber(value, base, max);
    };
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--virtual-hid" && value) {
      o.dir = argv[++i];
    } else if (arg == "--hidraw") {
      o.hidraw = true;
    } else if (arg == "--name" && value) {
      o.name = argv[++i];
      if (o.name.empty() ||
          o.name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnop"
                                   "qrstuvwxyz0123456789_.-") != std::string::npos)
        return usageError("--name takes letters, digits, '_', '.' and '-'");
    } else if (arg == "--save-image" && value) {
      o.saveImage = argv[++i];
    } else if (arg == "--vid" || arg == "--pid") {
      const auto n = number(16, 0xFFFF);
      if (!n) return usageError(std::string(arg) + " takes four hex digits");
      (arg == "--vid" ? o.vid : o.pid) = static_cast<unsigned>(*n);
    } else if (arg == "--silent-after" || arg == "--unplug-after" || arg == "--stall-after") {
      // Silent after 0 frames is a board that never answers at all.
      const auto n = number(10, 0xFFFFFFFF);
      if (!n || (*n == 0 && arg != "--silent-after")) {
        return usageError(std::string(arg) + " takes a frame count");
      }
      (arg == "--silent-after"   ? o.faults.silentAfter
       : arg == "--unplug-after" ? o.faults.unplugAfter
                                 : o.faults.stallAfter) = static_cast<uint32_t>(*n);
    } else if (arg == "--boards") {
      const auto n = number(10, 64);
      if (!n || *n == 0) return usageError("--boards takes 1 to 64");
      o.boards = static_cast<unsigned>(*n);
    } else if (arg == "--fault-board" && value) {
      if (!o.faultBoards.empty()) return usageError("--fault-board is given once: K,K,...");
      // Checked against --boards once every option is read.
      const std::string list = argv[++i];
      for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const auto k = parseNumber(list.substr(start, comma - start).c_str(), 10, 64);
        if (!k || *k == 0) return usageError("--fault-board takes board numbers: K or K,K,...");
        o.faultBoards.push_back(static_cast<unsigned>(*k));
        start = comma + 1;
      }
    } else if (arg == "--reply-delay-ms") {
      const auto n = number(10, 60000);
      if (!n) return usageError("--reply-delay-ms takes 0 to 60000");
      o.replyDelayMs = static_cast<unsigned>(*n);
    } else if (arg == "--wrong-checksum") {
      o.faults.wrongChecksum = true;
    } else if (arg == "--stale-replies") {
      o.faults.staleReplies = true;
    } else if (arg == "--duplicate-replies") {
      o.faults.duplicateReplies = true;
    } else {
      return usageError("unknown or incomplete option " + std::string(arg));
    }
  }
  if (o.dir.empty() == !o.hidraw)
    return usageError("one of --virtual-hid DIR and --hidraw is needed");
  if (o.hidraw && o.boards) return usageError("--boards needs --virtual-hid");
  if (o.hidraw && o.faults.stallAfter) return usageError("--stall-after needs --virtual-hid");
  for (unsigned k : o.faultBoards) {
    if (k > o.boards.value_or(1))
      return usageError("--fault-board " + std::to_string(k) + " names no board");
  }
#ifndef TRIDENT_HIDRAW_BOARD
  if (o.hidraw) return usageError("--hidraw needs a build with umockdev");
#endif
  return std::nullopt;
}

// The socket file is the device being plugged in: it goes away with this object.
class SocketFile {
 public:
  explicit SocketFile(std::filesystem::path path) : path_(std::move(path)) {}
  ~SocketFile() { unplug(); }
  void unplug() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  SocketFile(const SocketFile&) = delete;
  SocketFile& operator=(const SocketFile&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Read by every board's thread as well as set by the signal handler.
std::atomic<bool> interrupted = false;
static_assert(std::atomic<bool>::is_always_lock_free);

// One plugged-in board: what sets it apart from the others.
struct Board {
  std::string name;
  std::string label;  // starts each of its lines after the program's name: "" or "NAME: "
  BoardFaults faults;
  std::optional<std::filesystem::path> saveImage;
};

std::vector<Board> boards(const Options& o) {
  const unsigned count = o.boards.value_or(1);
  std::vector<Board> all;
  for (unsigned k = 1; k <= count; ++k) {
    const bool faulty = o.faultBoards.empty() || std::ranges::count(o.faultBoards, k) > 0;
    Board b{o.name, "", faulty ? o.faults : BoardFaults{}, o.saveImage};
    if (count > 1) {
      // Appended in place: GCC 12 at -O3 warns wrongly of overlap in chains of temporaries.
      std::string suffix = "-";
      suffix += std::to_string(k);
      b.name += suffix;
      b.label = b.name;
      b.label += ": ";
      if (b.saveImage) *b.saveImage += suffix;
    }
    all.push_back(std::move(b));
  }
  return all;
}

// Only an update that ended with the final command counts: a board unplugged before it keeps its
// bootloader, whatever it was sent.
int conclude(const Board& b, const BoardSimulator& board) {
  const char* label = b.label.c_str();
  std::fprintf(stderr,
               "trident-board-sim: %s%s after %u frames; programmed %zu of %u bytes, sum 0x%04x\n",
               label, board.finished() ? "finished" : "unplugged", board.framesReceived(),
               board.programmed().size(), board.announcedLength(), board.checksum());
  const auto& host = board.turnaround();
  if (host.frames > 0) {
    using us = std::chrono::microseconds;
    std::fprintf(
        stderr,
        "trident-board-sim: %shost turnaround over %u frames: %.1f ms in all, mean %lld us, "
        "longest %lld us\n",
        label, host.frames, std::chrono::duration<double, std::milli>(host.total).count(),
        static_cast<long long>(std::chrono::duration_cast<us>(host.total).count() / host.frames),
        static_cast<long long>(std::chrono::duration_cast<us>(host.longest).count()));
  }
  if (!board.finished()) {
    std::fprintf(stderr, "trident-board-sim: %sthe final command never came%s\n", label,
                 b.saveImage ? "; no image saved" : "");
    return interrupted ? 130 : 5;
  }
  if (b.saveImage) {
    std::ofstream out(*b.saveImage, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(board.programmed().data()),
              static_cast<std::streamsize>(board.programmed().size()));
    if (!out) {
      std::fprintf(stderr, "trident-board-sim: %scannot write %s\n", label, b.saveImage->c_str());
      return 1;
    }
  }
  std::fprintf(stderr, "trident-board-sim: %sfinal command received\n", label);
  return 0;
}

// A board's socket, bound and listening: a host that looks finds it, though nobody serves it yet.
struct Plug {
  Plug(UniqueFd fd, std::filesystem::path path) : listener(std::move(fd)), file(std::move(path)) {}
  UniqueFd listener;
  SocketFile file;
};

std::unique_ptr<Plug> plugIn(const Options& o, const Board& b) {
  const auto path = o.dir / virtualDeviceFileName(static_cast<uint16_t>(o.vid),
                                                  static_cast<uint16_t>(o.pid), b.name);
  const auto address = unixSocketAddress(path.native());
  if (!address) {
    std::fprintf(stderr, "trident-board-sim: %ssocket path too long: %s\n", b.label.c_str(),
                 path.c_str());
    return nullptr;
  }
  UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  auto plug = std::make_unique<Plug>(std::move(socket), path);
  std::filesystem::remove(path);
  const int listener = plug->listener.get();
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
      ::listen(listener, 1) != 0) {
    std::fprintf(stderr, "trident-board-sim: %scannot plug in at %s: %s\n", b.label.c_str(),
                 path.c_str(), std::strerror(errno));
    return nullptr;
  }
  return plug;
}

// Reads nothing more, but goes on answering frames it never took, until the host lets go or the
// program is interrupted: the host's writes to it fill its socket and then fail to go out.
void stall(const UniqueFd& host, uint16_t answered) {
  for (uint16_t next = answered + 2; !interrupted; next += 2) {
    const Frame reply = makeFrame(Command::Data, next);
    if (::send(host.get(), reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
        errno != EAGAIN)
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// One host's connection, until the host lets go, the board disconnects or the program is
// interrupted.
void talk(const Options& o, const UniqueFd& host, BoardSimulator& board) {
  uint8_t report[128];
  // Reads wake up now and then to notice an interrupt; a frame is answered as soon as it comes.
  const timeval tick{0, 200 * 1000};
  ::setsockopt(host.get(), SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
  bool resetSeen = false;
  while (!interrupted) {
    const ssize_t got = ::recv(host.get(), report, sizeof report, 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    // A host that closes with one of our replies unread resets the connection, but what it sent
    // before is still queued here: the final command among it.
    if (got < 0 && errno == ECONNRESET && !resetSeen) {
      resetSeen = true;
      continue;
    }
    if (got <= 0) return;  // the host let go
    const auto arrived = std::chrono::steady_clock::now();
    const auto response = board.receive(report, static_cast<size_t>(got));
    if (o.replyDelayMs)
      std::this_thread::sleep_until(arrived + std::chrono::milliseconds(o.replyDelayMs));
    for (const auto& reply : response.replies)
      ::send(host.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
    board.repliesSent();
    if (response.disconnect) return;
    if (response.stall && !response.replies.empty()) {
      stall(host, replyPacketNumber(response.replies.back()));
      return;
    }
  }
}

int serve(const Options& o, const Board& b, Plug& plug) {
  BoardSimulator board(b.faults);
  UniqueFd host;
  // A host that opens the board and closes it again before any frame (trident-flash --list looks
  // so) leaves it waiting for the next, as a real bootloader does; saying so lets a test tell.
  for (;;) {
    pollfd waitForHost{plug.listener.get(), POLLIN, 0};
    while (!interrupted && ::poll(&waitForHost, 1, 200) <= 0) {
    }
    if (interrupted) return 130;
    host.reset(::accept4(plug.listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (host.get() < 0) return 1;
    talk(o, host, board);
    if (interrupted || board.framesReceived() > 0) break;
    std::fprintf(stderr, "trident-board-sim: %sopened and closed again without a frame\n",
                 b.label.c_str());
  }
  // The device leaves before its connection ends, as a board that restarts into its firmware
  // leaves the bus: a host must never find the finished board's file and take it again.
  plug.file.unplug();
  return conclude(b, board);
}

// Every socket is listening before any board is announced or served, so that a host that
// enumerates once sees them all; the worst board's status is the program's.
int serveAll(const Options& o) {
  const auto all = boards(o);
  std::vector<std::unique_ptr<Plug>> plugs;
  for (const auto& b : all) {
    plugs.push_back(plugIn(o, b));
    if (!plugs.back()) return 1;
  }
  for (size_t k = 0; k < all.size(); ++k) {
    std::fprintf(stderr, "trident-board-sim: %splugged in at %s\n", all[k].label.c_str(),
                 plugs[k]->file.path().c_str());
  }
  std::vector<int> status(all.size(), 0);
  {
    std::vector<std::jthread> threads;
    for (size_t k = 0; k < all.size(); ++k)
      threads.emplace_back([&, k] { status[k] = serve(o, all[k], *plugs[k]); });
  }
  return *std::ranges::max_element(status);
}

#ifdef TRIDENT_HIDRAW_BOARD
int serveHidraw(const Options& o) {
  try {
    HidrawTestbed bed;
    HidrawDeviceOptions options;
    options.vendorId = static_cast<uint16_t>(o.vid);
    options.productId = static_cast<uint16_t>(o.pid);
    options.name = o.name;
    options.serial = o.name;  // as a virtual board's name is its serial number
    options.faults = o.faults;
    options.replyDelay = std::chrono::milliseconds(o.replyDelayMs);
    auto board = bed.plug(options);
    // Standard output carries only this line, for scripts to pick up.
    std::printf("UMOCKDEV_DIR=%s\n", bed.dir().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "trident-board-sim: plugged in at %s of UMOCKDEV_DIR=%s\n",
                 board->node().c_str(), bed.dir().c_str());
    while (!interrupted && !board->waitUnplugged(std::chrono::milliseconds(200))) {
    }
    board->unplug();
    return conclude(boards(o).front(), board->board());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trident-board-sim: cannot plug in: %s\n", e.what());
    return 1;
  }
}
#endif

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (auto status = parse(argc, argv, options)) return *status;
  std::signal(SIGINT, [](int) { interrupted = true; });
  std::signal(SIGTERM, [](int) { interrupted = true; });
#ifdef TRIDENT_HIDRAW_BOARD
  if (options.hidraw) return serveHidraw(options);
#endif
  return serveAll(options);
}
