#include "hidraw_board.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <umockdev.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include "common/diagnostics.h"

namespace trident {

namespace {

// A vendor-defined device with one 64-byte input and one 64-byte output report, no report IDs.
constexpr uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size 8
    0x95, 0x40,        //   report count 64
    0x09, 0x01,        //   usage 1
    0x81, 0x02,        //   input (data, variable, absolute)
    0x95, 0x40,        //   report count 64
    0x09, 0x01,        //   usage 1
    0x91, 0x02,        //   output (data, variable, absolute)
    0xC0,              // end collection
};

std::string hex(const uint8_t* bytes, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i)
    text += strprintf("%02x", bytes[i]);
  return text;
}

std::string takeError(GError* error) {
  std::string text = error ? error->message : "unknown error";
  if (error) g_error_free(error);
  return text;
}

}  // namespace

struct HidrawBoard::State {
  explicit State(BoardFaults faults) : board(faults) {}
  std::mutex mutex;
  std::condition_variable changed;
  BoardSimulator board;
  unsigned opens = 0;
  unsigned refusalsLeft = 0;
  bool refuseUntilAllowed = false;
  bool plugged = true;
  bool unplugRequested = false;
  UniqueFd peer;

  // The node's permission is the pty's own; the far end we hold open reaches it without a path.
  void allow() {
    refusalsLeft = 0;
    refuseUntilAllowed = false;
    if (peer) ::fchmod(peer.get(), 0666);
  }
};

// ---- the device's ioctl, open and read side, on umockdev's worker thread

namespace {

// hidapi asks for the report descriptor's size when it opens the node. That ioctl must never
// fail: hidapi 0.13.1 then frees its handle and writes into it. Any other request is left to
// umockdev, as its own handler leaves it.
gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  if (request == HIDIOCGRDESCSIZE || request == HIDIOCGRDESC) {
    const size_t length =
        request == HIDIOCGRDESCSIZE ? sizeof(int) : sizeof(hidraw_report_descriptor);
    GError* error = nullptr;
    if (UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, length, &error)) {
      const int size = sizeof kReportDescriptor;
      if (request == HIDIOCGRDESCSIZE) {
        std::memcpy(data->data, &size, sizeof size);
      } else {
        std::memcpy(data->data + offsetof(hidraw_report_descriptor, size), &size, sizeof size);
        std::memcpy(data->data + offsetof(hidraw_report_descriptor, value), kReportDescriptor,
                    sizeof kReportDescriptor);
      }
      g_object_unref(data);
    }
    if (error) g_error_free(error);
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
  }
  return FALSE;
}

UMockdevIoctlBase* makeIoctlHandler() {
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), nullptr);
  return handler;
}

}  // namespace

// ---- the board

