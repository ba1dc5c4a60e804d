// Every test runs inside a real Qt application, so that timers, queued calls and widgets work;
// with VXCOMM_TEST_LOAD set, beside a load on every core.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "support/cpuload.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  CpuLoad::FromEnvironment();
  return RUN_ALL_TESTS();
}
