#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "common/diagnostics.h"
#include "engine/update_engine.h"
#include "hid/hid_link.h"
#include "qt_executor.h"
#include "ui/ViewController.h"
#include "update/update_server_client.h"

namespace trident {

// The application's parts, wired the one way the product runs them: the window in front of the
// engine, the HID link and the update-server client behind it, all on the GUI thread.
class UpdaterApp {
 public:
  struct Config {
    std::unique_ptr<HidBackend> hid;                    // hidapi, or the virtual transport
    std::string serverUrl = TRIDENT_UPDATE_SERVER_URL;  // the update server's base URL
    std::filesystem::path hexFile = "tmp.hex";          // where the firmware is kept
    TransferTimeouts timeouts = {};
  };

  UpdaterApp(Config config, Diagnostics& diag);

  ViewController& window() { return window_; }
  UpdateEngine& engine() { return engine_; }
  UpdateServerClient& client() { return client_; }
  HidLink& link() { return link_; }

 private:
  QtExecutor executor_;
  ViewController window_;
  HidLink link_;
  // The client and the engine call each other; the client only uses the engine once called.
  UpdateServerClient client_;
  UpdateEngine engine_;
};

}  // namespace trident