HidrawBoard::HidrawBoard(HidrawTestbed& bed, unsigned index, HidrawDeviceOptions options)
    : bed_(bed),
      options_(std::move(options)),
      node_(strprintf("/dev/hidraw%u", index)),
      state_(std::make_shared<State>(options_.faults)) {
  const unsigned port = index + 1;
  const std::string usb = strprintf("/devices/pci0000:00/0000:00:14.0/usb1/1-%u", port);
  const std::string interface = strprintf("%s/1-%u:1.0", usb.c_str(), port);
  const std::string hid = strprintf("%s/0003:%04X:%04X.%04X", interface.c_str(), options_.vendorId,
                                    options_.productId, port);
  const std::string hidraw = strprintf("%s/hidraw/hidraw%u", hid.c_str(), index);
  const std::string serial =
      options_.serial.empty() ? strprintf("TRIDENT-%04u", port) : options_.serial;
  // The hid device comes last: hidapi lists a hidraw node only once its hid parent's uevent is
  // there, so the host cannot see the node before it is ready (refusing, with its handler).
  const std::string descriptions[] = {
      strprintf("P: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=%04x\n"
                "A: idProduct=%04x\nA: bcdDevice=0100\nA: manufacturer=Trident\nA: product=%s\n"
                "A: serial=%s\n",
                usb.c_str(), options_.vendorId, options_.productId, options_.name.c_str(),
                serial.c_str()),
      strprintf("P: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=00\n"
                "A: bInterfaceClass=03\n",
                interface.c_str()),
      // No "dev" number: umockdev would map the pty's name to it for good, and the kernel hands
      // the same pty name to the next board once this one is unplugged.
      strprintf("P: %s\nN: hidraw%u\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/hidraw%u\n"
                "L: device=../..\n",
                hidraw.c_str(), index, index),
      strprintf("P: %s\nE: SUBSYSTEM=hid\nE: HID_ID=0003:%08X:%08X\nE: HID_NAME=%s\n"
                "E: HID_UNIQ=%s\nH: report_descriptor=%s\n",
                hid.c_str(), options_.vendorId, options_.productId, options_.name.c_str(),
                serial.c_str(), hex(kReportDescriptor, sizeof kReportDescriptor).c_str()),
  };
  syspaths_ = {"/sys" + hidraw, "/sys" + hid, "/sys" + interface, "/sys" + usb};

  // A throw below skips the destructor: the descriptors close with their owners.
  int wake[2];
  if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  wakeRead_.reset(wake[0]);
  wakeWrite_.reset(wake[1]);

  std::lock_guard bedLock(bed_.mutex_);
  for (int i = 0; i < 3; ++i) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(bed_.bed_, descriptions[i].c_str(), &error))
      throw std::runtime_error("umockdev: " + takeError(error));
  }
  master_ = umockdev_testbed_get_dev_fd(bed_.bed_, node_.c_str());
  if (master_ < 0) throw std::runtime_error("umockdev made no pty for " + node_);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  state_->peer.reset(::ioctl(master_, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!state_->peer) throw std::runtime_error("cannot hold " + node_ + " open");
  state_->refusalsLeft = options_.refusedOpens;
  state_->refuseUntilAllowed = options_.refuseUntilAllowed;
  if (options_.refusedOpens > 0 || options_.refuseUntilAllowed) ::fchmod(state_->peer.get(), 0);

  GError* error = nullptr;
  if (options_.refusedOpens > 0 || options_.refuseUntilAllowed || !options_.answers) {
    // Every open of the node connects to its own ioctl socket, refused ones too: this counts them.
    auto onOpen = +[](UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
      auto& state = **static_cast<std::shared_ptr<State>*>(data);
      std::lock_guard lock(state.mutex);
      ++state.opens;
      if (state.refusalsLeft > 0 && --state.refusalsLeft == 0 && !state.refuseUntilAllowed)
        state.allow();
      state.changed.notify_all();
    };
    handler_ = makeIoctlHandler();
    g_signal_connect_data(
        handler_, "client-connected", G_CALLBACK(onOpen), new std::shared_ptr<State>(state_),
        [](gpointer data, GClosure*) { delete static_cast<std::shared_ptr<State>*>(data); },
        GConnectFlags{});
    if (!umockdev_testbed_attach_ioctl(bed_.bed_, node_.c_str(), handler_, &error))
      throw std::runtime_error("umockdev: " + takeError(error));
  }
  if (!umockdev_testbed_add_from_string(bed_.bed_, descriptions[3].c_str(), &error))
    throw std::runtime_error("umockdev: " + takeError(error));
  thread_ = std::thread([this] { serve(); });
}

HidrawBoard::~HidrawBoard() {
  unplug();
  if (thread_.joinable()) thread_.join();
  if (handler_) g_object_unref(handler_);
}

void HidrawBoard::unplug() {
  {
    std::lock_guard lock(state_->mutex);
    state_->unplugRequested = true;
  }
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_.get(), &byte, 1);
  waitUnplugged(std::chrono::seconds(5));
}

void HidrawBoard::allowOpen() {
  std::lock_guard lock(state_->mutex);
  state_->allow();
}

bool HidrawBoard::plugged() const {
  std::lock_guard lock(state_->mutex);
  return state_->plugged;
}

unsigned HidrawBoard::opens() const {
  std::lock_guard lock(state_->mutex);
  return state_->opens;
}

BoardSimulator HidrawBoard::board() const {
  std::lock_guard lock(state_->mutex);
  return state_->board;
}

bool HidrawBoard::waitUnplugged(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] { return !state_->plugged; });
}

