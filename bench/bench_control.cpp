// The control against its budgets, in one run:
// - creation by class identifier (registry, library, factory) and the
//   host's calls through a local-mode InicializarAXeTAE, then the unload and
//   release: 50 ms; beside the block cache's start alone;
// - CargarUnit to the first page on screen, cache warm: 100 ms, and a page
//   turn: 16 ms; both beside one 687 x 534 present, with the engine linked in
//   and a manual clock, so the screens' fixed times cost nothing;
// - the host's poll (8 selections, 24 reads): 1 ms.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>

#include "ehdd/TEHDDCache.h"
#include "platform/Clock.h"
#include "platform/com/CoCreateInstance.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Headless.h"
#include "player/CAXeTAE.h"
#include "player/InterfaceAXSesion.h"
#include "tests/player/session_fixture.h"

namespace fs = std::filesystem;
using namespace platform::com;

namespace {

ScopedBstr B(const std::string& s) {
  return ScopedBstr(std::u16string(s.begin(), s.end()));
}

void Iniciar(lectoria::IAXeTAE* c, const std::string& raiz) {
  c->SetEHDDStudent(B("userdata").get());
  c->SetEHDDCommon(B("data\\common.dat").get());
  c->ServerEHDD(B(raiz).get(), 1, 3232);
  c->ServerEHDD(B("").get(), 0, 5252);
  c->ServerEHDD(B("127.0.0.1").get(), 80, 10);
  c->InicializarAXeTAE();
}

// The fixture unit, a temporary folder and a registry of the run's own.
struct Banco {
  Banco() {
    char pattern[] = "/tmp/lectoria-bench-control-XXXXXX";
    if (mkdtemp(pattern) != nullptr) temp = std::string(pattern) + "/";
    setenv("TMPDIR", temp.c_str(), 1);
    setenv("LECTORIA_REGISTRY_DIR", (temp + "registry").c_str(), 1);
    ok = unidad.Construir() && unidad.Auditorias();
  }
  ~Banco() {
    std::error_code ec;
    fs::remove_all(temp, ec);
  }
  std::string temp;
  UnidadFixture unidad;
  bool ok = false;
};

Banco& ElBanco() {
  static Banco banco;
  return banco;
}

void BM_CrearPorClaseEIniciarLocal(benchmark::State& state) {
  Banco& banco = ElBanco();
  const std::string lib = std::string(LECTORIA_BIN_DIR) + "/liblectoria.so";
  if (RegisteredServerPath(lectoria::CLSID_AXeTAE).empty()) {
    platform::registry::Value v;
    v.type = platform::registry::Type::kSz;
    v.text = lib;
    const std::string key = "CLSID\\" + GuidToString(lectoria::CLSID_AXeTAE) + "\\InprocServer32";
    platform::registry::CreateKey(platform::registry::Root::kClassesRoot, key);
    platform::registry::SetValue(platform::registry::Root::kClassesRoot, key, "", v);
  }
  platform::ui::HeadlessControlSite site(687, 534);
  auto host = std::make_shared<platform::ui::HeadlessUiHost>();
  for (auto _ : state) {
    void* o = nullptr;
    std::string why;
    if (Failed(CoCreateInstance(lectoria::CLSID_AXeTAE, nullptr, CLSCTX_INPROC_SERVER,
                                lectoria::IID_IAXeTAE, &o, &why))) {
      state.SkipWithError(("no control: " + why).c_str());
      break;
    }
    auto* c = static_cast<lectoria::IAXeTAE*>(o);
    void* w = nullptr;
    c->QueryInterface(IID_IControlWindow, &w);
    static_cast<IControlWindow*>(w)->CreateWindow(&site, host);
    Iniciar(c, banco.unidad.raiz());
    int32_t status = 0;
    c->get_axstatus(&status);
    if (status != 3) state.SkipWithError("no session");
    c->UnloadAll();
    static_cast<IControlWindow*>(w)->Release();
    c->Release();
  }
}

void BM_TEHDDCacheIniciarBound(benchmark::State& state) {
  ElBanco();
  for (auto _ : state) {
    TEHDDCache::Instance()->Iniciar("userdata", TEHDDClient::kBloque);
    TEHDDCache::Destroy();
  }
}

// The engine linked in, on a manual clock, with a session up.
struct Sesion {
  Sesion() : scoped(&clock), site(687, 534) {
    Banco& banco = ElBanco();
    control = CAXeTAE::Crear();
    control->CreateWindow(&site, host);
    Iniciar(control, banco.unidad.raiz());
    control->SetNavigationMode(0);
    control->SetEHDDUnits(B("data\\unit007.dat").get());
    control->SetEHDDMultimedia(B("data\\mcd01.dat").get());
  }
  ~Sesion() { control->Release(); }
  void Cargar() {
    control->CargarUnit(7);
    control->EsperaFinEvento();
  }
  platform::ManualClock clock{1000};
  platform::ScopedClock scoped;
  platform::ui::HeadlessControlSite site;
  std::shared_ptr<platform::ui::HeadlessUiHost> host =
      std::make_shared<platform::ui::HeadlessUiHost>();
  CAXeTAE* control = nullptr;
};

Sesion& LaSesion() {
  static Sesion sesion;
  return sesion;
}

void BM_CargarUnitHastaLaPrimeraPagina(benchmark::State& state) {
  Sesion& s = LaSesion();
  s.Cargar();  // warms the block cache and the fonts
  for (auto _ : state) {
    state.PauseTiming();
    s.control->InicializarAXeTAE();  // a new session: the unit is closed
    state.ResumeTiming();
    s.Cargar();
  }
  int32_t pagina = 0;
  s.control->get_numeropaginaactual(&pagina);
  if (pagina != 1) state.SkipWithError("no first page");
}

void BM_PasoDePagina(benchmark::State& state) {
  Sesion& s = LaSesion();
  int32_t activa = 0;
  s.control->get_numtotalpaginas(&activa);
  if (activa == 0) s.Cargar();
  for (auto _ : state) {
    int32_t pagina = 0, total = 0;
    s.control->get_numeropaginaactual(&pagina);
    s.control->get_numtotalpaginas(&total);
    if (pagina >= total) {
      state.PauseTiming();
      s.control->CambiarDeParte(0);
      s.control->EsperaFinEvento();
      state.ResumeTiming();
    }
    s.control->PaginaSiguiente();
    s.control->EsperaFinEvento();
  }
}

void BM_SondeoDelHost(benchmark::State& state) {
  Sesion& s = LaSesion();
  int32_t total = 0;
  s.control->get_numtotalpaginas(&total);
  if (total == 0) s.Cargar();
  for (auto _ : state) {
    int32_t v = 0, suma = 0;
    for (int p = 0; p < 8; ++p) {
      s.control->SeleccionarAuditoria(p);
      s.control->get_porcentajeauditoria(&v);
      suma += v;
      s.control->get_answersauditoria(&v);
      suma += v;
      s.control->get_errorsauditoria(&v);
      suma += v;
    }
    benchmark::DoNotOptimize(suma);
  }
}

void BM_Present687x534Bound(benchmark::State& state) {
  platform::ui::HeadlessControlSite site(687, 534);
  platform::gfx::Surface page(687, 534);
  page.Fill({0, 0, 687, 534}, 0xFFFFFF);
  for (auto _ : state) site.Present(page, {0, 0, 687, 534}, 0, 0);
}

}  // namespace

BENCHMARK(BM_CrearPorClaseEIniciarLocal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TEHDDCacheIniciarBound)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CargarUnitHastaLaPrimeraPagina)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_PasoDePagina)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Present687x534Bound)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SondeoDelHost)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
