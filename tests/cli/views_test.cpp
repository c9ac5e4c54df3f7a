// What trident-flash's views write, apart from any run: the figures, the bar, and the lines and
// table of several boards, on a plain stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "cli/rows_view.h"
#include "cli/update_history.h"
#include "support/test_support.h"

// A record names only the fields a view shows.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace trident {
namespace {

// A stream written to memory.
struct Stream {
  ~Stream() {
    std::fclose(file);
    std::free(buffer);
  }
  std::string text() { return std::fflush(file) == 0 ? std::string(buffer, size) : ""; }
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* file = ::open_memstream(&buffer, &size);
};

TEST(ConsoleText, ClockAndBar) {
  const std::pair<double, std::string> clocks[] = {{0, "0:00"},    {0.4, "0:00"}, {0.5, "0:01"},
                                                   {59.6, "1:00"}, {125, "2:05"}, {-3, "0:00"}};
  for (const auto& [seconds, text] : clocks)
    EXPECT_EQ(clockText(seconds), text) << seconds;
  EXPECT_EQ(progressBar(0, "f"), "[..............................] f");
  EXPECT_EQ(progressBar(0.5, "f"), "[###############...............] f");
  EXPECT_EQ(progressBar(1.5, "f"), "[##############################] f");
}

// Several boards on a plain stream: each line prefixed with the board's name, and a table whose
// columns stay in line whatever the result.
TEST(RowsView, NamesEachBoardAndEndsWithATable) {
  Stream out;
  RowsView view(out.file, false, true);
  view.started();
  const auto record = [](std::string name, std::optional<FlashOutcome> outcome, std::string version,
                         double seconds, uint32_t sent) {
    return BoardRecord{.name = name,
                       .outcome = outcome,
                       .version = version,
                       .seconds = seconds,
                       .sent = sent,
                       .total = sent ? 6000u : 0u};
  };
  view.taken(0, record("board-1", {}, "", 0, 0));
  view.taken(1, record("board\n2", {}, "", 0, 0));  // device and server text keep to their line
  // Progress lines: one a second for a download of untold size, one a tenth of a known share,
  // counted afresh in each stage.
  for (const auto& [share, figures] : std::vector<std::pair<double, std::string>>{
           {-1, "1 byte"}, {-1, "2 bytes"}, {0.5, "half"}, {0.55, "still half"}, {0.6, "60%"}})
    view.progress(0, share, figures);
  view.say(0, "DO NOT Remove the Controller");
  view.progress(0, 0.6, "60% again");
  view.concluded(0, record("board-1", FlashOutcome::Updated, "V1", 1.3, 6000));
  view.alert(1, "trident-flash: Error: boom\nboard-2: Firmware successfully updated.");
  view.finished({record("board-1", FlashOutcome::Updated, "V1", 1.3, 6000),
                 record("board-2", FlashOutcome::FileError, "", 0.04, 0),
                 record("board-3", std::nullopt, "", 2, 56)},
                true, 130);
  EXPECT_EQ(out.text(),
            "Waiting for boards: hold each one's button while plugging it in...\n"
            "board-1: progress 1 byte\n"
            "board-1: progress half\n"
            "board-1: progress 60%\n"
            "board-1: DO NOT Remove the Controller\n"
            "board-1: progress 60% again\n"
            "board-1: Firmware successfully updated.\n"
            "board?2: trident-flash: Error: boom?board-2: Firmware successfully updated.\n"
            "board             result                    time  bytes\n"
            "board-1           updated                  1.3 s  6000/6000\n"
            "board-2           server or file error     0.0 s  0/0\n"
            "board-3           interrupted              2.0 s  56/6000\n"
            "trident-flash: interrupted; unfinished: board-3\n");
}

// The history after a line left torn (a full disk): the next line starts a line of its own, whole.
// A history that cannot be kept, or has no place, is said once; one turned off says nothing.
TEST(UpdateHistory, StartsAfterATornLineAndSaysItsTroubleOnce) {
  testing::TempDir dir;
  const auto file = dir / "state/trident-updater/history.jsonl";
  std::vector<std::string> said;
  const auto say = [&](const std::string& line) { said.push_back(line); };
  const BoardRecord record{.name = "b", .outcome = FlashOutcome::Updated};
  UpdateHistory(file, "trident-flash", say).add(record, "tournament");
  const std::string first = testing::readFile(file);
  testing::writeFile(file, first + "{\"time\":\"20");
  UpdateHistory(file, "trident-flash", say).add(record, std::nullopt);
  const std::string after = testing::readFile(file);
  ASSERT_TRUE(after.starts_with(first + "{\"time\":\"20\n{\"time\":\"")) << after;
  EXPECT_NE(after.find(",\"variant\":null,\"version\":null,", first.size()), std::string::npos);
  EXPECT_TRUE(after.ends_with("\"result\":\"updated\",\"seconds\":0.0}\n")) << after;
  for (const std::optional<std::filesystem::path>& where :
       {std::optional(file.parent_path()), std::optional(std::filesystem::path()),
        std::optional<std::filesystem::path>()}) {
    said.clear();
    UpdateHistory history(where, "trident-flash", say);
    history.add(record, "tournament");
    history.add(record, "tournament");
    EXPECT_EQ(said.size(), where ? 1u : 0u) << (said.empty() ? "" : said[0]);
  }
}

}  // namespace
}  // namespace trident
