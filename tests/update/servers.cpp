#include "servers.h"

#include <cstdlib>

namespace trident::testing {

ServerProcess::ServerProcess(const std::vector<std::string>& command, std::string scheme)
    : process_(command), scheme_(std::move(scheme)) {
  const std::string announced = " on 127.0.0.1:";
  process_.waitForOutput(
      [&](const std::string& out) {
        const size_t at = out.find(announced);
        if (at != std::string::npos) port_ = uint16_t(std::atoi(&out[at + announced.size()]));
        return port_ != 0;
      },
      within(std::chrono::seconds(20)));
}

bool ServerProcess::logged(std::string_view text, Clock::time_point deadline) {
  return process_.waitForOutput(
      [&](const std::string& out) { return out.find(text) != std::string::npos; }, deadline);
}

FtpServer::FtpServer(const std::filesystem::path& root)
    : ServerProcess({"/usr/bin/python3", "-m", "pyftpdlib", "-d", root.string(), "-p", "0", "-i",
                     "127.0.0.1"},
                    "ftp") {}

FaultyFtpServer::FaultyFtpServer(const std::filesystem::path& root,
                                 std::vector<std::string> options)
    : ServerProcess(
          [&] {
            options.insert(options.begin(),
                           {"/usr/bin/python3", TRIDENT_SOURCE_DIR "/tests/update/ftp_faults.py",
                            root.string()});
            return options;
          }(),
          "ftp") {}

HttpServer::HttpServer(const std::filesystem::path& root, bool tls)
    : ServerProcess(
          {"/usr/bin/python3", TRIDENT_SOURCE_DIR "/tests/update/http_server.py", root.string(),
           tls ? TRIDENT_FIXTURES_DIR "/update/self-signed-127.0.0.1.pem" : ""},
          tls ? "https" : "http") {}

}  // namespace trident::testing
