// The path every user's board takes, without the board: hidapi's hidraw backend, the HID link and
// the engine against a bootloader emulated by umockdev as usb_device → usb_interface → hid →
// /dev/hidrawN. The binary runs under umockdev-wrapper.
#include <gtest/gtest.h>
#include <hidapi.h>
#include <unistd.h>

#include <map>
#include <numeric>

#include "common/event_loop.h"
#include "engine/engine_rig.h"
#include "engine/one_board_sink.h"
#include "hid/hid_link.h"
#include "hidraw_board.h"
#include "support/process.h"

// The devices name only the options that differ from a plain bootloader's.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace trident {
namespace {

using namespace std::chrono_literals;

// umockdev makes its testbed under $TMPDIR, which GLib reads once per process; ctest runs each
// test in a process of its own, so every test gets a folder of its own.
const std::filesystem::path& ownTmpdir() {
  static const struct Dir {
    Dir() : path(std::filesystem::temp_directory_path() / strprintf("hidraw-%d", ::getpid())) {
      std::filesystem::create_directories(path);
      ::setenv("TMPDIR", path.c_str(), 1);
    }
    ~Dir() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path path;
  } dir;
  return dir.path;
}

struct HidrawRig {
  // `asUser`: without root's way past file permissions, so that a node can refuse the link.
  explicit HidrawRig(bool asUser = false) {
    if (asUser) {
      EXPECT_TRUE(dropFileAccessOverride());
    }
    EXPECT_EQ(hid_init(), 0);
    link.RegisterHID(board);
  }
  bool run(const std::function<bool()>& done) { return executor.runUntil(done, 20s); }
  uint32_t status() const { return engine.state().iStatus; }
  long logged(std::string_view part) const {
    return std::count_if(diag.log.begin(), diag.log.end(),
                         [&](const std::string& l) { return l.find(part) != l.npos; });
  }
  // Has the taken board programmed with `image`, from a HEX file objcopy wrote.
  void start(const std::vector<uint8_t>& image) {
    ASSERT_TRUE(run([&] { return status() == STATUS_WAIT_DOWNLOAD_HEX; }));
    engine.releaseAccepted("V1.2");
    testing::writeFile(engine.hexFile(), testing::readFile(testing::objcopyHex(dir, image)));
    engine.firmwareStored(testing::SimRig::expectedChecksumFor(image));
  }
  // ... and waits for the verdict and for the board to go away after the final command.
  void update(const std::vector<uint8_t>& image) {
    start(image);
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_TRUE(run([&] { return status() == STATUS_DONE && !board.hidDevice(); }));
    EXPECT_EQ(window.events.back(), "showUpdateResult(complete)");
  }

