#include <gtest/gtest.h>

#include <QApplication>

// The window tests need a QApplication before the first test. CTest's discovery runs this binary
// outside the test environment, so the offscreen platform is chosen here unless one is set.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
