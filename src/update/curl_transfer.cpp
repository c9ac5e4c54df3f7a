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
  bool tooLarge = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* user) {
  auto& sink = *static_cast<Sink*>(user);
  const size_t bytes = size * count;
  if (sink.body.size() + bytes > kMaxTransferBytes) {
    sink.tooLarge = true;
    return 0;  // makes the transfer fail
  }
  sink.body.append(data, bytes);
  return bytes;
}

int checkStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::stop_token*>(user)->stop_requested() ? 1 : 0;
}

}  // namespace

TransferOutcome performTransfer(const std::string& url, const TransferTimeouts& timeouts,
                                std::stop_token stop) {
  TransferOutcome outcome;
  EasyHandle easy(curl_easy_init());
  if (!easy) {
    outcome.error = "Cannot start a network transfer";
    return outcome;
  }
  char errorBuffer[CURL_ERROR_SIZE] = {};
  Sink sink;
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
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &checkStop);
  set(CURLOPT_XFERINFODATA, &stop);
  if (setup != CURLE_OK) {
    outcome.error = strprintf("Cannot set up the network transfer: %s", curl_easy_strerror(setup));
    return outcome;
  }

  const CURLcode result = curl_easy_perform(h);
  if (sink.tooLarge) {
    outcome.error = strprintf("The server sent more than %zu bytes", kMaxTransferBytes);
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
  self_.reset();
  workers_.clear();  // asks each to stop, then waits for it
}

void TransferRunner::start(std::string url, Finish finish) {
  const uint64_t id = nextId_++;
  std::weak_ptr<TransferRunner*> owner = self_;
  workers_.emplace(
      id, std::jthread([&executor = executor_, timeouts = timeouts_, id, owner,
                        url = std::move(url), finish = std::move(finish)](std::stop_token stop) {
        auto outcome = performTransfer(url, timeouts, stop);
        if (stop.stop_requested()) return;  // the runner is going away
        auto done = finish(std::move(outcome));
        executor.post([owner, id, done = std::move(done)] {
          const auto runner = owner.lock();
          if (!runner) return;
          (*runner)->workers_.erase(id);  // the thread is at its end: joins at once
          if (done) done();
        });
      }));
}

}  // namespace trident
