#include "cli/single_view.h"

namespace trident {

void SingleView::waiting() {
  say(0, "Waiting for the board: hold its button while plugging it in...");
}

void SingleView::say(size_t, const std::string& line) {
  if (barDrawn_) std::fputc('\n', out_);
  barDrawn_ = false;
  plain_.restart();
  // Versions and reasons are server text.
  const std::string shown = printSafe(line, false);
  std::fprintf(out_, "%s\n", shown.c_str());
  std::fflush(out_);
}

void SingleView::progress(size_t, double share, const std::string& figures) {
  if (terminal_) {
    std::fprintf(out_, "\r%s", progressBar(share, figures).c_str());
    barDrawn_ = true;
    std::fflush(out_);
    return;
  }
  if (!plain_.due(share)) return;
  std::fprintf(out_, "progress %s\n", figures.c_str());
  std::fflush(out_);
}

void SingleView::concluded(size_t board, const BoardRecord& r) {
  if (!loop_) {
    say(board, verdictText(r.outcome));
    return;
  }
  say(board, strprintf("board %zu: %s (%s, %.1f s, exit status %d)", board + 1,
                       verdictText(r.outcome).c_str(),
                       r.version.empty() ? "no release" : r.version.c_str(), r.seconds,
                       static_cast<int>(r.outcome.value_or(FlashOutcome::Interrupted))));
}

void SingleView::finished(const std::vector<BoardRecord>&, bool interrupted, int) {
  if (interrupted) say(0, "trident-flash: interrupted");
}

}  // namespace trident
