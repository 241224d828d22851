// units.alu as it may be found on disk: load it, then save it back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/qorUnitsManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string folder = [] {
    char pattern[] = "/tmp/lectoria-fuzz-units-XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  const std::string path = folder + "/units.alu";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  qorUnitsManager units;
  units.Load(path);
  units.Save(path);
  return 0;
}
