// Reads arbitrary bytes as a unit's role-play file into a fresh role-play
// context and checks that the context stays within its bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/OSAL.h"
#include "ehdd/TEHDDClient.h"
#include "platform/MessageBox.h"
#include "player/TGestorTAE.h"

namespace {

constexpr size_t kMaxInput = size_t{1} << 20;

struct Harness {
  Harness() {
    char pattern[] = "/tmp/lectoria-fuzz-rolplay-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    folder = pattern;
    path = folder + "/CLA001.RLP";
    client.Mount(folder.c_str(), 'U');
    client.AddLocalLetter('U', "");
    platform::SetMessageSink([](const std::string&, const std::string&, unsigned) { return 1; });
  }
  ~Harness() {
    std::remove(path.c_str());
    rmdir(folder.c_str());
  }
  std::string folder;
  std::string path;
  OSAL osal;
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

  TGestorTAE tae;
  tae.SetOSAL(&harness.osal);
  tae.SetEHDDClient(&harness.client);
  tae.Iniciar();
  if (!tae.LeerRolePlay("U:\\CLA001.RLP")) std::abort();
  const CON_ROLPLAY& r = *tae.ConRolPlay();
  if (r.num_personajes >= kMaxPersonajesRolPlay || r.num_lineas >= kMaxLineasRolPlay) std::abort();
  for (const auto& fila : r.filas) {
    int i = 0;
    while (i < kMaxLineasRolPlay && fila[i] != kFinFilaRolPlay) {
      if (fila[i] >= r.num_lineas) std::abort();
      ++i;
    }
    if (i == kMaxLineasRolPlay) std::abort();  // every row ends with 255
  }
  for (int j = r.num_lineas; j < kMaxLineasRolPlay; ++j) {
    if (r.lineas[j].nombre[0] != 0) std::abort();  // only the file's lines are named
  }
  return 0;
}
