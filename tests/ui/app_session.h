#pragma once

#include <QPushButton>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "qt_wait.h"
#include "support/process.h"
#include "update/servers.h"
#include "updater_app.h"

namespace trident::testing {

// The virtual board's options; none: no board is plugged in.
using Board = std::optional<std::vector<std::string>>;

// The real application, shown, against the demo server (or the one at `serverUrl`) and a virtual
// board. The firmware file is `hexFile`, tmp.hex in `dir` unless given; an empty path has the run
// make a folder of its own.
struct Session {
  explicit Session(Board board = Board(std::in_place),
                   std::chrono::milliseconds reply = kReplyTimeout,
                   std::optional<std::filesystem::path> hexFile = {},
                   const std::string& serverUrl = "")
      : server(TRIDENT_SOURCE_DIR "/update-server") {
    std::filesystem::create_directories(dir / "hid");
    if (board) this->board = plugBoard(dir / "hid", *board);
    UpdaterApp::Config config{makeVirtualBackend((dir / "hid").string()),
                              serverUrl.empty() ? server.url() : serverUrl,
                              hexFile.value_or(dir / "tmp.hex")};
    config.replyTimeout = reply;
    config.historyFile = dir / "state/history.jsonl";
    app = std::make_unique<UpdaterApp>(std::move(config), diag);
    window().show();
  }
  ViewController& window() { return app->window(); }
  QPushButton& button() { return *window().ActionButton(); }
  uint32_t status() { return app->status(); }
  std::string hint() { return window().HintMessage1()->text().toStdString(); }
  void click() { QTest::mouseClick(&button(), Qt::LeftButton); }
  // The results the update history holds now.
  std::vector<std::string> results() {
    std::vector<std::string> results;
    std::istringstream lines(readFile(dir / "state/history.jsonl"));
    for (std::string line; std::getline(lines, line);) {
      last = nlohmann::json::parse(line);
      results.push_back(last.at("result"));
    }
    return results;
  }
  // ... and once the application has gone (an update the closing cut short is written then).
  std::vector<std::string> history() {
    app.reset();
    return results();
  }
  void clickUpdate() {
    ASSERT_TRUE(waitUntil([&] { return button().isVisible() && button().text() == "Update"; },
                          std::chrono::seconds(20)));
    click();
    EXPECT_FALSE(button().isEnabled());  // the click's own view, at once: no second download
  }

  TempDir dir;
  RecordingDiagnostics diag;
  FtpServer server;
  std::unique_ptr<ChildProcess> board;
  std::unique_ptr<UpdaterApp> app;
  nlohmann::json last;  // the history's last line
};

}  // namespace trident::testing