// The pty carries no report boundaries: the host writes 65 bytes (report ID 0 and the report) at
// a time, and reads 64, so each reply is written whole.
void HidrawBoard::serve() {
  // A reply delay stands for the 1 ms USB frame: the default 50 us of timer slack would add 5 %.
  ::prctl(PR_SET_TIMERSLACK, 1UL);
  uint8_t frame[kReportSize + 1];
  size_t have = 0;
  for (;;) {
    {
      std::lock_guard lock(state_->mutex);
      if (state_->unplugRequested) break;
    }
    pollfd fds[2] = {{master_, POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
    if (::poll(fds, 2, 200) <= 0) continue;
    if (fds[1].revents & POLLIN) {
      char drain[16];
      [[maybe_unused]] const ssize_t drained = ::read(wakeRead_.get(), drain, sizeof drain);
    }
    if (!(fds[0].revents & POLLIN)) continue;
    const auto arrived = std::chrono::steady_clock::now();
    const ssize_t got = ::read(master_, frame + have, sizeof frame - have);
    if (got <= 0) continue;
    have += static_cast<size_t>(got);
    if (have < sizeof frame) continue;
    have = 0;
    if (!options_.answers) continue;

    BoardSimulator::Response response;
    {
      std::lock_guard lock(state_->mutex);
      response = state_->board.receive(frame, sizeof frame);
    }
    state_->changed.notify_all();
    if (options_.replyDelay.count() > 0)
      std::this_thread::sleep_until(arrived + options_.replyDelay);
    for (const auto& reply : response.replies)
      sendAll(reply.data(), reply.size());
    {
      std::lock_guard lock(state_->mutex);
      state_->board.repliesSent();
    }
    if (response.disconnect) break;
  }
  hangUp();
}

bool HidrawBoard::sendAll(const uint8_t* bytes, size_t length) {
  // A host that stops reading fills the pty; the board gives up on the reply rather than wait.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (length > 0) {
    const ssize_t put = ::write(master_, bytes, length);
    if (put > 0) {
      bytes += put;
      length -= static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EINTR) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd out{master_, POLLOUT, 0};
    ::poll(&out, 1, static_cast<int>(left.count()));
  }
  return true;
}

// Pulling the cable: the kernel announces the removal, the devices leave sysfs and /dev, and the
// host's open node hangs up (its next poll sees POLLHUP, its reads and writes fail).
void HidrawBoard::hangUp() {
  {
    std::lock_guard bedLock(bed_.mutex_);
    // umockdev finds the device of a uevent through the emulated /sys, which only a process
    // under umockdev-wrapper sees; without it nobody could listen for the event either.
    if (umockdev_in_mock_environment()) {
      for (const auto& path : syspaths_)
        umockdev_testbed_uevent(bed_.bed_, path.c_str(), "remove");
    }
    for (const auto& path : syspaths_)
      umockdev_testbed_remove_device(bed_.bed_, path.c_str());
    GError* error = nullptr;
    if (handler_ && !umockdev_testbed_detach_ioctl(bed_.bed_, node_.c_str(), &error))
      g_clear_error(&error);
    // umockdev keeps the master end for good; /dev/null in its place closes the pty's master.
    const UniqueFd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (null) ::dup2(null.get(), master_);
  }
  std::lock_guard lock(state_->mutex);
  state_->peer.reset();
  state_->plugged = false;
  state_->changed.notify_all();
}

// ---- the testbed

HidrawTestbed::HidrawTestbed() : bed_(umockdev_testbed_new()) {
  // A node is a pty, and hidapi opens it without O_NOCTTY: a session leader without a terminal
  // makes it its controlling terminal, and the hang-up of an unplug would then end the process.
  std::signal(SIGHUP, SIG_IGN);
  gchar* root = umockdev_testbed_get_root_dir(bed_);
  dir_ = root;
  g_free(root);
  // A node without an ioctl socket of its own asks the testbed's default one, and only for its
  // ioctls: its reads and writes then go straight to the pty. Through a socket of its own every
  // read and write would wait for a round trip to umockdev's worker thread, about 0.2 ms each,
  // which is more than the whole time a real board's USB frame leaves the host. So the default
  // handler is replaced by one that answers the report-descriptor ioctls.
  ::unlink((dir_ + "/ioctl/_default").c_str());
  defaultHandler_ = makeIoctlHandler();
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(bed_, "_default", defaultHandler_, &error)) {
    g_object_unref(defaultHandler_);
    g_object_unref(bed_);
    throw std::runtime_error("umockdev: " + takeError(error));
  }
}

HidrawTestbed::~HidrawTestbed() {
  g_object_unref(bed_);
  g_object_unref(defaultHandler_);
}

std::unique_ptr<HidrawBoard> HidrawTestbed::plug(HidrawDeviceOptions options) {
  unsigned index;
  {
    std::lock_guard lock(mutex_);
    index = next_++;
  }
  return std::unique_ptr<HidrawBoard>(new HidrawBoard(*this, index, std::move(options)));
}

bool dropFileAccessOverride() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, caps) != 0) return false;
  caps[0].effective &= ~(1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH);
  return ::syscall(SYS_capset, &header, caps) == 0;
}

}  // namespace trident
