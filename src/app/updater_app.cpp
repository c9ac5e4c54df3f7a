#include "updater_app.h"

namespace trident {

UpdaterApp::UpdaterApp(Config config, Diagnostics& diag)
    : window_(config.hexFile),
      link_(std::move(config.hid), executor_, diag),
      client_({engine_, window_, executor_, diag}, config.serverUrl, config.timeouts),
      engine_({link_, window_, client_, diag}, config.hexFile) {
  window_.setHooks({[this] { link_.RegisterHID(engine_); },
                    [this] { engine_.OnActionButtonClick(); },
                    [this](int64_t index) { client_.popUpBtnValueChanged(index); }});
}

}  // namespace trident
