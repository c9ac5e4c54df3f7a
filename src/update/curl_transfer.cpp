#include "update/curl_transfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "common/diagnostics.h"
#include "update/socket_calls.h"

namespace trident {

namespace {

struct EasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

// The sockets of one transfer, opened and closed for libcurl, so that they can be cut from
// outside. libcurl blocks inside some FTP steps where no check of ours runs (the server's word
// after the file, its goodbye), for up to a minute each; a socket shut down ends such a wait at
// once, and a cut transfer opens no new socket. Shutting down leaves the descriptor open, so its
// number cannot go to another file while libcurl still holds it.
class TransferSockets {
 public:
  TransferSockets() = default;
  TransferSockets(const TransferSockets&) = delete;
  TransferSockets& operator=(const TransferSockets&) = delete;

  CURLcode attach(CURL* easy) {
    CURLcode result = curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &TransferSockets::open);
    if (result == CURLE_OK) result = curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
    if (result == CURLE_OK)
      result = curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &TransferSockets::close);
    if (result == CURLE_OK) result = curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
    return result;
  }
  // From any thread: every socket of the transfer is shut down, and no new one opens.
  void cut() {
    MutexLock lock(mutex_);
    cut_ = true;
    for (const curl_socket_t socket : open_)
      shutDownSocket(socket);
  }

 private:
  static curl_socket_t open(void* self, curlsocktype, curl_sockaddr* address) {
    auto& sockets = *static_cast<TransferSockets*>(self);
    MutexLock lock(sockets.mutex_);
    if (sockets.cut_) return CURL_SOCKET_BAD;
    const curl_socket_t socket = openSocket(address->family, address->socktype, address->protocol);
    if (socket != CURL_SOCKET_BAD) sockets.open_.push_back(socket);
    return socket;
  }
  static int close(void* self, curl_socket_t socket) {
    auto& sockets = *static_cast<TransferSockets*>(self);
    MutexLock lock(sockets.mutex_);
    std::erase(sockets.open_, socket);
    return closeSocket(socket);
  }

  Mutex mutex_;
  std::vector<curl_socket_t> open_ GUARDED_BY(mutex_);
  bool cut_ GUARDED_BY(mutex_) = false;
};

struct Sink {
  std::string body;
  size_t limit = kMaxTransferBytes;
  bool tooLarge = false;
  TransferSockets* sockets = nullptr;
};

// Keeps one byte past the limit, so that the caller can tell an oversized body from a full one.
size_t appendBody(char* data, size_t size, size_t count, void* user) {
  auto& sink = *static_cast<Sink*>(user);
  const size_t bytes = size * count;
  if (sink.body.size() + bytes > sink.limit) {
    sink.body.append(data, std::min(bytes, sink.limit + 1 - sink.body.size()));
    sink.tooLarge = true;
    // A server that sends too much need not be heard out, nor its word after the file awaited.
    sink.sockets->cut();
    return 0;  // makes the transfer fail
  }
  sink.body.append(data, bytes);
  return bytes;
}

// The stall rule and the progress reports. libcurl calls this often while bytes arrive and about
// once a second while it waits, its own blocking waits included, so a stall anywhere is seen.
struct Watch {
  using Clock = std::chrono::steady_clock;
  static constexpr auto kReportEvery = std::chrono::milliseconds(250);

  Watch(std::chrono::milliseconds stall, size_t limit, const ProgressReport& progress)
      : stall(stall), limit(limit), progress(progress) {}

  std::chrono::milliseconds stall;
  size_t limit;
  const ProgressReport& progress;
  Clock::time_point lastByte = Clock::now();
  Clock::time_point lastReport{};
  TransferProgress seen;
  bool reported = true;
  bool stalled = false;
  bool announcedTooLarge = false;  // the server's own size for the body is past the limit

  static int onProgress(void* self, curl_off_t expected, curl_off_t received, curl_off_t,
                        curl_off_t) {
    return static_cast<Watch*>(self)->check(expected, received) ? 0 : 1;
  }
  bool check(curl_off_t expected, curl_off_t received) {
    const auto now = Clock::now();
    seen.expected = static_cast<uint64_t>(std::max<curl_off_t>(expected, 0));
    // Refused on the server's word: no need to wait for the bytes that prove it.
    announcedTooLarge = seen.expected > limit;
    if (announcedTooLarge) return false;
    if (static_cast<uint64_t>(received) == seen.received) {
      stalled = now - lastByte >= stall;
      return !stalled;
    }
    seen.received = static_cast<uint64_t>(received);
    lastByte = now;
    reported = false;
    if (now - lastReport >= kReportEvery) report(now);
    return true;
  }
  void report(Clock::time_point now) {
    if (progress && !reported) progress(seen);
    reported = true;
    lastReport = now;
  }
};

struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// Runs the transfer in slices of at most kStopCheck, so that a stop request ends it within that
// even while the server says nothing (curl's own progress calls slow to one a second then).
constexpr int kStopCheckMs = 100;

CURLcode performUntilStopped(CURL* easy, const std::stop_token& stop, TransferSockets& sockets) {
  std::unique_ptr<CURLM, MultiCleanup> multi(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
  CURLcode result = CURLE_ABORTED_BY_CALLBACK;
  for (int running = 1; running > 0;) {
    if (stop.stop_requested()) break;
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    if (running > 0) curl_multi_poll(multi.get(), nullptr, 0, kStopCheckMs, nullptr);
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
      if (message->msg == CURLMSG_DONE) result = message->data.result;
    }
  }
  // Whatever the end, nothing more is awaited from the server: not even its goodbye.
  sockets.cut();
  curl_multi_remove_handle(multi.get(), easy);
  return result;
}

}  // namespace

