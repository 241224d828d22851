// Closing through the control while the engine is busy: an unload during
// the first load from a slow server and from one that dies, the stores-only
// load through the served wait, and the MINI control across restarts and
// while one of its page commands runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "player/ThreadEvents.h"
#include "tests/player/control_fixture.h"
#include "tests/support/TestServer.h"

namespace fs = std::filesystem;

namespace {

using Reloj = std::chrono::steady_clock;

class CierreControl : public ControlTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(unidad_.Construir());
    ASSERT_TRUE(unidad_.Auditorias());
  }
  std::string Alu() const { return unidad_.CarpetaAlumno() + "AUDIT.ALU"; }

  // The host's calls up to a started session on a server.
  void IniciarServidor(CAXeTAE* c, uint16_t puerto) {
    c->SetEHDDStudent(B("userdata").get());
    c->SetEHDDCommon(B("data\\common.dat").get());
    c->ServerEHDD(B("").get(), 0, 5252);
    c->ServerEHDD(B("127.0.0.1").get(), puerto, 10);
    c->InicializarAXeTAE();
  }
  // CargarUnit as the host asks for it, without the wait after it.
  void PedirUnidad(CAXeTAE* c) {
    c->SetNavigationMode(0);
    c->SetEHDDUnits(B("data\\unit007.dat").get());
    c->SetEHDDMultimedia(B("data\\mcd01.dat").get());
    c->CargarUnit(UnidadFixture::kUnidad);
  }
  // Time passing on the GUI thread, served.
  void Pasar(uint32_t ms) {
    host_->WaitOnGuiThread([] { return false; }, ms);
  }
  std::vector<std::string> CajasNoTermina() const {
    std::vector<std::string> out;
    for (const std::string& c : Cajas()) {
      if (c.find("no termina") != std::string::npos) out.push_back(c);
    }
    return out;
  }
  // Nothing of the unloaded engine is left running or kept.
  void SinNadaRetenido() {
    EXPECT_FALSE(Motor().fuga);
    EXPECT_TRUE(Motor().retenidos.empty());
    EXPECT_EQ(Motor().sesion.eventos, nullptr);
    EXPECT_EQ(Motor().sesion.carga_unit, nullptr);
    EXPECT_EQ(Motor().sesion.periodicos, nullptr);
  }

  UnidadFixture unidad_;
};

TEST_F(CierreControl, AnUnloadFiveSecondsIntoAFirstLoadFromASlowServerEndsSoonWithNoBox) {
  // Real time: the server answers every request after 1.5 s.
  platform::SetClock(nullptr);
  TestServer lento(unidad_.raiz(), temp_ + "server.log", {"--delay-ms", "1500"});
  ASSERT_NE(lento.port(), 0);
  CAXeTAE* c = Nuevo();
  IniciarServidor(c, lento.port());
  ASSERT_EQ(Leer(c, lectoria::kDispTestResult), 0);
  const std::string alu = Leido(Alu());
  PedirUnidad(c);
  Pasar(5000);
  const auto antes = Reloj::now();
  c->UnloadAll();
  EXPECT_LT(Reloj::now() - antes, std::chrono::seconds(15));
  EXPECT_TRUE(Cajas().empty()) << testing::PrintToString(Cajas());
  SinNadaRetenido();
  // The audit was not read: nothing was written.
  EXPECT_EQ(Leido(Alu()), alu);
  // A new session starts and loads beside nothing of the old one.
  Soltar(c);
  TestServer rapido(unidad_.raiz(), temp_ + "server2.log");
  ASSERT_NE(rapido.port(), 0);
  CAXeTAE* d = Nuevo();
  IniciarServidor(d, rapido.port());
  ASSERT_EQ(Leer(d, lectoria::kDispTestResult), 0);
  CargarUnidad(d);
  EXPECT_EQ(Leer(d, lectoria::kDispNumTotalPaginas), 26);
  // Its unload while its server still runs.
  Soltar(d);
}

