#include "client_rig.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

namespace trident::testing {

namespace {

// The application initialises libcurl once in main(); the test binary does it here.
class CurlEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK); }
  void TearDown() override { curl_global_cleanup(); }
};

const auto* const curlEnvironment = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

}  // namespace

void Served::publish(std::string_view path, std::string_view content) {
  const auto file = dir.path() / std::filesystem::path(path).relative_path();
  std::filesystem::create_directories(file.parent_path());
  writeFile(file, content);
}

ClientRig::ClientRig(std::string_view ftpRootUrlStr, TransferTimeouts timeouts,
                     std::filesystem::path hexFile)
    : sim({}, std::move(hexFile)),
      client({sim.engine, sim.window, executor, sim.diag}, ftpRootUrlStr, timeouts) {
  sim.takeBoard();
  firstView = sim.window.events.size();
  firstLog = sim.diag.log.size();
}

void ClientRig::clickUpdate() {
  const int before = sim.server.downloads;
  sim.engine.OnActionButtonClick();
  if (sim.server.downloads > before) client.downloadNewVerHexFile();
}

std::vector<std::string> ClientRig::log() const {
  const auto& lines = sim.diag.log;
  return {lines.begin() + static_cast<long>(firstLog), lines.end()};
}

bool ClientRig::settle() {
  return executor.runUntil([&] { return !client.busy(); }, within(std::chrono::seconds(20)));
}

std::vector<std::string> ClientRig::views() const {
  const auto& events = sim.window.events;
  return {events.begin() + static_cast<long>(firstView), events.end()};
}

std::string ClientRig::alert() const {
  for (const auto& event : sim.window.events) {
    if (event.rfind("alertA(", 0) == 0) return event.substr(7, event.size() - 8);
  }
  return {};
}

}  // namespace trident::testing
