// Opens a slot file made of arbitrary bytes and reads every key it holds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ehdd/TEHDDCache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string folder = [] {
    char pattern[] = "/tmp/lectoria-fuzz-slots-XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  // At most a few records of input; the file is grown to 4 records.
  if (size > 4 + 8 * TSlotFileStore::kRegistro) size = 4 + 8 * TSlotFileStore::kRegistro;
  FILE* f = std::fopen((folder + "/s").c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  TEHDDCache cache;
  cache.Iniciar("s", 4, folder);
  if (!cache.persistente()) return 0;
  for (uint32_t r = 0; r < cache.slots().registros(); ++r) {
    // Every key that an index entry names reads back whole.
    for (const std::string& key : {std::string("k"), std::string(TSlotFileStore::kMaxClave, 'K')}) {
      for (uint32_t index : cache.slots().Indices(key)) {
        std::vector<TRangoCache> entries;
        uint32_t first = 0;
        cache.ComprobarRango(key, entries, index * 4000, 4000, first);
        std::vector<unsigned char> out(4000);
        cache.LeerRango(key, index * 4000, 4000, entries, out.data());
      }
    }
  }
  cache.Olvidar("k");
  return 0;
}