TEST_F(CierreControl, AnUnloadAfterTheServerDiedMidLoadEndsWithinItsBoundPlusOneRequest) {
  platform::SetClock(nullptr);
  Motor().timeout_peticion_s = 2;
  TestServer lento(unidad_.raiz(), temp_ + "server.log", {"--delay-ms", "1500"});
  ASSERT_NE(lento.port(), 0);
  CAXeTAE* c = Nuevo();
  IniciarServidor(c, lento.port());
  ASSERT_EQ(Leer(c, lectoria::kDispTestResult), 0);
  const std::string alu = Leido(Alu());
  PedirUnidad(c);
  Pasar(3000);
  lento.Kill();
  Pasar(2000);
  const auto antes = Reloj::now();
  c->UnloadAll();
  EXPECT_LT(Reloj::now() - antes, std::chrono::seconds(15 + 2));
  EXPECT_TRUE(CajasNoTermina().empty()) << testing::PrintToString(Cajas());
  SinNadaRetenido();
  EXPECT_EQ(Leido(Alu()), alu);
}

// A host that counts the GUI thread's waits.
class HostQueCuenta : public platform::ui::HeadlessUiHost {
 public:
  bool WaitOnGuiThread(const std::function<bool()>& done, uint32_t timeout_ms) override {
    ++esperas;
    return HeadlessUiHost::WaitOnGuiThread(done, timeout_ms);
  }
  std::atomic<int> esperas{0};
};

TEST_F(CierreControl, TheStoresOnlyLoadRunsBehindTheServedWaitAndReturnsOnceDone) {
  auto host = std::make_shared<HostQueCuenta>();
  host_ = host;
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  fs::remove_all(unidad_.raiz() + "userdata/work/MC");
  c->ServerEHDD(B("").get(), 1, 4242);
  const int antes = host->esperas.load();
  PedirUnidad(c);
  EXPECT_GT(host->esperas.load(), antes);
  // Returned only once the folders were made; the unit is not loaded.
  EXPECT_TRUE(fs::is_directory(unidad_.raiz() + "userdata/work/C007"));
  EXPECT_TRUE(fs::is_directory(unidad_.raiz() + "userdata/work/MC"));
  EXPECT_EQ(Motor().sesion.solo_stores.load(), 0u);
  EXPECT_EQ(Motor().sesion.Unit().activa.load(), 0);
  EXPECT_EQ(Motor().sesion.eventos->Pendiente(), ThreadEvents::kNinguno);
  EXPECT_EQ(Motor().sesion.carga_unit->record().Estado(), ThreadRecord::kNuevo);
  // The flag is spent: the next load is a whole one.
  CargarUnidad(c);
  EXPECT_EQ(Leer(c, lectoria::kDispNumTotalPaginas), 26);
}

// The mini-course's store (on drive Y) with a document of three pages.
class CierreMini : public CierreControl {
 protected:
  void SetUp() override {
    CierreControl::SetUp();
    const std::string src = unidad_.raiz() + "src/mini/";
    fs::create_directories(src);
    std::ofstream(src + "MC1.TAE", std::ios::binary)
        << "Mini 1\n<SALTOPAG:>Mini 2\n<SALTOPAG:>Mini 3\n";
    fs::create_directories(unidad_.raiz() + "data/ehddservers/multimedia");
    for (const char* out : {"data/minicourse", "data/ehddservers/multimedia/minicourse"}) {
      const std::string command = UnidadFixture::Herramienta("ehdd-volume") + " build " + src +
                                  " " + unidad_.raiz() + out + " > /dev/null";
      ASSERT_EQ(std::system(command.c_str()), 0);
    }
  }
  InstanciaAX& Mini() { return Motor().sesion.instancias[kModoMini]; }
  // The mini-course document shown on the MINI window.
  void MostrarMini(CAXeTAE* mini, platform::ui::HeadlessControlSite* sitio) {
    mini->InicializarAXeTAE();
    ASSERT_EQ(Mini().ventana, sitio);
    sitio->ClearPresentLog();
    mini->CargarMiniCourse(B("MC1.TAE").get());
    EXPECT_EQ(Leer(mini, lectoria::kDispNumTotalPaginas), 3);
    EXPECT_FALSE(sitio->PresentLog().empty()) << "the page reached the MINI window";
    sitio->ClearPresentLog();
    mini->Draw();
    EXPECT_FALSE(sitio->PresentLog().empty()) << "OnDraw presents the MINI page";
  }
};

