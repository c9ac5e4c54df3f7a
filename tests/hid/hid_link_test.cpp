// The HID link over the virtual transport: real sockets, the real virtual-board program. A whole
// update over it is the command-line tool's and the application's to show (tests/cli, tests/ui);
// here are the devices it must leave alone.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "common/event_loop.h"
#include "engine/engine_rig.h"
#include "engine/one_board_sink.h"
#include "hid/hid_link.h"
#include "hid/virtual_device.h"
#include "support/process.h"

namespace trident::testing {
namespace {

using namespace std::chrono_literals;

// The engine and the link on a backend, started.
struct LinkRig {
  LinkRig(std::unique_ptr<HidBackend> backend, std::chrono::milliseconds poll,
          const std::filesystem::path& hexFile = "tmp.hex")
      : link(std::move(backend), executor, diag, poll),
        engine({board, window, server, diag}, hexFile) {
    link.RegisterHID(board);
  }
  bool run(const std::function<bool()>& done) { return executor.runUntil(done, 20s); }
  long lines(std::string_view start) const {
    return std::count_if(diag.log.begin(), diag.log.end(),
                         [&](const std::string& line) { return line.starts_with(start); });
  }

  RecordingDiagnostics diag;
  WindowRecorder window;
  ServerRecorder server;
  EventLoop executor;
  HidLink link;
  OneBoardSink board{link, engine};
  UpdateEngine engine;
};

// The engine and the link on the virtual transport, started; boards are separate processes.
struct TestDir {
  TempDir dir;
};
struct VirtualRig : TestDir, LinkRig {
  VirtualRig() : LinkRig(makeVirtualBackend(dir.path().string()), 20ms, dir / "tmp.hex") {}
  uint32_t status() const { return engine.state().iStatus; }
};

// Another device is logged and not taken, and so is a bootloader that cannot be opened (a socket
// nobody listens on refuses the connection, like a hidraw node without access). Once a board is
// taken, neither another bootloader nor the other device, coming or going, changes its update.
TEST(HidLink, OtherDevicesAreLoggedAndLeftAlone) {
  VirtualRig rig;
  const auto address = unixSocketAddress((rig.dir / "0416-3f00-locked.sock").string());
  UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
  ASSERT_EQ(::bind(socket.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address), 0);
  auto mouse = plugBoard(rig.dir.path(), {"--vid", "046d", "--pid", "c077", "--name", "mouse"});
  ASSERT_TRUE(rig.run([&] { return rig.diag.logged("VID：046D PID : C077"); }));
  ASSERT_TRUE(rig.run([&] {
    return rig.lines("HID: cannot open the bootloader at " +
                     (rig.dir / "0416-3f00-locked.sock").string() + ": Connection refused") == 1;
  }));
  EXPECT_EQ(rig.status(), STATUS_WAIT_GET_DUNNO_DEVICE_FWVER);

  auto board = plugBoard(rig.dir.path(), {"--name", "first"});
  ASSERT_TRUE(rig.run([&] { return rig.status() == STATUS_WAIT_DOWNLOAD_HEX; }));
  auto second = plugBoard(rig.dir.path(), {"--name", "second"});
  mouse.reset();
  ASSERT_TRUE(rig.run([&] { return rig.lines("拔出：") == 1; }));
  second.reset();
  std::filesystem::remove(rig.dir / "0416-3f00-locked.sock");
  ASSERT_TRUE(rig.run([&] { return rig.lines("拔出：") == 3; }));
  EXPECT_EQ(rig.status(), STATUS_WAIT_DOWNLOAD_HEX);
  EXPECT_EQ(rig.lines("插入："), 3);  // the mouse, the locked bootloader and the taken board
  EXPECT_EQ(rig.window.events,
            (std::vector<std::string>{"fillVariantPopUp(Tournament(No Turbo & Remap)|Standard)"}));
}

// The taken board unplugged mid-transfer: Device removed, once; a board plugged in afterwards is
// not taken in this run.
TEST(HidLink, UnpluggingTheTakenBoardShowsDeviceRemovedOnce) {
  VirtualRig rig;
  auto board = plugBoard(rig.dir.path(), {"--unplug-after", "40"});
  ASSERT_TRUE(rig.run([&] { return rig.status() == STATUS_WAIT_DOWNLOAD_HEX; }));
  rig.engine.releaseAccepted("V1");
  writeFile(rig.engine.hexFile(), readFile(objcopyHex(rig.dir, randomBytes(9000, 5))));
  rig.engine.firmwareStored(0);
  ASSERT_TRUE(rig.run([&] { return rig.status() == STATUS_DEVICE_REMOVED; }));
  auto again = plugBoard(rig.dir.path(), {"--name", "again"});
  rig.executor.runUntil([] { return false; }, 300ms);
  EXPECT_FALSE(rig.board.hidDevice());
  EXPECT_EQ(rig.status(), STATUS_DEVICE_REMOVED);
  EXPECT_EQ(std::count(rig.window.events.begin(), rig.window.events.end(), "showDeviceRemoved"), 1);
}

// Bootloaders that cannot be opened are each tried once when asked for (and again at each
// enumeration), not again with every other's request: a hundred dead ones cost a hundred tries.
TEST(HidLink, EachDeadBootloaderIsTriedOncePerRequest) {
  struct Dead final : HidBackend {
    std::vector<HidDeviceInfo> enumerate() override {
      std::vector<HidDeviceInfo> devices;
      for (int i = 0; i < 100; ++i)
        devices.push_back({"dead" + std::to_string(i), 0x0416, 0x3F00, "dead", 1, ""});
      return devices;
    }
    std::unique_ptr<HidConnection> open(const std::string&, std::string& error) override {
      ++opens;
      error = "refused";
      return nullptr;
    }
    std::atomic<int> opens{0};
  };
  auto backend = std::make_unique<Dead>();
  const Dead& dead = *backend;
  // One enumeration in the test's time.
  LinkRig rig(std::move(backend), 60s);
  ASSERT_TRUE(rig.run([&] { return rig.lines("HID: cannot open the bootloader at dead") == 100; }));
  EXPECT_EQ(dead.opens, 100);
}

TEST(HidLink, AFrameWithNoBoardTakenIsDropped) {
  VirtualRig rig;
  EXPECT_TRUE(rig.diag.logged("IOHIDManager打开成功"));
  rig.engine.SyncOnTake();
  EXPECT_TRUE(rig.diag.logged("SendReport: no bootloader is connected; the frame was not sent"));
}

// A socket path fills sun_path with its terminating zero at most.
TEST(HidLink, ASocketPathFitsWithItsTerminator) {
  EXPECT_TRUE(unixSocketAddress(std::string(107, 'a')));
  EXPECT_FALSE(unixSocketAddress(std::string(108, 'a')));
}

// The HID thread answers a board's reply in the loop's place while the loop waits idle: such work
// never runs beside the loop's own, and never while the loop's thread is busy elsewhere.
TEST(EventLoop, WorkRunInTheIdleLoopsPlaceNeverRunsBesideIt) {
  EventLoop loop;
  std::atomic<bool> early{false}, inPlace{false}, later{false}, laterSeenInPlace{false};
  loop.whileIdle().post([&] { early = true; });
  EXPECT_FALSE(early);  // the loop's thread is not in runUntil(): the work waits for it
  std::thread poster([&] {
    const auto self = std::this_thread::get_id();
    // Offered until one runs here, in the loop's place; the others run in the loop.
    for (const auto deadline = within(10s); !inPlace && Clock::now() < deadline;) {
      loop.whileIdle().post([&, self] {
        if (std::this_thread::get_id() != self || inPlace.exchange(true)) return;
        loop.post([&] { later = true; });
        laterSeenInPlace = waitFor([&] { return later.load(); }, 300ms);
      });
      waitFor([&] { return inPlace.load(); }, 5ms);
    }
  });
  EXPECT_TRUE(loop.runUntil([&] { return early && inPlace && later; }, 20s));
  poster.join();
  EXPECT_FALSE(laterSeenInPlace);
}

}  // namespace
}  // namespace trident::testing
