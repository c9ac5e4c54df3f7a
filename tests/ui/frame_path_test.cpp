// The window's way of answering the board at the speed of the wire: the gate that lends the
// engine to the HID thread, the relay that brings the views it asks for back to the GUI thread,
// and the log written behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/diagnostics.h"
#include "common/event_loop.h"
#include "common/lending_gate.h"
#include "engine/engine_rig.h"
#include "support/test_support.h"
#include "window_relay.h"

namespace trident::testing {
namespace {

// The owner's event loop: work waits until the test runs all of it, on the test's thread.
void runAll(EventLoop& owner) {
  owner.runUntil([] { return false; }, std::chrono::milliseconds(0));
}

// Posts `name` from a thread of its own, as the HID thread does; the work records where it ran.
void postFromPoster(LendingGate& gate, std::vector<std::string>& ran, const std::string& name) {
  std::thread([&] {
    const auto poster = std::this_thread::get_id();
    gate.post([&ran, name, poster] {
      ran.push_back(name + (std::this_thread::get_id() == poster ? "@poster" : "@owner"));
    });
  }).join();
}

// The poster runs its work itself only while the owner is not inside, nothing it handed over
// earlier still waits, nothing holds it back and the gate is open; otherwise the work waits for
// the owner, in the order it came.
TEST(LendingGate, LendsOnlyWhileNothingStandsInTheWay) {
  EventLoop owner;
  LendingGate gate(owner);
  std::vector<std::string> ran;
  postFromPoster(gate, ran, "free");
  {
    LendingGate::Hold inside(gate);
    postFromPoster(gate, ran, "ownerInside");
  }
  postFromPoster(gate, ran, "behindWaiting");
  runAll(owner);
  postFromPoster(gate, ran, "freeAgain");
  {
    LendingGate::Hold hold(gate);
    gate.holdBack(true);
  }
  postFromPoster(gate, ran, "heldBack");
  runAll(owner);
  {
    LendingGate::Hold hold(gate);
    gate.holdBack(false);
  }
  gate.close();
  postFromPoster(gate, ran, "closed");
  runAll(owner);
  EXPECT_EQ(ran,
            (std::vector<std::string>{"free@poster", "ownerInside@owner", "behindWaiting@owner",
                                      "freeAgain@poster", "heldBack@owner", "closed@owner"}));
}

// Views asked for on the HID thread reach the window only on the GUI thread, in order; of the
// progress pictures that pile up meanwhile only the last is shown. An alert asked for there holds
// the board's next events back until it has been shown and dismissed.
TEST(WindowRelay, BringsTheHidThreadsViewsToTheGuiThreadInOrder) {
  WindowRecorder window;
  EventLoop gui;
  LendingGate gate(gui);
  WindowRelay relay(window, gate, gui);  // built here: this is the GUI thread
  std::thread([&] {
    LendingGate::Hold hold(gate);
    relay.setUpUpdateHexUI();
    for (int index = 0; index <= 20; ++index)
      relay.showProgressPicture(index, static_cast<uint32_t>(index), 20);
    relay.showUpdateResult(true);
  }).join();
  EXPECT_TRUE(window.events.empty());
  runAll(gui);
  EXPECT_EQ(window.events,
            (std::vector<std::string>{"setUpUpdateHexUI", "showUpdateResult(complete)"}));
  EXPECT_EQ(window.pictures, std::vector<int>{20});

  relay.showDeviceRemoved();  // the GUI thread's own view, nothing waiting: at once
  EXPECT_EQ(window.events.back(), "showDeviceRemoved");

  std::thread([&] {
    LendingGate::Hold hold(gate);
    relay.alertA("stopped");
  }).join();
  std::vector<std::string> ran;
  postFromPoster(gate, ran, "afterAlert");
  EXPECT_TRUE(ran.empty());
  runAll(gui);
  EXPECT_EQ(window.events.back(), "alertA(stopped)");
  postFromPoster(gate, ran, "dismissed");
  EXPECT_EQ(ran, (std::vector<std::string>{"afterAlert@owner", "dismissed@poster"}));
}

// Written behind, the log and the trace still come out in the order they were made, each log
// line stamped, and nothing is lost when the writer ends with texts still gathering.
TEST(ConsoleDiagnostics, WrittenBehindKeepsTheOrderAndLosesNothing) {
  TempDir dir;
  const auto file = dir / "console";
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  ASSERT_GE(fd, 0);
  std::FILE* log = ::fdopen(::dup(fd), "a");
  std::FILE* trace = ::fdopen(fd, "a");
  {
    ConsoleDiagnostics diag("trident-updater", log, trace, ConsoleDiagnostics::Writing::behind);
    for (int i = 0; i < 500; ++i) {
      diag.systemLog(std::string("log ") + std::to_string(i));
      diag.standardOutput(std::string("trace ") + std::to_string(i) + "\n");
    }
  }
  std::fclose(log);
  std::fclose(trace);
  std::istringstream lines(readFile(file));
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    const std::string expected = (count % 2 ? "trace " : "log ") + std::to_string(count / 2);
    ASSERT_TRUE(line.ends_with((count % 2 ? "" : "] ") + expected)) << line;
    if (count % 2 == 0) {
      EXPECT_NE(line.find(" trident-updater["), std::string::npos) << line;
    }
  }
  EXPECT_EQ(count, 1000);
}

// A trace nobody reads (a pipe whose reader went quiet) holds the end for kEndLimit at most, and
// leaves nothing in the stream's buffer for the program's own end to block on.
TEST(ConsoleDiagnostics, ATraceNobodyReadsDoesNotHoldTheEnd) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  std::FILE* trace = ::fdopen(pipeFds[1], "w");
  {
    ConsoleDiagnostics diag("trident-updater", stderr, trace, ConsoleDiagnostics::Writing::behind);
    diag.standardOutput(std::string(1 << 20, 'x'));  // far more than a pipe holds
  }
  EXPECT_EQ(std::fflush(trace), 0);  // nothing waits in the buffer
  // Both ends stay open: the writer left behind stays blocked until the tests end.
}

}  // namespace
}  // namespace trident::testing
