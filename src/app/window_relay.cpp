#include "window_relay.h"

#include <utility>

namespace trident {

WindowRelay::WindowRelay(WindowPort& window, LendingGate& gate, Executor& gui)
    : window_(window), gate_(gate), gui_(gui), guiThread_(std::this_thread::get_id()) {}

void WindowRelay::relay(View view, Kind kind) {
  const bool onGui = std::this_thread::get_id() == guiThread_;
  bool direct = false;
  bool post = false;
  {
    MutexLock lock(mutex_);
    if (onGui && waiting_.empty()) {
      direct = true;
    } else {
      if (kind != Kind::once && !waiting_.empty() && waiting_.back().kind == kind)
        waiting_.back().view = std::move(view);
      else
        waiting_.push_back({std::move(view), kind});
      const auto now = std::chrono::steady_clock::now();
      post =
          !onGui && !drainPosted_ && (kind == Kind::once || now - lastPost_ >= kProgressInterval);
      if (post) {
        drainPosted_ = true;
        lastPost_ = now;
      }
    }
  }
  if (direct)
    view(window_);
  else if (onGui)
    drain();  // behind what waited
  else if (post)
    gui_.post([this] { drain(); });
}

void WindowRelay::drain() {
  for (;;) {
    View next;
    {
      MutexLock lock(mutex_);
      if (waiting_.empty()) {
        drainPosted_ = false;
        return;
      }
      next = std::move(waiting_.front().view);
      waiting_.pop_front();
    }
    next(window_);
  }
}

void WindowRelay::fillVariantPopUp(const std::vector<std::string>& titles) {
  relay([titles](WindowPort& w) { w.fillVariantPopUp(titles); });
}
void WindowRelay::showFetching() {
  relay([](WindowPort& w) { w.showFetching(); });
}
void WindowRelay::showReady(std::string_view versionStr) {
  relay([version = std::string(versionStr)](WindowPort& w) { w.showReady(version); });
}
void WindowRelay::showDownloading() {
  relay([](WindowPort& w) { w.showDownloading(); });
}
void WindowRelay::showDownloadProgress(uint64_t received, uint64_t expected) {
  relay([=](WindowPort& w) { w.showDownloadProgress(received, expected); }, Kind::downloadProgress);
}
void WindowRelay::setUpUpdateHexUI() {
  relay([](WindowPort& w) { w.setUpUpdateHexUI(); });
}
void WindowRelay::showProgressPicture(int index, uint32_t sent, uint32_t total) {
  relay([=](WindowPort& w) { w.showProgressPicture(index, sent, total); }, Kind::progressPicture);
}
void WindowRelay::showUpdateResult(bool success) {
  relay([=](WindowPort& w) { w.showUpdateResult(success); });
}
void WindowRelay::showDeviceRemoved() {
  relay([](WindowPort& w) { w.showDeviceRemoved(); });
}
void WindowRelay::showServerError() {
  relay([](WindowPort& w) { w.showServerError(); });
}
void WindowRelay::adjustToErrorUI() {
  relay([](WindowPort& w) { w.adjustToErrorUI(); });
}
void WindowRelay::alertA(std::string_view message) {
  if (std::this_thread::get_id() != guiThread_) {
    LendingGate::Hold hold(gate_);  // already held, by the work run in the GUI thread's place
    gate_.holdBack(true);
  }
  relay([this, text = std::string(message)](WindowPort& w) {
    w.alertA(text);
    LendingGate::Hold hold(gate_);
    gate_.holdBack(false);
  });
}
void WindowRelay::terminate() {
  relay([](WindowPort& w) { w.terminate(); });
}

}  // namespace trident
