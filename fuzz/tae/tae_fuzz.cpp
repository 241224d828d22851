// Reads arbitrary bytes as a TAE document, plainly and as the speaking part,
// lays it out and draws every page on the fake font, checking that the page
// table stays inside the text; on each page it clicks a grid of points and
// types keys into whatever gap the clicks selected.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "ehdd/TEHDDClient.h"
#include "platform/MessageBox.h"
#include "platform/gfx/Font.h"
#include "platform/ui/Headless.h"
#include "player/AudioPaginaSinSonido.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"
#include "player/TRectangulosVirtuales.h"

namespace {

constexpr size_t kMaxInput = size_t{1} << 20;

// Keys typed into each page: characters, Backspace, Delete, arrows, Tab, Enter.
constexpr uint16_t kTeclas[] = {'A', '0', 0xBA, 8, 46, 37, 39, 38, 40, 9, 'B', 13, 27};

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
    guardar = gdi.CrearBuffer(100, 100, 0, 0, &ventana);
    SetUnitControlWindow(&ventana);
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
  uint16_t guardar = 0;
  CriticalSection cerrojo;
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
  tae.SetCerrojoPagina(&harness.cerrojo);
  tae.Iniciar();
  AudioPaginaSinSonido sonido;
  tae.SetAudioPagina(&sonido);
  TRectangulosVirtuales regiones;
  regiones.SetOSAL(&harness.osal);
  regiones.SetGestorTAE(&tae);
  if (!regiones.Iniciar()) std::abort();
  std::unique_ptr<TFormatae> f(
      TFormatae::Crear(&tae, 0, 0, 664, 534, 687, 534, 0, 0, 0xFFFFFF, 0xBFDFDF));
  if (!f) std::abort();
  f->SetSlotPagina(static_cast<int16_t>(harness.slot));
  f->SetSlotGuardar(static_cast<int16_t>(harness.guardar));
  f->SetRectangulosVirtuales(&regiones);
  regiones.SetFormatae(f.get());
  for (const char* nombre : {"/DOC.TAE", "/DOCPR.TAE"}) {
    FILE* out = std::fopen((harness.folder + nombre).c_str(), "wb");
    if (out == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
    std::fclose(out);
    f->CargarDocumento((std::string("U:\\") + (nombre + 1)).c_str());
    Comprobar(*f);
    tae.CambiarFormateador(f.get());
    for (uint16_t p = 0; p <= static_cast<uint16_t>(f->NumPaginas()); ++p) {
      if (f->SaltarPagina(p) != 0) continue;
      for (uint16_t y = 3; y < 534; y += 37) {
        for (uint16_t x = 5; x < 687; x += 41) {
          for (uint8_t e = 1; e <= 5; ++e) regiones.EventoRaton(x, y, e);
          if ((x / 41 + y / 37) % 5 == 0) {
            for (uint16_t tecla : kTeclas) {
              harness.ventana.SetKeyChar(tecla == 0xBA ? u'\u00E9' : 0);
              tae.TeclaPulsada(tecla);
            }
            harness.ventana.SetKeyChar(0);
          }
        }
      }
      regiones.ActivarGrabacion();
    }
    tae.SoltarFormateador();
  }
  return 0;
}
