#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "common/executor.h"
#include "common/thread_annotations.h"

namespace trident {

// How long a transfer may wait: `connect` to reach the server and be greeted, `stall` for any
// byte of the file, or for the server's word on a connection that carries none. A transfer that
// keeps moving has no total limit: a slow link (a phone's hotspot) must still get the firmware
// through. Tests inject shorter values.
struct TransferTimeouts {
  std::chrono::milliseconds connect{std::chrono::seconds(30)};
  std::chrono::milliseconds stall{std::chrono::seconds(30)};
};

// How far a transfer has come: the bytes received, and the size the server announced (0 when it
// did not say).
struct TransferProgress {
  uint64_t received = 0;
  uint64_t expected = 0;
};
using ProgressReport = std::function<void(TransferProgress)>;

// What a transfer brought back: the whole body, or the reason it failed in words a user can read
// (the transfer library's own description, never a bare code).
struct TransferOutcome {
  std::string body;  // with tooLarge: the first limit + 1 bytes
  std::optional<std::string> error;
  bool tooLarge = false;       // the server sent, or announced, more than the transfer's limit
  uint64_t announcedSize = 0;  // with tooLarge: the size the server announced (0: none)
  bool ok() const { return !error; }
};

// No transfer takes more than this; each kind of file has its own, lower limit.
inline constexpr size_t kMaxTransferBytes = 32u << 20;

// libcurl's version and those of the libraries it uses, for a bug report
// ("libcurl/7.88.1 OpenSSL/3.0.15 zlib/1.2.13 ...").
std::string curlLibraryVersion();

// libcurl's process-wide set-up (curl_global_init), done once in main() before any transfer, and
// its end (curl_global_cleanup) when this goes out of scope.
class CurlLibrary {
 public:
  CurlLibrary();
  ~CurlLibrary();
  CurlLibrary(const CurlLibrary&) = delete;
  CurlLibrary& operator=(const CurlLibrary&) = delete;
};

// Fetches one URL (ftp, ftps, http or https; TLS verified) with its own transfer handle, blocking
// the calling thread. A stop request ends it early with an error. curl_global_init is the
// application's business (CurlLibrary) and must have happened before.
// `maxBytes` (at most kMaxTransferBytes) bounds the body. A stop request ends the transfer within
// a tenth of a second, whatever the server does. `progress`, if given, is called on the calling
// thread a few times a second while bytes arrive, and once more with the last count.
TransferOutcome performTransfer(const std::string& url, const TransferTimeouts& timeouts,
                                std::stop_token stop = {}, size_t maxBytes = kMaxTransferBytes,
                                const ProgressReport& progress = {});

// Runs each transfer on a thread of its own and hands its end back to the owner's thread through
// the executor, which must run posted work later, never inside post(). Everything but the
// transfer itself happens on the owner's thread. Destroying the runner stops the transfers still
// running and waits for their threads; their results are then dropped.
class TransferRunner {
 public:
  // Runs on the transfer's thread once it has ended, for work that should not block the owner
  // (writing a file); what it returns runs on the owner's thread.
  using Finish = std::function<std::function<void()>(TransferOutcome)>;

  TransferRunner(Executor& executor, TransferTimeouts timeouts);
  ~TransferRunner();
  TransferRunner(const TransferRunner&) = delete;
  TransferRunner& operator=(const TransferRunner&) = delete;

  // `progress`, if given, runs on the owner's thread, never after the transfer's end.
  void start(std::string url, Finish finish, size_t maxBytes = kMaxTransferBytes,
             ProgressReport progress = {});
  // Some transfer has not yet handed its end back.
  bool busy() const {
    owner_.assumeHeld();
    return !workers_.empty();
  }

 private:
  // The transfer threads share nothing of the runner's but the executor, whose post() takes any
  // thread: what they need is copied into each. The rest is the owner's thread's alone, where
  // every call in and every posted end runs, and each of those takes up this role first.
  ThreadRole owner_;
  Executor& executor_;
  TransferTimeouts timeouts_;
  uint64_t nextId_ GUARDED_BY(owner_) = 0;
  std::map<uint64_t, std::jthread> workers_ GUARDED_BY(owner_);
  // Posted ends hold this weakly: once the runner is gone they find it expired and do nothing.
  std::shared_ptr<TransferRunner*> self_ = std::make_shared<TransferRunner*>(this);
};

}  // namespace trident
