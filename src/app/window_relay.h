#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/executor.h"
#include "common/lending_gate.h"
#include "common/thread_annotations.h"
#include "engine/ports.h"

namespace trident {

// The window's views, asked for from whichever thread runs the engine: the GUI thread, or the HID
// thread in its place (LendingGate). The GUI thread's own requests go straight to the window once
// nothing waits before them; the others wait, in order, for the GUI thread, which `gui` reaches.
// A progress view that a newer one replaces before the GUI thread came to it is dropped, and one
// from the HID thread wakes the GUI thread at most every kProgressInterval (the next view takes
// it there): the board is programmed at the speed of the wire, a frame every millisecond, and a
// picture nobody could see is not worth a wake-up.
// An alert asked for off the GUI thread holds the HID thread's work back until it is dismissed,
// as a modal alert holds it everywhere else.
class WindowRelay final : public WindowPort {
 public:
  static constexpr std::chrono::milliseconds kProgressInterval{20};

  // Built on the GUI thread; `gui` runs work there. The window's views touch nothing the gate
  // lends, so they are shown without holding it: the HID thread goes on meanwhile.
  WindowRelay(WindowPort& window, LendingGate& gate, Executor& gui);

  // Shows what waits now; on the GUI thread. A progress view left waiting for the next one (a board
  // that went quiet) is shown at the next call of this, not at the time-out.
  void catchUp() { drain(); }

  void fillVariantPopUp(const std::vector<std::string>& titles) override;
  void showFetching() override;
  void showReady(std::string_view versionStr) override;
  void showDownloading() override;
  void showDownloadProgress(uint64_t received, uint64_t expected) override;
  void setUpUpdateHexUI() override;
  void showProgressPicture(int index, uint32_t sent, uint32_t total) override;
  void showUpdateResult(bool success) override;
  void showDeviceRemoved() override;
  void showServerError() override;
  void adjustToErrorUI() override;
  void alertA(std::string_view message) override;
  void terminate() override;

 private:
  using View = std::function<void(WindowPort&)>;
  // A progress view may give its place to a newer one of its kind while it waits; the others may
  // not.
  enum class Kind { once, downloadProgress, progressPicture };
  void relay(View view, Kind kind = Kind::once);
  void drain();

  WindowPort& window_;
  LendingGate& gate_;
  Executor& gui_;
  const std::thread::id guiThread_;
  Mutex mutex_;
  struct Waiting {
    View view;
    Kind kind;
  };
  std::deque<Waiting> waiting_ GUARDED_BY(mutex_);
  bool drainPosted_ GUARDED_BY(mutex_) = false;
  std::chrono::steady_clock::time_point lastPost_ GUARDED_BY(mutex_);
};

}  // namespace trident
