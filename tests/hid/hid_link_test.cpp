// The HID link over the virtual transport: real sockets, the real virtual-board program.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "common/event_loop.h"
#include "engine/engine_rig.h"
#include "engine/update_engine.h"
#include "hid/hid_link.h"
#include "hid/virtual_device.h"
#include "support/process.h"

namespace trident {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

// The engine, the link on the virtual transport, and boards plugged in as separate processes.
struct VirtualRig {
  VirtualRig()
      : link(makeVirtualBackend(dir.path().string()), executor, diag, 20ms),
        engine({link, window, server, diag}, dir / "tmp.hex") {}

  std::unique_ptr<ChildProcess> plug(std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {testing::builtProgram("tools/board-sim/trident-board-sim"),
                                     "--virtual-hid", dir.path().string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(argv);
  }
  bool run(const std::function<bool()>& done) { return executor.runUntil(done, 20s); }
  uint32_t status() const { return engine.state().iStatus; }

  testing::TempDir dir;
  testing::RecordingDiagnostics diag;
  testing::WindowRecorder window;
  testing::ServerRecorder server;
  EventLoop executor;
  HidLink link;
  UpdateEngine engine;
};

TEST(HidLink, UpdatesABoardOverTheVirtualTransport) {
  VirtualRig rig;
  rig.link.RegisterHID(rig.engine);
  EXPECT_TRUE(rig.diag.logged("IOHIDManager打开成功"));
  const auto image = testing::randomBytes(20000, 77);
  auto board = rig.plug({"--save-image", (rig.dir / "programmed.bin").string()});
  ASSERT_TRUE(rig.run([&] { return rig.status() == STATUS_WAIT_DOWNLOAD_HEX; }));
  EXPECT_TRUE(rig.diag.logged("VID：0416 PID : 3F00"));
  EXPECT_EQ(rig.server.fetches, std::vector<int64_t>{0});

  rig.engine.releaseAccepted("V1.2");
  testing::writeFile(rig.engine.hexFile(), testing::readFile(testing::objcopyHex(rig.dir, image)));
  rig.engine.firmwareStored(testing::SimRig::expectedChecksumFor(image));
  ASSERT_TRUE(rig.run([&] { return rig.status() == STATUS_DONE; }));
  EXPECT_EQ(rig.window.events.back(), "showUpdateResult(complete)");

  // The board disconnects after the final command: the removal is seen and changes nothing.
  EXPECT_EQ(board->wait(), 0);
  ASSERT_TRUE(rig.run([&] { return !rig.link.hidDevice(); }));
  EXPECT_EQ(rig.status(), STATUS_DONE);
  EXPECT_EQ(rig.window.events.back(), "showUpdateResult(complete)");
  const std::string programmed = testing::readFile(rig.dir / "programmed.bin");
  EXPECT_EQ(std::vector<uint8_t>(programmed.begin(), programmed.end()), image);
}

TEST(HidLink, OtherDevicesAreLoggedAndLeftAlone) {
  VirtualRig rig;
  rig.link.RegisterHID(rig.engine);
  auto mouse = rig.plug({"--vid", "046d", "--pid", "c077", "--name", "mouse"});
  ASSERT_TRUE(rig.run([&] { return rig.diag.logged("VID：046D PID : C077"); }));
  EXPECT_FALSE(rig.link.deviceAttached());

  auto board = rig.plug({"--name", "first"});
  ASSERT_TRUE(rig.run([&] { return rig.status() == STATUS_WAIT_DOWNLOAD_HEX; }));
  const size_t linesAfterTake = rig.diag.log.size();

  // A second bootloader, and the mouse going away, while the first board is taken.
  auto second = rig.plug({"--name", "second"});
  ASSERT_TRUE(
      testing::waitFor([&] { return std::filesystem::exists(rig.dir / "0416-3f00-second.sock"); }));
  mouse.reset();
  std::filesystem::remove(rig.dir / "046d-c077-mouse.sock");
  ASSERT_TRUE(rig.run([&] {
    return std::any_of(rig.diag.log.begin() + static_cast<long>(linesAfterTake), rig.diag.log.end(),
                       [](const std::string& l) { return l.rfind("拔出：", 0) == 0; });
  }));
  // The second bootloader going away must not end the first one's update either.
  second.reset();
  std::filesystem::remove(rig.dir / "0416-3f00-second.sock");
  ASSERT_TRUE(rig.run([&] {
    return std::count_if(rig.diag.log.begin() + static_cast<long>(linesAfterTake),
                         rig.diag.log.end(),
                         [](const std::string& l) { return l.rfind("拔出：", 0) == 0; }) == 2;
  }));
  EXPECT_EQ(rig.status(), STATUS_WAIT_DOWNLOAD_HEX);
  for (size_t i = linesAfterTake; i < rig.diag.log.size(); ++i) {
    EXPECT_EQ(rig.diag.log[i].rfind("插入：", 0), std::string::npos) << rig.diag.log[i];
  }
}

TEST(HidLink, UnpluggingTheTakenBoardShowsDeviceRemovedOnce) {
  VirtualRig rig;
  rig.link.RegisterHID(rig.engine);
  auto board = rig.plug({"--unplug-after", "40"});
  ASSERT_TRUE(rig.run([&] { return rig.status() == STATUS_WAIT_DOWNLOAD_HEX; }));
  rig.engine.releaseAccepted("V1");
  const auto image = testing::randomBytes(9000, 5);
  testing::writeFile(rig.engine.hexFile(), testing::readFile(testing::objcopyHex(rig.dir, image)));
  rig.engine.firmwareStored(0);
  ASSERT_TRUE(rig.run([&] { return rig.status() == STATUS_DEVICE_REMOVED; }));
  EXPECT_EQ(std::count(rig.window.events.begin(), rig.window.events.end(), "showDeviceRemoved"), 1);
  // Plugging a board in again does not start anything in this run.
  auto again = rig.plug({"--name", "again"});
  ASSERT_TRUE(
      testing::waitFor([&] { return std::filesystem::exists(rig.dir / "0416-3f00-again.sock"); }));
  rig.executor.runUntil([] { return false; }, 300ms);
  EXPECT_FALSE(rig.link.hidDevice());
  EXPECT_EQ(rig.status(), STATUS_DEVICE_REMOVED);
}

TEST(HidLink, ABootloaderThatCannotBeOpenedIsNotTaken) {
  VirtualRig rig;
  // A socket file nobody listens on: connecting is refused, like a hidraw node without access.
  const auto dead = rig.dir / "0416-3f00-locked.sock";
  {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    const auto address = unixSocketAddress(dead.string());
    ASSERT_TRUE(address);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address), 0);
    ::close(fd);
  }
  rig.link.RegisterHID(rig.engine);
  ASSERT_TRUE(rig.run([&] {
    return std::any_of(rig.diag.log.begin(), rig.diag.log.end(), [](const std::string& l) {
      return l.rfind("HID: cannot open the bootloader at ", 0) == 0 &&
             l.find("Connection refused") != std::string::npos;
    });
  }));
  EXPECT_FALSE(rig.link.deviceAttached());
  EXPECT_EQ(rig.status(), STATUS_WAIT_GET_DUNNO_DEVICE_FWVER);
  // The window keeps waiting; a board that can be opened is then taken.
  auto board = rig.plug();
  ASSERT_TRUE(rig.run([&] { return rig.status() == STATUS_WAIT_DOWNLOAD_HEX; }));
}

TEST(HidLink, AFrameWithNoBoardTakenIsDropped) {
  VirtualRig rig;
  rig.link.RegisterHID(rig.engine);
  rig.engine.SyncOnTake();
  EXPECT_TRUE(rig.diag.logged("SendReport: no bootloader is connected; the frame was not sent"));
}

}  // namespace
}  // namespace trident
