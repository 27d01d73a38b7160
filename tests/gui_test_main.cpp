// Main of the GUI suites: the real widgets, without a display.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests, which CTest does at build time to discover them, needs no widgets; a
  // QApplication there would only warn about the build's session (no XDG_RUNTIME_DIR as root).
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
