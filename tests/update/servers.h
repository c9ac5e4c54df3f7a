#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/process.h"

namespace trident::testing {

// A server program on a free loopback port that announces "... on 127.0.0.1:PORT" in its output,
// as pyftpdlib does. Ended at the end of its scope.
class ServerProcess {
 public:
  ServerProcess(const std::vector<std::string>& command, std::string scheme);

  bool started() const { return port_ != 0; }
  std::string url() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }
  // Waits for text in the server's own log, e.g. what it sent.
  bool logged(std::string_view text, Clock::time_point deadline);
  std::string output() { return process_.output(); }

 private:
  ChildProcess process_;
  std::string scheme_;
  uint16_t port_ = 0;
};

// pyftpdlib serving `root` read-only to anonymous users.
struct FtpServer : ServerProcess {
  explicit FtpServer(const std::filesystem::path& root);
};

// ftp_faults.py serving `root` with its faults; `options` as the script takes them.
struct FaultyFtpServer : ServerProcess {
  explicit FaultyFtpServer(const std::filesystem::path& root,
                           std::vector<std::string> options = {});
};

// http_server.py serving `root`; with `tls`, over HTTPS with a self-signed certificate.
struct HttpServer : ServerProcess {
  explicit HttpServer(const std::filesystem::path& root, bool tls = false);
};

}  // namespace trident::testing
