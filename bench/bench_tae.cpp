// TAE documents: loading a 100 KB, 40-page document beside a bare read and
// one width-table pass over it; drawing a page of 26 lines of 60 characters
// beside a fill and the same 26 text outputs; drawing a dense page (sounds,
// exercises with gaps, buttons, skin cached) beside the same bare draw; one
// character typed into a gap; the animation bar; loading a 100 KB string
// list beside a bare read and a split at CR.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "base/TListaStrings.h"
#include "ehdd/TEHDDClient.h"
#include "platform/MessageBox.h"
#include "platform/gfx/Surface.h"
#include "platform/ui/Headless.h"
#include "player/IAnimPagina.h"
#include "player/RECT_VIRTUAL.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"
#include "player/TRectangulosVirtuales.h"

namespace {

constexpr int kPageW = 687;
constexpr int kPageH = 534;

const std::string& Carpeta() {
  static const std::string carpeta = [] {
    char pattern[] = "/tmp/lectoria-bench-tae-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    platform::SetMessageSink([](const std::string&, const std::string&, unsigned) { return 1; });
    return std::string(pattern);
  }();
  return carpeta;
}

std::string Escribir(const std::string& nombre, const std::string& bytes) {
  const std::string path = Carpeta() + "/" + nombre;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string Linea(int i) {
  const std::string palabras = "The learner listens to the sentence, repeats it and compares it ";
  std::string linea = palabras.substr(i % 7) + palabras;
  linea.resize(60);
  return linea;
}

// About 100 KB: 40 pages of text lines with a few style tags, CR LF ends.
const std::string& Documento() {
  static const std::string texto = [] {
    std::string t;
    for (int p = 0; p < 40; ++p) {
      for (int i = 0; i < 40; ++i) {
        if (i % 10 == 0) t += "<NEGRITA:1>Title<NEGRITA:0> ";
        t += Linea(i) + "\r\n";
      }
      if (p < 39) t += "<SALTOPAG:>";
    }
    return t;
  }();
  return texto;
}

struct Motor {
  Motor() : ventana(kPageW, kPageH) {
    client.Mount(Carpeta().c_str(), 'U');
    client.AddLocalLetter('U', "");
    gdi.SetOSAL(&osal);
    tae.SetOSAL(&osal);
    tae.SetGestorGDI(&gdi);
    tae.SetEHDDClient(&client);
    tae.Iniciar();
    f.reset(TFormatae::Crear(&tae, 0, 0, 664, kPageH, kPageW, kPageH, 0, 0, 0xFFFFFF, 0xBFDFDF));
    slot = gdi.CrearBuffer(kPageW, kPageH, 0, 0, &ventana);
    f->SetSlotPagina(static_cast<int16_t>(slot));
  }
  OSAL osal;
  TEHDDClient client;
  platform::ui::HeadlessControlSite ventana;
  TGestorGDI gdi;
  TGestorTAE tae;
  std::unique_ptr<TFormatae> f;
  uint16_t slot = 0;
};

std::string LeerConRead(const std::string& path) {
  std::string datos;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) std::abort();
  char bloque[65536];
  for (;;) {
    const ssize_t n = read(fd, bloque, sizeof bloque);
    if (n <= 0) break;
    datos.append(bloque, static_cast<size_t>(n));
  }
  close(fd);
  return datos;
}

void BM_ReadAndWidthPass(benchmark::State& state) {
  const std::string path = Escribir("DOC.TAE", Documento());
  uint8_t anchos[256];
  TGestorGDI gdi;
  gdi.CharWidths(0, TGestorTAE::EstiloInicial().fuente, anchos);
  for (auto _ : state) {
    const std::string datos = LeerConRead(path);
    uint32_t total = 0;
    for (unsigned char c : datos) total += anchos[c];
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() * Documento().size());
}
BENCHMARK(BM_ReadAndWidthPass)->Unit(benchmark::kMicrosecond);

void BM_CargarDocumento(benchmark::State& state) {
  Escribir("DOC.TAE", Documento());
  Motor motor;
  for (auto _ : state) {
    motor.f->CargarDocumento("U:\\DOC.TAE");
    if (motor.f->NumPaginas() != 40) std::abort();
  }
  state.SetBytesProcessed(state.iterations() * Documento().size());
}
BENCHMARK(BM_CargarDocumento)->Unit(benchmark::kMicrosecond);

void BM_FillAnd26TextOuts(benchmark::State& state) {
  Motor motor;
  const ESTILO_TAE estilo = TGestorTAE::EstiloInicial();
  std::vector<std::string> lineas;
  for (int i = 0; i < 26; ++i) lineas.push_back(Linea(i));
  for (auto _ : state) {
    motor.gdi.FillRect(motor.slot, 0, 0, kPageW, kPageH, 0xFFFFFF);
    for (int i = 0; i < 26; ++i) {
      motor.gdi.TextOutFont(motor.slot, 0, static_cast<uint16_t>(1 + 20 * i), lineas[i].data(), 60,
                            estilo.fuente, 0, 0x000000, 0xFFFFFF);
    }
  }
}
BENCHMARK(BM_FillAnd26TextOuts)->Unit(benchmark::kMicrosecond);

void BM_PintarPagina(benchmark::State& state) {
  std::string texto;
  for (int i = 0; i < 26; ++i) texto += Linea(i) + "\n";
  Escribir("PAGE.TAE", texto);
  Motor motor;
  motor.f->CargarDocumento("U:\\PAGE.TAE");
  for (auto _ : state) {
    if (motor.f->PintarPagina(0) != 25) std::abort();  // 26 lines fill the area
  }
}
BENCHMARK(BM_PintarPagina)->Unit(benchmark::kMicrosecond);

// An animation whose figures are all there.
class AnimLista : public IAnimPagina {
 public:
  void PlayAnim(uint16_t) override {}
  void PauseAnim() override {}
  void RecapAnim() override {}
  void CloseAnim() override {}
  void CambiarSubtitulos() override {}
  bool Cargada() override { return true; }
  bool Parada() override { return false; }
  uint16_t NumFrames() override { return 300; }
  uint16_t Seccion(uint16_t frame) override { return frame < 300 ? 1 + frame / 50 : 0; }
  uint8_t PorcentajeAudio() override { return 100; }
  uint8_t PorcentajeImagenes() override { return 80; }
  void PintarFondo(uint16_t, uint16_t, uint16_t) override {}
};

void Imagen(const std::string& nombre, int w, int h) {
  platform::gfx::Surface s(w, h);
  s.Fill({0, 0, w, h}, 0x3366CC);
  const std::string path = Carpeta() + "/SKIN/COMUN/" + nombre + ".PNG";
  std::filesystem::create_directories(Carpeta() + "/SKIN/COMUN");
  if (!platform::gfx::WritePng(s, path)) std::abort();
}

// 26 lines of about 60 characters: 20 sounds, 5 exercises with two gaps
// each, and 3 buttons.
std::string PaginaDensa() {
  std::string t;
  for (int i = 1; i <= 20; ++i) {
    const std::string linea = Linea(i);
    t += "<SONIDO:1," + std::to_string(i) + ",S000" + std::to_string(i) + ">" +
         linea.substr(0, 30) + "<SONIDO:1,0>" + linea.substr(30) + "\n";
  }
  for (int i = 1; i <= 5; ++i) {
    t += "<EJESCRITO:1," + std::to_string(i) +
         ",A0001>The learner <HUECO:1>listens<HUECO:0> to the sentence and <HUECO:1>repeats"
         "<HUECO:0> it.<EJESCRITO:0>\n";
  }
  t += "Buttons <BOTON:1,400,505><BOTON:8,460,505,1><BOTON:8,500,505,2> at the foot of the page\n";
  return t;
}

struct MotorPagina : Motor {
  MotorPagina() {
    for (const char* nombre : {"BTNSOLN", "BTNDIF1N", "BTNDIF2N", "BTNDIF1P", "SIGMAL", "SIGBIEN",
                               "FONTHUMB", "PUNTAN"}) {
      Imagen(nombre, 30, 18);
    }
    f->SetCarpetaSkin("U:\\SKIN");
    guardar = gdi.CrearBuffer(100, 100, 0, 0, &ventana);
    f->SetSlotGuardar(static_cast<int16_t>(guardar));
    SetUnitControlWindow(&ventana);
    regiones.SetOSAL(&osal);
    regiones.SetGestorTAE(&tae);
    regiones.Iniciar();
    f->SetRectangulosVirtuales(&regiones);
    regiones.SetFormatae(f.get());
    tae.SetAudioPagina(nullptr);
    tae.SetAnimPagina(&anim);
    Escribir("DENSASI.TAE", PaginaDensa());
    f->CargarDocumento("U:\\DENSASI.TAE");
    tae.CambiarFormateador(f.get());
    f->PintarPagina(0);  // the skin is decoded once, here
    if (regiones.Cuenta() < 31) std::abort();
  }
  ~MotorPagina() { SetUnitControlWindow(nullptr); }
  TRectangulosVirtuales regiones;
  AnimLista anim;
  uint16_t guardar = 0;
};

void BM_PintarPaginaDensa(benchmark::State& state) {
  MotorPagina motor;
  for (auto _ : state) motor.f->PintarPagina(0);
}
BENCHMARK(BM_PintarPaginaDensa)->Unit(benchmark::kMicrosecond);

// One character into a gap and one Backspace: two keys, each redrawing the
// gap and presenting it.
void BM_DosTeclasEnHueco(benchmark::State& state) {
  MotorPagina motor;
  const RECT_VIRTUAL* hueco = nullptr;
  for (uint16_t s = 1; s < motor.regiones.Cuenta() && hueco == nullptr; ++s) {
    if (motor.regiones.Region(s)->tipo == kRegionHueco) hueco = motor.regiones.Region(s);
  }
  if (hueco == nullptr) std::abort();
  for (uint8_t e = 1; e <= 3; ++e) motor.regiones.EventoRaton(hueco->left + 1, hueco->top + 1, e);
  for (auto _ : state) {
    motor.ventana.SetKeyChar(u'a');
    motor.tae.TeclaPulsada('A');
    motor.ventana.SetKeyChar(0);
    motor.tae.TeclaPulsada(8);
  }
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_DosTeclasEnHueco)->Unit(benchmark::kMicrosecond);

void BM_PintarBarraAnim(benchmark::State& state) {
  MotorPagina motor;
  TListaStrings lista;
  for (int i = 0; i < 8; ++i) lista.Add(("Subtitle line number " + std::to_string(i)).c_str());
  motor.tae.SetDiccionarioActual(&lista);
  uint16_t frame = 0;
  for (auto _ : state) {
    motor.f->PintarBarraAnim(frame, 300);
    frame = static_cast<uint16_t>((frame + 1) % 300);
  }
  motor.tae.SetDiccionarioActual(nullptr);
}
BENCHMARK(BM_PintarBarraAnim)->Unit(benchmark::kMicrosecond);

const std::string& Lista() {
  static const std::string texto = [] {
    std::string t;
    for (int i = 0; i < 2000; ++i) t += Linea(i).substr(0, 48) + "\r\n";
    return t;
  }();
  return texto;
}

void BM_ReadAndSplitAtCr(benchmark::State& state) {
  const std::string path = Escribir("LIST.TXT", Lista());
  for (auto _ : state) {
    const std::string datos = LeerConRead(path);
    std::vector<std::string> lineas;
    size_t inicio = 0;
    for (size_t i = 0; i < datos.size(); ++i) {
      if (datos[i] != '\r') continue;
      lineas.emplace_back(datos, inicio, i - inicio);
      inicio = i + 2;
      ++i;
    }
    benchmark::DoNotOptimize(lineas.data());
  }
  state.SetBytesProcessed(state.iterations() * Lista().size());
}
BENCHMARK(BM_ReadAndSplitAtCr)->Unit(benchmark::kMicrosecond);

void BM_CargarFichero(benchmark::State& state) {
  Escribir("LIST.TXT", Lista());
  TEHDDClient client;
  client.Mount(Carpeta().c_str(), 'U');
  client.AddLocalLetter('U', "");
  OSAL osal;
  for (auto _ : state) {
    TListaStrings lista(&osal, &client);
    lista.CargarFichero("U:\\LIST.TXT");
    if (lista.Count() != 2000) std::abort();
  }
  state.SetBytesProcessed(state.iterations() * Lista().size());
}
BENCHMARK(BM_CargarFichero)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
