// Reads arbitrary bytes as a TAE document, plainly and as the speaking part,
// lays it out and draws every page on the fake font, checking that the page
// table stays inside the text.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "ehdd/TEHDDClient.h"
#include "platform/MessageBox.h"
#include "platform/gfx/Font.h"
#include "platform/ui/Headless.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"

namespace {

constexpr size_t kMaxInput = size_t{1} << 20;

struct Harness {
  Harness() : ventana(687, 534) {
    char pattern[] = "/tmp/lectoria-fuzz-tae-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    folder = pattern;
    client.Mount(folder.c_str(), 'U');
    client.AddLocalLetter('U', "");
    auto fuentes = std::make_shared<platform::gfx::FakeFontBackend>(8, 12, 3);
    fuentes->SetAdvance(U' ', 4);
    platform::gfx::SetFontBackend(fuentes);
    platform::SetMessageSink([](const std::string&, const std::string&, unsigned) { return 1; });
    gdi.SetOSAL(&osal);
    slot = gdi.CrearBuffer(687, 534, 0, 0, &ventana);
  }
  ~Harness() {
    for (const char* nombre : {"/DOC.TAE", "/DOCPR.TAE"}) std::remove((folder + nombre).c_str());
    rmdir(folder.c_str());
  }
  std::string folder;
  OSAL osal;
  TEHDDClient client;
  platform::ui::HeadlessControlSite ventana;
  TGestorGDI gdi;
  uint16_t slot = 0;
};

void Comprobar(const TFormatae& f) {
  if (f.NumPaginas() < 1 || f.NumPaginas() > kMaxPaginasTAE) std::abort();
  for (uint16_t p = 0; p < f.NumPaginas(); ++p) {
    const PAGINA_TAE* pagina = f.Pagina(p);
    if (pagina->texto < f.Texto() || pagina->texto > f.Texto() + f.LongitudTexto()) std::abort();
    if (pagina->lineas < 0) std::abort();
  }
  const AUDIT_TAE& audit = *f.Auditoria();
  if (audit.bufsontrat == nullptr || audit.bufejetrat == nullptr) std::abort();
  // The last records exist.
  volatile uint8_t s = audit.bufsontrat[audit.sonido_mayor].comparaciones;
  volatile char e = audit.bufejetrat[audit.ejercicio_mayor].final;
  (void)s;
  (void)e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  static Harness harness;
  TGestorTAE tae;
  tae.SetOSAL(&harness.osal);
  tae.SetGestorGDI(&harness.gdi);
  tae.SetEHDDClient(&harness.client);
  tae.Iniciar();
  std::unique_ptr<TFormatae> f(
      TFormatae::Crear(&tae, 0, 0, 664, 534, 687, 534, 0, 0, 0xFFFFFF, 0xBFDFDF));
  if (!f) std::abort();
  f->SetSlotPagina(static_cast<int16_t>(harness.slot));
  for (const char* nombre : {"/DOC.TAE", "/DOCPR.TAE"}) {
    FILE* out = std::fopen((harness.folder + nombre).c_str(), "wb");
    if (out == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
    std::fclose(out);
    f->CargarDocumento((std::string("U:\\") + (nombre + 1)).c_str());
    Comprobar(*f);
    for (uint16_t p = 0; p <= static_cast<uint16_t>(f->NumPaginas()); ++p) f->PintarPagina(p);
  }
  return 0;
}
