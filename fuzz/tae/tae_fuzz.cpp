// Reads arbitrary bytes as a TAE document, plainly and as the speaking part,
// lays it out and draws every page on the fake font (into a small surface),
// checking that the page table stays inside the text; on each page it
// presses every hit region the page made (at its left end, middle and right
// end, with each mouse event) and a point outside them all, and types keys
// into whatever gap or exercise a press selected.
//
// The lesson manager, its hit regions and the formatter are made once and
// serve every input, as the session's serve every document it shows: the
// runs go into the reader, the layout, the drawing and the handlers rather
// than into starting and ending the manager's workers.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "ehdd/TEHDDClient.h"
#include "platform/MessageBox.h"
#include "platform/gfx/Font.h"
#include "platform/ui/Headless.h"
#include "player/AudioPaginaSinSonido.h"
#include "player/IAnimPagina.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"
#include "player/TRectangulosVirtuales.h"

namespace {

constexpr size_t kMaxInput = size_t{1} << 20;
// The unit's page, which the layout and the hit regions follow.
constexpr uint16_t kAncho = 687;
constexpr uint16_t kAlto = 534;
// The surface and window actually drawn into: every drawing call clips to
// them, so what lies past them is laid out, measured and clipped the same
// way, without filling the whole page's pixels again for every page drawn.
constexpr uint16_t kAnchoSuperficie = 64;
constexpr uint16_t kAltoSuperficie = 48;

// Keys typed after a press on a gap or an exercise: characters, Backspace,
// Delete, arrows, Tab, Enter, Escape.
constexpr uint16_t kTeclas[] = {'A', '0', 0xBA, 8, 46, 37, 39, 38, 40, 9, 'B', 13, 27};

// An animation that is only its state: loaded or not as the harness says,
// stopped until played, 300 frames in sections of 30. The page's handlers
// and drawing see a loaded animation's branches, and a page move costs no
// hand-over to the animation's sound worker (the animation's own code has
// its own harness).
class AnimFingida : public IAnimPagina {
 public:
  static constexpr uint16_t kFrames = 300;

  void Preparar(bool cargada, uint8_t porcentaje_audio) {
    cargada_ = cargada;
    porcentaje_audio_ = porcentaje_audio;
    parada_ = true;
  }
  void PlayAnim(uint16_t /*frame*/) override { parada_ = !cargada_; }
  void PauseAnim() override { parada_ = !parada_; }
  void RecapAnim() override {}
  void CloseAnim() override { parada_ = true; }
  void CambiarSubtitulos() override {}
  bool Cargada() override { return cargada_; }
  bool Parada() override { return parada_; }
  uint16_t NumFrames() override { return cargada_ ? kFrames : 0; }
  uint16_t Seccion(uint16_t frame) override {
    return cargada_ && frame < kFrames ? static_cast<uint16_t>(frame / 30 + 1) : 0;
  }
  uint8_t PorcentajeAudio() override { return cargada_ ? porcentaje_audio_ : 0; }
  uint8_t PorcentajeImagenes() override { return cargada_ ? 60 : 0; }
  void PintarFondo(uint16_t /*slot*/, uint16_t /*x*/, uint16_t /*y*/) override {}

