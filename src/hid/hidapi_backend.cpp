#include <hidapi.h>
#if defined(__linux__)
#include <sys/stat.h>
#endif

#include <cwchar>
#include <string>

#include "hid/hid_backend.h"
#include "records/utf8.h"

namespace trident {

namespace {

uint64_t nodeInstance(const std::string& path) {
#if defined(__linux__)
  // A node made again for a board plugged in again is another inode (devtmpfs and tmpfs do not
  // hand one out twice). Not its change time: udev's access rule changes that on the same node.
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0) return 0;
  return static_cast<uint64_t>(node.st_ino);
#else
  // Elsewhere a device's path is no file; the platform gives a new path to a new device.
  (void)path;
  return 0;
#endif
}

// hidapi's wide text as UTF-8: a serial number or a product name may be any Unicode (UTF-16
// where wchar_t is 16 bits wide).
std::string narrow(const wchar_t* text) {
  if (text == nullptr) return "unknown error";
  std::string out;
  for (; *text; ++text) {
    auto code = static_cast<uint32_t>(*text);
    if (sizeof(wchar_t) == 2 && code >= 0xD800 && code < 0xDC00 && text[1] >= 0xDC00 &&
        text[1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(*++text) - 0xDC00);
    }
    appendUtf8(out, code);
  }
  return out;
}

struct HidDeviceCloser {
  void operator()(hid_device* device) const { hid_close(device); }
};

class HidapiConnection final : public HidConnection {
 public:
  explicit HidapiConnection(hid_device* device) : device_(device) {}

  // hidraw's write ends when the USB transfer does, and the kernel bounds that; there is no
  // non-blocking write to ask for.
  HidWrite write(const uint8_t (&report)[65], std::string& error) override {
    if (hid_write(device_.get(), report, sizeof report) >= 0) return HidWrite::Written;
    error = narrow(hid_error(device_.get()));
    return HidWrite::Gone;
  }

  int read(uint8_t* into, size_t capacity, int timeoutMs, std::string& error) override {
    const int got = hid_read_timeout(device_.get(), into, capacity, timeoutMs);
    if (got < 0) error = narrow(hid_error(device_.get()));
    return got < 0 ? -1 : got;
  }

 private:
  std::unique_ptr<hid_device, HidDeviceCloser> device_;
};

struct EnumerationFree {
  void operator()(hid_device_info* list) const { hid_free_enumeration(list); }
};

class HidapiBackend final : public HidBackend {
 public:
  HidapiBackend() {
    if (hid_init() != 0) startError_ = narrow(hid_error(nullptr));
  }
  ~HidapiBackend() override {
    if (startError_.empty()) hid_exit();
  }
  HidapiBackend(const HidapiBackend&) = delete;
  HidapiBackend& operator=(const HidapiBackend&) = delete;
  std::string startError() const override { return startError_; }

  std::vector<HidDeviceInfo> enumerate() override {
    std::vector<HidDeviceInfo> devices;
    std::unique_ptr<hid_device_info, EnumerationFree> list(hid_enumerate(0, 0));
    for (const hid_device_info* d = list.get(); d != nullptr; d = d->next) {
      if (d->path == nullptr) continue;
      std::string name = d->path, serial;
      if (d->serial_number != nullptr && *d->serial_number != L'\0') {
        serial = narrow(d->serial_number);
        name += " (" + serial + ")";
      }
      devices.push_back(
          {d->path, d->vendor_id, d->product_id, name, nodeInstance(d->path), serial});
    }
    return devices;
  }

  std::unique_ptr<HidConnection> open(const std::string& path, std::string& error) override {
    hid_device* device = hid_open_path(path.c_str());
    if (device == nullptr) {
      error = narrow(hid_error(nullptr));
      // hidapi names the path again ("Failed to open a device with path '/dev/hidraw0':
      // Permission denied"); every caller says it already.
      const std::string repeated = "'" + path + "': ";
      if (const size_t at = error.find(repeated); at != std::string::npos)
        error.erase(0, at + repeated.size());
      return nullptr;
    }
    return std::make_unique<HidapiConnection>(device);
  }

 private:
  std::string startError_;
};

}  // namespace

std::unique_ptr<HidBackend> makeHidapiBackend() {
  return std::make_unique<HidapiBackend>();
}

std::string hidLibraryVersion() {
  return std::string("hidapi ") + hid_version_str();
}

}  // namespace trident
