#include <gtest/gtest.h>

#include <QApplication>

#include "support/process.h"
#include "window_rig.h"

namespace trident::testing {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  return waitFor(
      [&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return done();
      },
      limit);
}

}  // namespace trident::testing

// The window tests need a QApplication before the first test. CTest's discovery runs this binary
// outside the test environment, so the offscreen platform is chosen here unless one is set.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