std::string curlLibraryVersion() {
  return curl_version();
}

CurlLibrary::CurlLibrary() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlLibrary::~CurlLibrary() {
  curl_global_cleanup();
}

TransferOutcome performTransfer(const std::string& url, const TransferTimeouts& timeouts,
                                std::stop_token stop, size_t maxBytes,
                                const ProgressReport& progress) {
  TransferOutcome outcome;
  // Made before the handle and gone after it: libcurl may close a socket as the handle goes.
  TransferSockets sockets;
  std::stop_callback cutOnStop(stop, [&sockets] { sockets.cut(); });
  EasyHandle easy(curl_easy_init());
  if (!easy) {
    outcome.error = "Cannot start a network transfer";
    return outcome;
  }
  char errorBuffer[CURL_ERROR_SIZE] = {};
  Sink sink;
  sink.limit = std::min(maxBytes, kMaxTransferBytes);
  sink.sockets = &sockets;
  Watch watch(timeouts.stall, sink.limit, progress);
  CURL* h = easy.get();
  CURLcode setup = CURLE_OK;
  const auto set = [&](CURLoption option, auto value) {
    if (setup == CURLE_OK) setup = curl_easy_setopt(h, option, value);
  };
  set(CURLOPT_ERRORBUFFER, errorBuffer);
  set(CURLOPT_URL, url.c_str());
  // Our servers speak FTP; vendors may serve over TLS or HTTP. Nothing else is reachable, not even
  // through a redirect.
  set(CURLOPT_PROTOCOLS_STR, "ftp,ftps,http,https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "ftps,https");
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  // A 404 page is not a firmware file.
  set(CURLOPT_FAILONERROR, 1L);
  // The transfer runs on a worker thread: no signals for DNS time-outs.
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
  // Each answer on an FTP control connection is awaited no longer than a byte of the file.
  const auto stallSeconds = std::chrono::ceil<std::chrono::seconds>(timeouts.stall).count();
  set(CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(std::max<int64_t>(stallSeconds, 1)));
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &Watch::onProgress);
  set(CURLOPT_XFERINFODATA, &watch);
  set(CURLOPT_USERAGENT, "trident-updater/" TRIDENT_VERSION);
  set(CURLOPT_WRITEFUNCTION, &appendBody);
  set(CURLOPT_WRITEDATA, &sink);
  if (setup == CURLE_OK) setup = sockets.attach(h);
  if (setup != CURLE_OK) {
    outcome.error = strprintf("Cannot set up the network transfer: %s", curl_easy_strerror(setup));
    return outcome;
  }

  const CURLcode result = performUntilStopped(h, stop, sockets);
  watch.report(Watch::Clock::now());
  if (sink.tooLarge || watch.announcedTooLarge) {
    outcome.error =
        sink.tooLarge ? strprintf("The server sent more than %zu bytes", sink.limit)
                      : strprintf("The server announced %llu bytes, more than %zu",
                                  static_cast<unsigned long long>(watch.seen.expected), sink.limit);
    outcome.body = std::move(sink.body);
    outcome.tooLarge = true;
    outcome.announcedSize = watch.seen.expected;
  } else if (watch.stalled) {
    outcome.error = strprintf("The server has not answered for %g s",
                              std::chrono::duration<double>(timeouts.stall).count());
  } else if (result != CURLE_OK) {
    outcome.error = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(result);
  } else {
    outcome.body = std::move(sink.body);
  }
  return outcome;
}

TransferRunner::TransferRunner(Executor& executor, TransferTimeouts timeouts)
    : executor_(executor), timeouts_(timeouts) {}

TransferRunner::~TransferRunner() {
  owner_.assumeHeld();
  self_.reset();
  workers_.clear();  // asks each to stop, then waits for it
}

void TransferRunner::start(std::string url, Finish finish, size_t maxBytes,
                           ProgressReport progress) {
  owner_.assumeHeld();
  const uint64_t id = nextId_++;
  std::weak_ptr<TransferRunner*> owner = self_;
  workers_.emplace(
      id, std::jthread([&executor = executor_, timeouts = timeouts_, id, owner, maxBytes,
                        url = std::move(url), finish = std::move(finish),
                        progress = std::move(progress)](std::stop_token stop) {
        ProgressReport toOwner;
        // Posted like the end, and before it: a report never arrives after the transfer's end.
        // Each post holds the report itself: it may run after this thread has gone.
        if (progress) {
          toOwner = [&executor, owner,
                     shared = std::make_shared<ProgressReport>(progress)](TransferProgress now) {
            executor.post([shared, owner, now] {
              if (owner.lock()) (*shared)(now);
            });
          };
        }
        auto outcome = performTransfer(url, timeouts, stop, maxBytes, toOwner);
        if (stop.stop_requested()) return;  // the runner is going away
        auto done = finish(std::move(outcome));
        executor.post([owner, id, done = std::move(done)] {
          const auto runner = owner.lock();
          if (!runner) return;
          (*runner)->owner_.assumeHeld();  // posted to the owner's thread
          (*runner)->workers_.erase(id);   // the thread is at its end: joins at once
          if (done) done();
        });
      }));
}

}  // namespace trident
