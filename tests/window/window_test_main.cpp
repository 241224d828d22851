// The window's tests run in one QApplication on the offscreen platform, with
// the registry in a folder of their own.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>

#include "host/TForm1.h"

#if defined(__SANITIZE_THREAD__)
// Qt is not built for ThreadSanitizer: its own threads synchronise in ways it
// cannot see. Calls made from inside Qt are left out; the program's code and
// its locks are still checked.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n"
         "called_from_lib:libQt6Test.so.6\n"
         "called_from_lib:libfontconfig.so.1\n"
         "called_from_lib:libglib-2.0.so.0\n";
}
#endif

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
