// The window's tests run in one QApplication on the offscreen platform, with
// the registry in a folder of their own.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>

#include "host/TForm1.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  char pattern[] = "/tmp/velarno-registry-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  setenv("LECTORIA_REGISTRY_DIR", pattern, 1);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  MainUnitInitialize();
  const int result = RUN_ALL_TESTS();
  MainUnitFinalize();
  std::filesystem::remove_all(pattern);
  return result;
}
