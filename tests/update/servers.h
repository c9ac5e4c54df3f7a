#pragma once

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

using Clock = std::chrono::steady_clock;
inline Clock::time_point within(std::chrono::milliseconds limit) {
  return Clock::now() + limit;
}

// A file descriptor, closed at the end of its scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  int get() const { return fd_; }
  void reset(int fd = -1);

 private:
  int fd_;
};

// A listening TCP socket on 127.0.0.1 with a port the system picked.
UniqueFd listenOnLoopback(uint16_t& port);

// A child process whose standard output and error are collected as it runs. Ended with SIGTERM
// and reaped at the end of its scope.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits until the output so far satisfies `ready`; false if the deadline or the process's end
  // comes first.
  bool waitForOutput(const std::function<bool(const std::string&)>& ready,
                     Clock::time_point deadline);
  std::string output();

 private:
  pid_t pid_ = -1;
  UniqueFd out_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  bool ended_ = false;
  std::thread reader_;
};

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
