// Opens a volume made of arbitrary bytes and walks and reads everything in
// it. Input: a 4-byte little-endian length of the .FAT part, the .FAT bytes,
// then the .DAT bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ehdd/TVolumen.h"

namespace {

void Walk(TVolumen& v, uint32_t block, const std::string& path, int depth, int& budget) {
  if (depth > 16 || budget <= 0) return;
  std::vector<TEntradaDirectorio> entries;
  if (!v.Listar(block, depth % 2 ? "brief" : "full", entries)) return;
  for (const auto& e : entries) {
    if (--budget <= 0) return;
    const std::string child = path + "/" + e.nombre;
    if (e.tipo == 1) {
      Walk(v, e.primer_bloque, child, depth + 1, budget);
      continue;
    }
    TFicheroVolumen r = v.AbrirFichero(child, "r", e.propietario);
    v.Size(r);
    std::vector<char> buffer(4096);
    for (int i = 0; i < 64 && v.Leer(r, buffer.data(), static_cast<uint32_t>(buffer.size())) > 0; ++i) {
    }
    v.Posicionar(r, 0, 0);
    v.Posicionar(r, -1, 2);
    v.CerrarFichero(r);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t fat_size = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
  if (fat_size > size - 4) return 0;
  static std::string base = [] {
    char pattern[] = "/tmp/lectoria-fuzz-volume-XXXXXX";
    return std::string(mkdtemp(pattern)) + "/v";
  }();
  FILE* fat = std::fopen((base + ".FAT").c_str(), "wb");
  FILE* dat = std::fopen((base + ".DAT").c_str(), "wb");
  if (fat == nullptr || dat == nullptr) std::abort();
  std::fwrite(data + 4, 1, fat_size, fat);
  std::fwrite(data + 4 + fat_size, 1, size - 4 - fat_size, dat);
  std::fclose(fat);
  std::fclose(dat);
  TVolumen v;
  if (v.Abrir(base)) {
    int budget = 2000;
    Walk(v, 0, "", 0, budget);
  }
  return 0;
}