  std::filesystem::path tmp = ownTmpdir();
  HidrawTestbed bed;
  testing::TempDir dir;
  testing::RecordingDiagnostics diag;
  testing::WindowRecorder window;
  testing::ServerRecorder server;
  EventLoop executor;
  HidLink link{makeHidapiBackend(), executor, diag, 20ms};
  OneBoardSink board{link, engine};
  UpdateEngine engine{{board, window, server, diag}, dir / "tmp.hex"};
};

TEST(Hidraw, UpdatesTheBoardBesideAnotherDeviceAndLeavesItAlonePluggedInAgain) {
  HidrawRig rig;
  // A device that is no bootloader, and never answers.
  auto mouse = rig.bed.plug({.vendorId = 0x046D, .productId = 0xC077, .answers = false});
  ASSERT_TRUE(rig.run([&] { return rig.logged("VID：046D PID : C077") == 1; }));
  auto board = rig.bed.plug();
  const auto image = testing::randomBytes(20000, 11);
  rig.update(image);
  const BoardSimulator state = board->board();
  EXPECT_TRUE(state.finished());
  EXPECT_EQ(state.programmed(), image);
  EXPECT_EQ(mouse->opens(), 0u);

  // One board per run: plugged in again, it is not taken, and nothing is logged.
  const size_t lines = rig.diag.log.size();
  auto again = rig.bed.plug();
  rig.executor.runUntil([] { return false; }, 300ms);
  EXPECT_EQ(again->board().framesReceived(), 0u);
  EXPECT_EQ(rig.diag.log.size(), lines);
  EXPECT_EQ(rig.status(), STATUS_DONE);
}

TEST(Hidraw, UnpluggedMidTransferShowsDeviceRemovedOnce) {
  HidrawRig rig;
  auto board = rig.bed.plug({.faults = {.unplugAfter = 40}});
  rig.start(testing::randomBytes(9000, 5));
  ASSERT_TRUE(rig.run([&] { return rig.status() == STATUS_DEVICE_REMOVED; }));
  ASSERT_TRUE(board->waitUnplugged(5s));
  rig.executor.runUntil([] { return false; }, 100ms);  // a later enumeration must not repeat it
  EXPECT_EQ(std::count(rig.window.events.begin(), rig.window.events.end(), "showDeviceRemoved"), 1);
  EXPECT_FALSE(board->board().finished());
}

// udev's access rule often lands a moment after the node appears.
TEST(Hidraw, ANodeThatRefusesAtFirstIsTakenOnceItOpens) {
  HidrawRig rig(true);
  auto board = rig.bed.plug({.refusedOpens = 3});
  ASSERT_TRUE(rig.run([&] { return rig.status() == STATUS_WAIT_DOWNLOAD_HEX; }));
  EXPECT_EQ(board->opens(), 4u);
  EXPECT_EQ(rig.logged("HID: cannot open the bootloader at /dev/hidraw0: "), 1);
  EXPECT_EQ(rig.logged("Permission denied"), 1);
}

TEST(Hidraw, ABootloaderThatNeverOpenedGoesAwayUnnoticedAndTheNextIsUpdated) {
  HidrawRig rig(true);
  auto first = rig.bed.plug({.refuseUntilAllowed = true});
  ASSERT_TRUE(rig.run([&] { return rig.logged("Permission denied") == 1; }));
  first->unplug();
  ASSERT_TRUE(rig.run([&] { return rig.logged("拔出：") == 1; }));
  EXPECT_EQ(rig.status(), STATUS_WAIT_GET_DUNNO_DEVICE_FWVER);
  EXPECT_TRUE(rig.window.events.empty());

  auto board = rig.bed.plug();
  const auto image = testing::randomBytes(3000, 9);
  rig.update(image);
  EXPECT_EQ(board->board().programmed(), image);
  EXPECT_TRUE(board->board().finished());
}

// Every bootloader at once, each with an engine of its own: hidapi gives the link no descriptor to
// sleep on, so it reads the boards in turn, and each one's replies reach its own engine only.
TEST(Hidraw, EveryBoardTakenAtOnceGetsItsOwnImage) {
  struct Board final : ReportPort {
    Board(HidLink& link, uint64_t handle, const std::filesystem::path& hex)
        : link(link), handle(handle), engine({*this, window, server, diag}, hex) {}
    void writeReport(const Frame& frame) override { link.writeTo(handle, frame); }
    HidLink& link;
    uint64_t handle;
    testing::RecordingDiagnostics diag;
    testing::WindowRecorder window;
    testing::ServerRecorder server;
    UpdateEngine engine;
  };
  struct Boards final : BoardSink {
    size_t boardLimit() const override { return 8; }
    bool watchingAttachments() const override { return true; }
    void deviceAttached(const HidDeviceRef& d) override {
      if (isBootloader(d.info)) link->take(d.handle);
    }
    void deviceRemoved(const HidDeviceRef&, bool) override {}
    void deviceDeparted(uint64_t) override {}
    void boardTaken(const HidDeviceRef& d) override {
      auto& b = taken[d.info.path];
      b = std::make_unique<Board>(*link, d.handle, *dir / (std::to_string(d.handle) + ".hex"));
      b->engine.SyncOnTake();
    }
    void boardReport(uint64_t handle, const uint8_t* report, size_t length) override {
      for (auto& [path, b] : taken)
        if (b->handle == handle) b->engine.InputReportCallback(report, length);
    }
    HidLink* link = nullptr;
    const testing::TempDir* dir = nullptr;
    std::map<std::string, std::unique_ptr<Board>> taken;
  } boards;
  ownTmpdir();
  HidrawTestbed bed;
  std::vector<std::unique_ptr<HidrawBoard>> plugged;
  for (int i = 0; i < 3; ++i)
    plugged.push_back(bed.plug());
  testing::TempDir dir;
  testing::RecordingDiagnostics diag;
  EventLoop executor;
  EXPECT_EQ(hid_init(), 0);
  HidLink link{makeHidapiBackend(), executor, diag, 20ms};
  boards.link = &link;
  boards.dir = &dir;
  link.RegisterHID(boards);
  auto all = [&](uint32_t status) {
    return boards.taken.size() == 3 &&
           std::all_of(boards.taken.begin(), boards.taken.end(),
                       [&](const auto& b) { return b.second->engine.state().iStatus == status; });
  };
  ASSERT_TRUE(executor.runUntil([&] { return all(STATUS_WAIT_DOWNLOAD_HEX); }, 20s));
  std::map<std::string, std::vector<uint8_t>> images;
  for (auto& [path, b] : boards.taken) {
    images[path] = testing::randomBytes(4000 + 1000 * images.size(), images.size() + 1);
    testing::writeFile(b->engine.hexFile(),
                       testing::readFile(testing::objcopyHex(dir, images[path])));
    b->engine.firmwareStored(testing::SimRig::expectedChecksumFor(images[path]));
  }
  ASSERT_TRUE(executor.runUntil([&] { return all(STATUS_DONE); }, 20s));
  for (size_t i = 0; i < plugged.size(); ++i) {
    ASSERT_TRUE(plugged[i]->waitUnplugged(5s));
    EXPECT_TRUE(plugged[i]->board().finished());
    EXPECT_EQ(plugged[i]->board().programmed(), images[plugged[i]->node()]) << i;
  }
}

// What a user runs: trident-flash without --virtual-hid, and the board program in a process of its
// own, sharing its testbed (and the node's ioctl socket) through UMOCKDEV_DIR.
TEST(Hidraw, TridentFlashUpdatesTheBoardProgramPluggedInOverHidraw) {
  ownTmpdir();
  testing::TempDir dir;
  const auto image = testing::randomBytes(12345, 3);
  testing::ChildProcess board({testing::builtProgram("tools/board-sim/trident-board-sim"),
                               "--hidraw", "--save-image", (dir / "programmed.bin").string()});
  std::string bed;
  ASSERT_TRUE(board.waitForOutput(
      [&](const std::string& out) {
        const auto at = out.find("UMOCKDEV_DIR="), end = out.find('\n', at);
        if (at == out.npos || end == out.npos) return false;
        bed = out.substr(at + 13, end - at - 13);
        return true;
      },
      testing::within(20s)));
  const unsigned sum = std::accumulate(image.begin(), image.end(), 0u) & 0xFFFF;
  testing::ChildProcess flash({"/usr/bin/env", "UMOCKDEV_DIR=" + bed,
                               testing::builtProgram("src/cli/trident-flash"), "--hex",
                               testing::objcopyHex(dir, image).string(), "--checksum",
                               strprintf("0x%04x", sum), "--quiet", "--wait", "10"});
  EXPECT_EQ(flash.wait(30s), 0) << flash.output();
  EXPECT_EQ(board.wait(10s), 0) << board.output();
  const std::string programmed = testing::readFile(dir / "programmed.bin");
  EXPECT_EQ(std::vector<uint8_t>(programmed.begin(), programmed.end()), image);
}

// --list over hidraw, as a user without the udev rule sees it: three bootloaders, each named with
// its path and serial number (beyond ASCII too), the one whose node refuses the user with the
// reason and the hint; none is written to.
TEST(Hidraw, TridentFlashListsEveryBootloaderAndWhyOneDoesNotOpen) {
  ownTmpdir();
  HidrawTestbed bed;
  std::vector<std::unique_ptr<HidrawBoard>> plugged;
  for (const HidrawDeviceOptions& options :
       {HidrawDeviceOptions{}, HidrawDeviceOptions{.refuseUntilAllowed = true},
        HidrawDeviceOptions{.serial = "Zo\u00eb-3"}})
    plugged.push_back(bed.plug(options));
  std::vector<std::string> argv{testing::builtProgram("src/cli/trident-flash"), "--list"};
  if (::geteuid() == 0)  // root opens any node: the user is played without that power
    argv.insert(argv.begin(),
                {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search"});
  testing::ChildProcess list(argv);
  EXPECT_EQ(list.wait(30s), 0);
  EXPECT_EQ(list.output(),
            "path          serial        opens\n"
            "/dev/hidraw0  TRIDENT-0001  yes\n"
            "/dev/hidraw1  TRIDENT-0002  no: Permission denied; install the udev rule "
            "70-trident-updater.rules (README: \"A real board on Linux\") and plug the board in "
            "again\n"
            "/dev/hidraw2  Zo\u00eb-3        yes\n");
  for (const auto& board : plugged)
    EXPECT_EQ(board->board().framesReceived(), 0u);
}

}  // namespace
}  // namespace trident
