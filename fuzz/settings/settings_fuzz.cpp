// A key/value file as it may be found on disk.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/qorSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string folder = [] {
    char pattern[] = "/tmp/lectoria-fuzz-settings-XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  const std::string path = folder + "/list.txt";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  qorSettings settings;
  settings.SetFile(path);
  settings.Load();
  std::string value;
  settings.Get("a", value);
  return 0;
}