 private:
  bool cargada_ = false;
  bool parada_ = true;
  uint8_t porcentaje_audio_ = 0;
};

struct Harness {
  Harness() : ventana(kAnchoSuperficie, kAltoSuperficie) {
    char pattern[] = "/tmp/lectoria-fuzz-tae-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    folder = pattern;
    documento = folder + "/DOC.TAE";
    FILE* vacio = std::fopen(documento.c_str(), "wb");
    if (vacio == nullptr) std::abort();
    std::fclose(vacio);
    if (link(documento.c_str(), (folder + "/DOCPR.TAE").c_str()) != 0) std::abort();
    FILE* otro = std::fopen((folder + "/VACIO.TAE").c_str(), "wb");
    if (otro == nullptr) std::abort();
    std::fclose(otro);
    client.Mount(folder.c_str(), 'U');
    client.AddLocalLetter('U', "");
    auto fuentes = std::make_shared<platform::gfx::FakeFontBackend>(8, 12, 3);
    fuentes->SetAdvance(U' ', 4);
    platform::gfx::SetFontBackend(fuentes);
    platform::SetMessageSink([](const std::string&, const std::string&, unsigned) { return 1; });
    gdi.SetOSAL(&osal);
    slot = gdi.CrearBuffer(kAnchoSuperficie, kAltoSuperficie, 0, 0, &ventana);
    guardar = gdi.CrearBuffer(100, 100, 0, 0, &ventana);
    SetUnitControlWindow(&ventana);

    tae.SetOSAL(&osal);
    tae.SetGestorGDI(&gdi);
    tae.SetEHDDClient(&client);
    tae.SetCerrojoPagina(&cerrojo);
    tae.Iniciar();
    tae.SetAudioPagina(&sonido);
    tae.SetAnimPagina(&anim);
    regiones.SetOSAL(&osal);
    regiones.SetGestorTAE(&tae);
    if (!regiones.Iniciar()) std::abort();
    formatae.reset(
        TFormatae::Crear(&tae, 0, 0, 664, kAlto, kAncho, kAlto, 0, 0, 0xFFFFFF, 0xBFDFDF));
    if (!formatae) std::abort();
    formatae->SetSlotPagina(static_cast<int16_t>(slot));
    formatae->SetSlotGuardar(static_cast<int16_t>(guardar));
    formatae->SetRectangulosVirtuales(&regiones);
    regiones.SetFormatae(formatae.get());
  }
  ~Harness() {
    for (const char* nombre : {"/DOC.TAE", "/DOCPR.TAE", "/VACIO.TAE"}) {
      std::remove((folder + nombre).c_str());
    }
    rmdir(folder.c_str());
  }
  std::string folder;
  std::string documento;
  OSAL osal;
  TEHDDClient client;
  platform::ui::HeadlessControlSite ventana;
  TGestorGDI gdi;
  uint16_t slot = 0;
  uint16_t guardar = 0;
  CriticalSection cerrojo;
  TGestorTAE tae;
  AudioPaginaSinSonido sonido;
  AnimFingida anim;
  TRectangulosVirtuales regiones;
  std::unique_ptr<TFormatae> formatae;
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

// The window keeps logs of what it was asked (a bounded list that drops its
// oldest entry at each new one once full): emptied after each event, they
// never fill.
void OlvidarLlamadas(Harness& harness) {
  harness.ventana.ClearCallLog();
  harness.ventana.ClearPresentLog();
}

void Teclear(Harness& harness) {
  for (uint16_t tecla : kTeclas) {
    harness.ventana.SetKeyChar(tecla == 0xBA ? u'\u00E9' : 0);
    harness.tae.TeclaPulsada(tecla);
    OlvidarLlamadas(harness);
  }
  harness.ventana.SetKeyChar(0);
}

void Raton(Harness& harness, uint16_t x, uint16_t y, uint8_t evento) {
  harness.regiones.EventoRaton(x, y, evento);
  OlvidarLlamadas(harness);
}

// Every mouse event at one point.
void Pulsar(Harness& harness, uint16_t x, uint16_t y) {
  for (uint8_t e = TRectangulosVirtuales::kMover; e <= TRectangulosVirtuales::kDerechoArriba; ++e) {
    Raton(harness, x, y, e);
  }
}

// The regions the page made, taken before any press redraws it.
std::vector<RECT_VIRTUAL> RegionesDePagina(const TRectangulosVirtuales& regiones) {
  std::vector<RECT_VIRTUAL> out;
  for (uint16_t s = 1; s < regiones.Cuenta(); ++s) {
    const RECT_VIRTUAL* rv = regiones.Region(s);
    if (rv != nullptr && rv->en_uso == 1) out.push_back(*rv);
  }
  return out;
}

void RecorrerPagina(Harness& harness) {
  for (const RECT_VIRTUAL& rv : RegionesDePagina(harness.regiones)) {
    const uint16_t y = static_cast<uint16_t>((rv.top + rv.bottom) / 2);
    const uint16_t medio = static_cast<uint16_t>((rv.left + rv.right) / 2);
    const uint16_t derecha = rv.right > rv.left ? static_cast<uint16_t>(rv.right - 1) : rv.left;
    Pulsar(harness, medio, y);
    for (uint16_t x : {rv.left, derecha}) {
      Raton(harness, x, y, TRectangulosVirtuales::kIzquierdoAbajo);
      Raton(harness, x, y, TRectangulosVirtuales::kIzquierdoArriba);
    }
    if (rv.tipo == kRegionEjercicio || rv.tipo == kRegionHueco) Teclear(harness);
  }
  // Nothing there: the bottom right corner is past the text area.
  Pulsar(harness, kAncho - 1, kAlto - 1);
  Teclear(harness);
  harness.regiones.ActivarGrabacion();
  OlvidarLlamadas(harness);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  static Harness harness;
  OlvidarLlamadas(harness);
  TRectangulosVirtuales& regiones = harness.regiones;
  TFormatae& f = *harness.formatae;
  // Each input starts from the styles and the regions of a new manager.
  harness.tae.VaciarEstilos();
  harness.tae.RegistrarEstilo(harness.tae.EstiloPorDefecto());
  regiones.Reset();
  // One write serves both names: DOCPR.TAE is a second link to DOC.TAE.
  FILE* out = std::fopen(harness.documento.c_str(), "wb");
  if (out == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
  std::fclose(out);
  for (const char* nombre : {"/DOC.TAE", "/DOCPR.TAE"}) {
    // The plain reading without an animation, the speaking part's with one,
    // whose sound has loaded for inputs of even size only.
    const bool hablada = nombre[4] == 'P';
    harness.anim.Preparar(hablada, size % 2 == 0 ? 100 : 40);
    f.CargarDocumento((std::string("U:\\") + (nombre + 1)).c_str());
    Comprobar(f);
    harness.tae.CambiarFormateador(&f);
    for (uint16_t p = 0; p <= static_cast<uint16_t>(f.NumPaginas()); ++p) {
      if (f.SaltarPagina(p) != 0) continue;
      RecorrerPagina(harness);
    }
    harness.tae.SoltarFormateador();
  }
  // Every input ends with the formatter holding the same empty document, so
  // what an input allocated is freed within its own run (libFuzzer takes a
  // run that ends with more blocks than it began with for a leak to check).
  f.CargarDocumento("U:\\VACIO.TAE");
  regiones.Reset();
  return 0;
}
