// A pack archive made of arbitrary bytes: register it, list it and read
// every member it names.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/qorFileManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string folder = [] {
    char pattern[] = "/tmp/lectoria-fuzz-pack-XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  SetPackTrace(nullptr);
  const std::string path = folder + "/p.pak";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  qorZipManager zip;
  zip.SetPath(path);
  std::vector<std::pair<std::string, uint64_t>> members;
  if (zip.Open()) zip.ListMembers(members);
  qorFileManager files;
  files.OpenArchive("p", path);
  files.SetAlias("1", "p");
  for (const auto& m : members) {
    std::unique_ptr<unsigned char[]> bytes;
    uint32_t length = 0;
    files.ReadWholeFile("1:" + m.first, bytes, length);
  }
  return 0;
}
