// Reads arbitrary bytes as a .STR recording the way playback does: frames
// read through the eHDD client, decoded by Speex into 160-sample buffers,
// until the end or the first damaged frame. The input is written to one
// temporary file per process and read back from there.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ehdd/TEHDDClient.h"
#include "media/FicheroSTR.h"
#include "media/TCodecSpeex.h"

namespace {

constexpr size_t kMaxInput = size_t{1} << 20;

struct Harness {
  Harness() {
    char pattern[] = "/tmp/lectoria-fuzz-str-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    folder = pattern;
    path = folder + "/input.STR";
    client.SetPlainLocalFiles(true);
  }
  ~Harness() {
    std::remove(path.c_str());
    rmdir(folder.c_str());
  }
  std::string folder;
  std::string path;
  TEHDDClient client;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  static Harness harness;
  FILE* out = std::fopen(harness.path.c_str(), "wb");
  if (out == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
  std::fclose(out);

  TFicheroEHDD* file = harness.client.Abrir(harness.path.c_str(), 0);
  if (file == nullptr) std::abort();
  TCodecSpeex codec;
  LectorSTR lector;
  lector.Iniciar(&harness.client, file, &codec);
  int16_t buffer[160];
  // Each buffer takes at least one byte of the file, so this ends.
  size_t buffers = 0;
  while (lector.Llenar(buffer, 160) == LectorSTR::kLleno) {
    if (++buffers > size) std::abort();
  }
  for (int16_t v : buffer) {
    volatile int16_t touch = v;
    (void)touch;
  }
  harness.client.Cerrar(file);
  return 0;
}
