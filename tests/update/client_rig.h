#pragma once

#include "common/event_loop.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "common/executor.h"
#include "engine/engine_rig.h"
#include "servers.h"
#include "update/update_server_client.h"

namespace trident::testing {

// The engine's thread, played by the test: posted work queues up until the test runs it.
using TestExecutor = EventLoop;

// A directory served by pyftpdlib; files are put under it by the path the server shows them at.
class Served {
 public:
  void publish(std::string_view path, std::string_view content);
  TempDir dir;
  FtpServer server{dir.path()};
};

// The client wired to the engine, the window recorder and the virtual board. The board has been
// taken and has answered, so the engine waits for the release line as it does in the application.
struct ClientRig {
  explicit ClientRig(std::string_view ftpRootUrlStr, TransferTimeouts timeouts = {},
                     std::filesystem::path hexFile = {});

  // Runs posted work until every transfer has reported back.
  bool settle();
  // Clicks "Update" as the window does: the engine's click, then the download it asks for.
  void clickUpdate();
  // The window's changes since the board was taken.
  std::vector<std::string> views() const;
  // The system log since the board was taken.
  std::vector<std::string> log() const;
  bool logged(std::string_view line) const { return sim.diag.logged(line); }
  // The alert's message, if one was shown.
  std::string alert() const;
  uint32_t status() const { return sim.engine.state().iStatus; }

  SimRig sim;
  TestExecutor executor;
  UpdateServerClient client;
  size_t firstView = 0;
  size_t firstLog = 0;
};

}  // namespace trident::testing
