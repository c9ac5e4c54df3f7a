#include "update/curl_transfer.h"

#include <curl/curl.h>

#include <memory>
#include <utility>

#include "common/diagnostics.h"

namespace trident {

namespace {

struct EasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct Sink {
  std::string body;
  size_t limit = kMaxTransferBytes;
  bool tooLarge = false;
};

// Keeps one byte past the limit, so that the caller can tell an oversized body from a full one.
size_t appendBody(char* data, size_t size, size_t count, void* user) {
  auto& sink = *static_cast<Sink*>(user);
  const size_t bytes = size * count;
  if (sink.body.size() + bytes > sink.limit) {
    sink.body.append(data, std::min(bytes, sink.limit + 1 - sink.body.size()));
    sink.tooLarge = true;
    return 0;  // makes the transfer fail
  }
  sink.body.append(data, bytes);
  return bytes;
}

struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// Runs the transfer in slices of at most kStopCheck, so that a stop request ends it within that
// even while the server says nothing (curl's own progress calls slow to one a second then).
constexpr int kStopCheckMs = 100;

CURLcode performUntilStopped(CURL* easy, const std::stop_token& stop) {
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
  curl_multi_remove_handle(multi.get(), easy);
  return result;
}

}  // namespace

CurlLibrary::CurlLibrary() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlLibrary::~CurlLibrary() {
  curl_global_cleanup();
}

TransferOutcome performTransfer(const std::string& url, const TransferTimeouts& timeouts,
                                std::stop_token stop, size_t maxBytes) {
  TransferOutcome outcome;
  EasyHandle easy(curl_easy_init());
  if (!easy) {
    outcome.error = "Cannot start a network transfer";
    return outcome;
  }
  char errorBuffer[CURL_ERROR_SIZE] = {};
  Sink sink;
  sink.limit = std::min(maxBytes, kMaxTransferBytes);
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
  set(CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts.total.count()));
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(timeouts.stall.count()));
  set(CURLOPT_USERAGENT, "trident-updater/" TRIDENT_VERSION);
  set(CURLOPT_WRITEFUNCTION, &appendBody);
  set(CURLOPT_WRITEDATA, &sink);
  if (setup != CURLE_OK) {
    outcome.error = strprintf("Cannot set up the network transfer: %s", curl_easy_strerror(setup));
    return outcome;
  }

  const CURLcode result = performUntilStopped(h, stop);
  if (sink.tooLarge) {
    outcome.error = strprintf("The server sent more than %zu bytes", sink.limit);
    outcome.body = std::move(sink.body);
    outcome.tooLarge = true;
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

void TransferRunner::start(std::string url, Finish finish, size_t maxBytes) {
  owner_.assumeHeld();
  const uint64_t id = nextId_++;
  std::weak_ptr<TransferRunner*> owner = self_;
  workers_.emplace(
      id, std::jthread([&executor = executor_, timeouts = timeouts_, id, owner, maxBytes,
                        url = std::move(url), finish = std::move(finish)](std::stop_token stop) {
        auto outcome = performTransfer(url, timeouts, stop, maxBytes);
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