TEST_F(CierreMini, TheMiniControlKeepsItsWindowAcrossItsOwnAndTheUnitsRestarts) {
  CAXeTAE* unit = Nuevo();
  CAXeTAE* mini = Nuevo();
  platform::ui::HeadlessControlSite* sitio = sitios_.back().get();
  IniciarLocal(unit, unidad_.raiz());
  CargarUnidad(unit);
  mini->InicializarAXeTAE();
  MostrarMini(mini, sitio);  // a second start of the MINI control
  EXPECT_EQ(Leer(unit, lectoria::kDispAxStatus), 6);
  EXPECT_EQ(Motor().texto_instancia, "MINI");
  // A restart of the unit: the MINI control's window, instance and text stay;
  // only what the old session made for it goes.
  unit->InicializarAXeTAE();
  EXPECT_EQ(Motor().texto_instancia, "MINI");
  EXPECT_EQ(Mini().ventana, sitio);
  EXPECT_EQ(Motor().formatae_mini, nullptr);
  EXPECT_EQ(Mini().activa.load(), 0);
  CargarUnidad(unit);
  MostrarMini(mini, sitio);
  // Two controls live: a third is refused as before.
  EXPECT_EQ(Nuevo(), nullptr);
  EXPECT_EQ(Cajas().back(), "DEBUG: Creacion instancia AX erronea");
  // The MINI control's own unload gives the instance back.
  mini->UnloadAll();
  EXPECT_EQ(Mini().ventana, nullptr);
  EXPECT_EQ(Motor().texto_instancia, "UNIT");
  EXPECT_EQ(Leer(unit, lectoria::kDispAxStatus), 4);
}

TEST_F(CierreMini, TheMiniUnloadWaitsForAMiniPageCommandBeforeFreeingItsDocument) {
  CAXeTAE* unit = Nuevo();
  CAXeTAE* mini = Nuevo();
  platform::ui::HeadlessControlSite* sitio = sitios_.back().get();
  IniciarLocal(unit, unidad_.raiz());
  CargarUnidad(unit);
  MostrarMini(mini, sitio);
  // A draw on another thread holds the page: the MINI command posted now
  // stops inside its page sequence until the draw ends.
  std::mutex m;
  std::condition_variable cv;
  bool dentro = false;
  std::thread dibujo([&] {
    std::lock_guard<CriticalSection> pagina(Motor().sesion.cerrojo_pagina);
    {
      std::lock_guard<std::mutex> lock(m);
      dentro = true;
    }
    cv.notify_all();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  });
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return dentro; });
  }
  mini->PaginaSiguiente();  // posted, not waited for
  mini->UnloadAll();
  dibujo.join();
  EXPECT_EQ(Motor().formatae_mini, nullptr);
  EXPECT_EQ(Motor().documento_mini, nullptr);
  EXPECT_FALSE(Motor().fuga);
  EXPECT_TRUE(Motor().sesion.eventos->Libre());
  // The unit's pages still turn on the same worker.
  unit->PaginaSiguiente();
  unit->EsperaFinEvento();
  EXPECT_EQ(Leer(unit, lectoria::kDispNumeroPaginaActual), 2);
  unit->UnloadAll();
  SinNadaRetenido();
}

}  // namespace
