// The device monitor fed plain lists: what each enumeration changed, with the handles it gave.
#include <gtest/gtest.h>

#include <sstream>

#include "hid/device_monitor.h"
#include "support/test_support.h"

// A listed device names only its path and instance.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace trident {
namespace {

using testing::PrintTo;

// One step: "list a:1 b:1" is an enumeration of paths with their instances; "fail N" and
// "retire N" are what the I/O thread does to a taken device. `changes` is what the step gives:
// "+a1" attached a with handle 1, "-a1" removed, ">a1" departed; for fail, "-a1" if it is to be
// said, "" if not.
struct Step {
  std::string action;
  std::string changes;
};

struct MonitorCase {
  std::string name;
  std::vector<Step> steps;
};

std::vector<HidDeviceInfo> listed(std::istringstream& words) {
  std::vector<HidDeviceInfo> present;
  for (std::string word; words >> word;) {
    const size_t colon = word.find(':');
    present.push_back(
        {.path = word.substr(0, colon), .instance = std::stoull(word.substr(colon + 1))});
  }
  return present;
}

// Appended in place: GCC 12 at -O3 warns wrongly of overlap in chains of temporary strings.
std::string said(char kind, const HidDeviceRef& device) {
  std::string text(1, kind);
  text += device.info.path;
  text += std::to_string(device.handle);
  return text;
}

std::string said(const DeviceChange& change) {
  return said(change.kind == DeviceChange::Kind::Attached  ? '+'
              : change.kind == DeviceChange::Kind::Removed ? '-'
                                                           : '>',
              change.device);
}

class DeviceMonitorRun : public ::testing::TestWithParam<MonitorCase> {};

TEST_P(DeviceMonitorRun, SaysEachChangeOnce) {
  DeviceMonitor monitor;
  for (const Step& step : GetParam().steps) {
    std::istringstream words(step.action);
    std::string verb;
    words >> verb;
    std::string got;
    if (verb == "list") {
      for (const auto& change : monitor.update(listed(words))) {
        if (!got.empty()) got += ' ';
        got += said(change);
      }
    } else {
      uint64_t handle = 0;
      words >> handle;
      if (verb == "fail") {
        if (const auto device = monitor.fail(handle)) got = said('-', *device);
      } else {
        monitor.retire(handle);
      }
      EXPECT_FALSE(monitor.find(handle)) << step.action;  // never offered again while listed
    }
    EXPECT_EQ(got, step.changes) << step.action;
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lists, DeviceMonitorRun, ::testing::Values(
    MonitorCase{"attachedOnceWhileListed", {{"list a:1", "+a1"}, {"list a:1", ""}}},
    MonitorCase{"leavingIsRemovalThenDeparture",
                {{"list a:1 b:7", "+a1 +b2"}, {"list b:7", "-a1 >a1"}, {"list", "-b2 >b2"}}},
    // The same path with another instance between two lists: a board plugged in again.
    MonitorCase{"pluggedInAgainBetweenLists", {{"list a:1", "+a1"}, {"list a:2", "-a1 >a1 +a2"}}},
    MonitorCase{"handlesAreNeverGivenTwice",
                {{"list a:1", "+a1"}, {"list", "-a1 >a1"}, {"list a:1", "+a2"}}},
    // A taken device that failed: its removal is said then, once; it departs when it leaves.
    MonitorCase{"failedIsRemovedOnceAndDepartsLater", {{"list a:1 b:1", "+a1 +b2"},
                {"fail 1", "-a1"}, {"fail 1", ""}, {"list a:1 b:1", ""}, {"list b:1", ">a1"}}},
    // One let go is not attached again while it lingers, and its leaving is a departure alone.
    MonitorCase{"retiredLingersUnoffered", {{"list a:1", "+a1"}, {"retire 1", ""},
                {"list a:1", ""}, {"fail 1", ""}, {"list", ">a1"}, {"list a:1", "+a2"}}},
    MonitorCase{"unknownHandlesChangeNothing", {{"fail 9", ""}, {"retire 9", ""}, {"list a:1", "+a1"}}}),
    [](const auto& info) { return info.param.name; });
// clang-format on

TEST(DeviceMonitor, FindsOnlyListedDevices) {
  DeviceMonitor monitor;
  monitor.update({{"a", 0x0416, 0x3F00, "board", 1, ""}});
  ASSERT_TRUE(monitor.find(1));
  EXPECT_EQ(monitor.find(1)->info.name, "board");
  EXPECT_FALSE(monitor.find(2));
  monitor.update({});
  EXPECT_FALSE(monitor.find(1));
}

}  // namespace
}  // namespace trident
