#include "servers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <regex>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace trident::testing {

UniqueFd listenOnLoopback(uint16_t& port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd.get() < 0 || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(fd.get(), 4) != 0 ||
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "cannot listen on 127.0.0.1";
    port = 0;
    return UniqueFd();
  }
  port = ntohs(address.sin_port);
  return fd;
}

ServerProcess::ServerProcess(const std::vector<std::string>& command, std::string scheme)
    : process_(command), scheme_(std::move(scheme)) {
  static const std::regex announced(R"( on 127\.0\.0\.1:(\d+))");
  int port = 0;
  const bool up = process_.waitForOutput(
      [&](const std::string& out) {
        std::smatch match;
        if (std::regex_search(out, match, announced)) port = std::stoi(match[1].str());
        return port != 0;
      },
      within(std::chrono::seconds(20)));
  if (up) port_ = static_cast<uint16_t>(port);
}

FtpServer::FtpServer(const std::filesystem::path& root)
    : ServerProcess({"/usr/bin/python3", "-m", "pyftpdlib", "-d", root.string(), "-p", "0", "-i",
                     "127.0.0.1"},
                    "ftp") {}

SelfSignedHttpsServer::SelfSignedHttpsServer()
    : ServerProcess({"/usr/bin/python3", "-c",
                     "import http.server, ssl, sys\n"
                     "context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)\n"
                     "context.load_cert_chain(sys.argv[1])\n"
                     "server = http.server.HTTPServer(('127.0.0.1', 0),"
                     " http.server.SimpleHTTPRequestHandler)\n"
                     "server.socket = context.wrap_socket(server.socket, server_side=True)\n"
                     "print('serving on 127.0.0.1:%d' % server.server_address[1], flush=True)\n"
                     "server.serve_forever()\n",
                     TRIDENT_FIXTURES_DIR "/update/self-signed-127.0.0.1.pem"},
                    "https") {}

bool ServerProcess::logged(std::string_view text, Clock::time_point deadline) {
  return process_.waitForOutput(
      [&](const std::string& out) { return out.find(text) != std::string::npos; }, deadline);
}

ScriptedHttpServer::ScriptedHttpServer(std::string reply, bool hold)
    : reply_(std::move(reply)), listener_(listenOnLoopback(port_)), hold_(hold) {
  for (auto* pipe : {releasePipe_, stopPipe_}) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe2 failed";
    pipe[0].reset(fds[0]);
    pipe[1].reset(fds[1]);
  }
  thread_ = std::thread([this] { serve(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
  [[maybe_unused]] const ssize_t n = ::write(stopPipe_[1].get(), "x", 1);
  thread_.join();
}

void ScriptedHttpServer::release() {
  [[maybe_unused]] const ssize_t n = ::write(releasePipe_[1].get(), "x", 1);
}

bool ScriptedHttpServer::waitReadable(int fd) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0].get(), POLLIN, 0}};
  while (::poll(fds, 2, -1) < 0) {
  }
  return (fds[1].revents & POLLIN) == 0;
}

void ScriptedHttpServer::serve() {
  if (!waitReadable(listener_.get())) return;
  UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  std::string request;
  while (request.find("\r\n\r\n") == std::string::npos) {
    if (!waitReadable(connection.get())) return;
    char buffer[1024];
    const ssize_t n = ::read(connection.get(), buffer, sizeof buffer);
    if (n <= 0) return;
    request.append(buffer, static_cast<size_t>(n));
  }
  if (hold_ && !waitReadable(releasePipe_[0].get())) return;
  [[maybe_unused]] const ssize_t n = ::write(connection.get(), reply_.data(), reply_.size());
  waitReadable(stopPipe_[0].get());
}

std::string httpOk(std::string_view body) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         std::string(body);
}

}  // namespace trident::testing
