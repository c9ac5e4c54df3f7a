#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>

#include "common/diagnostics.h"
#include "common/unique_fd.h"
#include "hid/hid_backend.h"
#include "hid/virtual_device.h"

namespace trident {

namespace {

// A socket made again at the same path: a disk file system hands the freed inode out at once, so
// its creation time tells the two apart (nobody changes a board's socket file after that).
uint64_t socketInstance(const std::string& path) {
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0) return 0;
  return static_cast<uint64_t>(node.st_ino) * 1000003u +
         static_cast<uint64_t>(node.st_ctim.tv_sec) * 1000000000u +
         static_cast<uint64_t>(node.st_ctim.tv_nsec);
}

class VirtualConnection final : public HidConnection {
 public:
  explicit VirtualConnection(UniqueFd fd) : fd_(std::move(fd)) {}

  // The socket never blocks: a board that stops reading must not hold up the others.
  HidWrite write(const uint8_t (&report)[65], std::string& error) override {
    const ssize_t sent = ::send(fd_.get(), report, sizeof report, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == static_cast<ssize_t>(sizeof report)) return HidWrite::Written;
    if (sent >= 0) {
      error = "short write";
      return HidWrite::Gone;
    }
    if (errno == EAGAIN || errno == EINTR) return HidWrite::Busy;
    error = std::strerror(errno);
    return HidWrite::Gone;
  }

  int read(uint8_t* into, size_t capacity, int timeoutMs, std::string& error) override {
    pollfd p{fd_.get(), POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready == 0 || (ready < 0 && errno == EINTR)) return 0;
    if (ready < 0) {
      error = std::strerror(errno);
      return -1;
    }
    const ssize_t got = ::recv(fd_.get(), into, capacity, MSG_DONTWAIT);
    if (got > 0) return static_cast<int>(got);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    error = got == 0 ? "device disconnected" : std::strerror(errno);
    return -1;
  }

  int pollDescriptor() const override { return fd_.get(); }

 private:
  UniqueFd fd_;
};

class VirtualBackend final : public HidBackend {
 public:
  explicit VirtualBackend(std::string directory) : directory_(std::move(directory)) {}

  std::vector<HidDeviceInfo> enumerate() override {
    static const std::regex kName("([0-9a-f]{4})-([0-9a-f]{4})-([A-Za-z0-9_.-]+)\\.sock");
    std::vector<HidDeviceInfo> devices;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory_, error)) {
      const std::string name = entry.path().filename().string();
      std::smatch m;
      if (!std::regex_match(name, m, kName) || !entry.is_socket(error)) continue;
      // A virtual board's name is its serial number too: unique in its folder, as a serial
      // number is among the boards of one shop, and the file names of existing boards stay.
      devices.push_back({entry.path().string(), std::stoi(m[1].str(), nullptr, 16),
                         std::stoi(m[2].str(), nullptr, 16), m[3].str(),
                         socketInstance(entry.path().string()), m[3].str()});
    }
    return devices;
  }

  std::unique_ptr<HidConnection> open(const std::string& path, std::string& error) override {
    const auto address = unixSocketAddress(path);
    if (!address) {
      error = "socket path too long";
      return nullptr;
    }
    // Non-blocking, so that neither the connect nor a later send can hold the I/O thread: a
    // board whose backlog is full is simply tried again at the next enumeration.
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd ||
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
      error = std::strerror(errno);
      return nullptr;
    }
    return std::make_unique<VirtualConnection>(std::move(fd));
  }

 private:
  std::string directory_;
};

}  // namespace

std::string virtualDeviceFileName(uint16_t vendorId, uint16_t productId, std::string_view name) {
  return strprintf("%04x-%04x-%.*s.sock", vendorId, productId, static_cast<int>(name.size()),
                   name.data());
}

std::optional<sockaddr_un> unixSocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

std::unique_ptr<HidBackend> makeVirtualBackend(std::string directory) {
  return std::make_unique<VirtualBackend>(std::move(directory));
}

}  // namespace trident
