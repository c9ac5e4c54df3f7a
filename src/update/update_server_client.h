#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"
#include "common/executor.h"
#include "engine/ports.h"
#include "engine/update_engine.h"
#include "records/remote_txt_file.h"
#include "update/curl_transfer.h"
#include "update/release_signature.h"

namespace trident {

// The update-server client: asks the server which release is current for the chosen variant, and
// on "Update" downloads its firmware to the engine's hex file. Transfers run on worker threads;
// everything else, and every call in, happens on the engine's thread.
//
// With a release key, a release description counts only with a good signature by that key in the
// file beside it (NAME.minisig, fetched alongside) and a release line that binds its firmware by
// SHA-256; without one, releases are taken as they come.
//
// Only the newest release-description fetch may change the window and currentRelease: an older
// one that ends later is logged and dropped. The firmware download works from the release that
// was current at the click: the click supersedes any fetch still running, and no fetch starts
// after it. Every answer is handed on: the engine alone drops those that come after its update
// has ended.
class UpdateServerClient final : public UpdateServerPort {
 public:
  struct Ports {
    ServerAnswerPort& answers;  // may be bound before the engine is built; used only from a call in
    WindowPort& window;
    Executor& executor;  // the engine's thread
    Diagnostics& diag;
  };

  // `ftpRootUrlStr` is the server's base URL, scheme and host; a trailing "/" is dropped, since
  // the paths bring their own. `releaseKey` is the publisher's key; none takes unsigned releases.
  explicit UpdateServerClient(Ports ports,
                              std::string_view ftpRootUrlStr = TRIDENT_UPDATE_SERVER_URL,
                              TransferTimeouts timeouts = {},
                              std::optional<ReleaseKey> releaseKey = builtInReleaseKey());

  // UpdateServerPort: the engine's first fetch (variant 0) and the click on "Update".
  void fetchVariant(int64_t selectedIndex) override;
  void downloadNewVerHexFile() override;

  // The variant pop-up's action.
  void popUpBtnValueChanged(int64_t selectedIndex);
  // The release-description URL of a variant; empty (and logged) for an index with no variant.
  // The first argument is not consulted.
  std::string getUpdateUrlStrBy(int64_t unused, int64_t selectedIndex);
  // Starts one fetch of a release description at `ftpTxtUrlStr` and returns at once.
  void downloadNewVerUpdateInfoBy(const std::string& ftpTxtUrlStr);

  const std::string& ftpRootUrlStr() const { return ftpRootUrlStr_; }
  // The record of the last release line with four fields, accepted or not; null before.
  const std::shared_ptr<const RemoteTxtFileViewModel>& currentRelease() const {
    return currentRelease_;
  }
  // A transfer has not yet reported back.
  bool busy() const { return transfers_.busy(); }

 private:
  // A release description and, with a key, its signature: both must be in before it is read.
  struct ReleaseFetch {
    uint64_t fetch = 0;
    std::string url;
    std::string fileName;  // as the signature must name it
    std::optional<TransferOutcome> text, signature;
  };
  void releaseDescriptionArrived(uint64_t fetch, const std::string& url, TransferOutcome outcome);
  void signatureArrived(uint64_t fetch, TransferOutcome outcome);
  void checkSignature();
  void readReleaseDescription(const std::string& url, const TransferOutcome& outcome);
  void firmwareDownloaded(const RemoteTxtFileViewModel& release,
                          const std::optional<std::string>& transferError,
                          const std::optional<std::string>& writeError,
                          const std::optional<std::string>& foreignSha256);

  Ports ports_;
  std::string ftpRootUrlStr_;
  std::optional<ReleaseKey> releaseKey_;
  std::shared_ptr<const RemoteTxtFileViewModel> currentRelease_;
  std::optional<ReleaseFetch> pending_;  // the newest fetch, while a part of it is still out
  uint64_t latestFetch_ = 0;
  bool downloadBegun_ = false;
  TransferRunner transfers_;  // last: its threads end before the rest goes
};

}  // namespace trident
