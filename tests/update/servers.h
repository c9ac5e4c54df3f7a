#pragma once

#include "support/process.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace trident::testing {

// A listening TCP socket on 127.0.0.1 with a port the system picked.
UniqueFd listenOnLoopback(uint16_t& port);

// A server program on an ephemeral loopback port that announces "... on 127.0.0.1:PORT" in its
// output, as pyftpdlib does.
class ServerProcess {
 public:
  ServerProcess(const std::vector<std::string>& command, std::string scheme);

  bool started() const { return port_ != 0; }
  std::string url() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }
  // Waits for a line of the server's own log, e.g. what it sent.
  bool logged(std::string_view text, Clock::time_point deadline);
  std::string output() { return process_.output(); }

 private:
  ChildProcess process_;
  std::string scheme_;
  uint16_t port_ = 0;
};

// pyftpdlib serving `root` read-only to anonymous users.
class FtpServer : public ServerProcess {
 public:
  explicit FtpServer(const std::filesystem::path& root);
};

// Python's HTTP server over TLS with a self-signed certificate for 127.0.0.1.
class SelfSignedHttpsServer : public ServerProcess {
 public:
  SelfSignedHttpsServer();
};

// A one-connection HTTP server that answers with `reply` as given (status line, headers, body,
// all of it or part of it) and then keeps the connection open and silent until it is destroyed.
// With `hold`, the reply waits for release().
class ScriptedHttpServer {
 public:
  explicit ScriptedHttpServer(std::string reply, bool hold = false);
  ~ScriptedHttpServer();
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  void release();

 private:
  void serve();
  bool waitReadable(int fd);  // false once stopped

  std::string reply_;
  uint16_t port_ = 0;
  UniqueFd listener_;
  UniqueFd releasePipe_[2];
  UniqueFd stopPipe_[2];
  bool hold_;
  std::thread thread_;
};

// "HTTP/1.0 200 OK" with a Content-Length and the body.
std::string httpOk(std::string_view body);

}  // namespace trident::testing
