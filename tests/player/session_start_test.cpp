// The study session through the control on the fixture unit: the local
// start and the load, the unload with its audit save and the local copy's
// check, the connection to a server (a refused port, then the alternate
// one; both refused), a restart over a loaded unit, and the unload's ways:
// without a unit, during a page command, after a worker that never ends.
// One session per student store, and copies of two stores in one cache
// folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "base/ThreadRecord.h"
#include "ehdd/TEHDDClient.h"
#include "platform/FileIo.h"
#include "player/AuditoriaUnit.h"
#include "player/ServerEHDD.h"
#include "player/TGestorAlumno.h"
#include "player/ThreadEvents.h"
#include "player/ThreadPeriodicEvents.h"
#include "tests/player/control_fixture.h"
#include "tests/support/TestServer.h"

namespace fs = std::filesystem;

namespace {

class SesionControl : public ControlTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(unidad_.Construir());
    ASSERT_TRUE(unidad_.Auditorias());
  }
  std::string Alu() const { return unidad_.CarpetaAlumno() + "AUDIT.ALU"; }
  std::string Bkp() const { return unidad_.CarpetaAlumno() + "AUDIT.BKP"; }
  // The store's lock file in local mode.
  static std::string Cerrojo(const UnidadFixture& unidad) {
    return platform::RealPath(unidad.raiz()) + "/userdata/work.lck";
  }
  // The study time an audit file holds (UINT32_MAX when it is no audit).
  static uint32_t Tiempo(const std::string& bytes) {
    AuditoriaUnit a;
    if (AuditoriaUnit::DesdeBytes(bytes, &a).estado != LecturaAuditoria::kEntera) return UINT32_MAX;
    return a.cabecera.tiempo_estudio;
  }
  // The files are gone once the unit is loaded (its audit read): only the
  // unload can bring them back. It saves a whole audit of the unit, the
  // backup equal to the main file, the study time the session counted.
  void EsperarAuditoriaDeLaDescarga(uint32_t tiempo_minimo) {
    ASSERT_TRUE(fs::exists(Alu()));
    const std::string alu = Leido(Alu());
    EXPECT_EQ(alu, Leido(Bkp()));
    AuditoriaUnit a;
    ASSERT_EQ(AuditoriaUnit::DesdeBytes(alu, &a).estado, LecturaAuditoria::kEntera);
    for (int p = 0; p < 8; ++p) {
      EXPECT_EQ(a.partes[p].n, UnidadFixture::kSonidos[p]) << "part " << p;
      EXPECT_EQ(a.partes[p].m, UnidadFixture::kEjercicios[p]) << "part " << p;
    }
    EXPECT_GE(a.cabecera.tiempo_estudio, tiempo_minimo);
  }
  // Study time: a key pressed, the clock moved on, another key.
  void Estudiar(CAXeTAE* c, uint32_t ms) {
    c->TeclaPulsada(39);
    c->EsperaFinEvento();
    clock_.Advance(ms);
    c->TeclaPulsada(39);
    c->EsperaFinEvento();
  }

  UnidadFixture unidad_;
};

TEST_F(SesionControl, ALocalStartLoadsTheUnitAndTheUnloadSavesItsAudit) {
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  EXPECT_EQ(Leer(c, lectoria::kDispTestResult), 0);
  EXPECT_EQ(Leer(c, lectoria::kDispTestResult), 99);
  EXPECT_EQ(Leer(c, lectoria::kDispAxStatus), 3);
  EXPECT_EQ(host_->TimerCount(), 1u);
  CargarUnidad(c);
  EXPECT_EQ(Leer(c, lectoria::kDispAxStatus), 4);
  EXPECT_EQ(Leer(c, lectoria::kDispNumTotalPaginas), 26);
  EXPECT_EQ(Leer(c, lectoria::kDispNumeroPaginaActual), 1);
  c->PaginaSiguiente();
  c->EsperaFinEvento();
  EXPECT_EQ(Leer(c, lectoria::kDispNumeroPaginaActual), 2);
  c->CambiarDeParte(2);
  c->EsperaFinEvento();
  EXPECT_EQ(Leer(c, lectoria::kDispParteUnit), 2);
  EXPECT_EQ(Leer(c, lectoria::kDispNumeroPaginaActual), 9);
  // The host's poll: every part's figures, the selection above 7 gives 0.
  for (int p = 0; p < 8; ++p) {
    c->SeleccionarAuditoria(p);
    EXPECT_GE(Leer(c, lectoria::kDispPorcentajeAuditoria), 0);
  }
  c->SeleccionarAuditoria(8);
  EXPECT_EQ(Leer(c, lectoria::kDispPorcentajeAuditoria), 0);
  EXPECT_EQ(Leer(c, lectoria::kDispAnswersAuditoria), 0);
  // 256 is no part either (not part 0 by its low byte).
  c->SeleccionarAuditoria(2);
  c->SeleccionarAuditoria(256);
  EXPECT_EQ(Motor().auditoria_seleccionada.load(), kNumPartes);
  EXPECT_EQ(host_->AdvanceTimers(100), 2);  // the 50 ms timer runs on the host
  const auto antes = fs::last_write_time(Alu());
  fs::last_write_time(Alu(), antes - std::chrono::hours(1));
  c->UnloadAll();
  EXPECT_GT(fs::last_write_time(Alu()), antes - std::chrono::hours(1));
  EXPECT_EQ(Leido(Alu()), Leido(Bkp()));
  // The check found the store holding the copy: none is left.
  uint8_t pendiente = 0;
  EXPECT_FALSE(HayCopiaLocalAuditoria(pendiente));
  EXPECT_EQ(host_->TimerCount(), 0u);
  EXPECT_EQ(Motor().sesion.gdi, nullptr);
  EXPECT_EQ(Motor().sesion.eventos, nullptr);
  // Posts after the unload go nowhere.
  c->PaginaSiguiente();
  // The fixture unit has no animation: its one box says so.
  EXPECT_EQ(Cajas(),
            std::vector<std::string>{"ERROR: No se ha podido abrir el fichero DEFANIM.TXT"});
}

TEST_F(SesionControl, WithTheNoSaveCodeTheUnloadWritesNoAuditAndNoCopy) {
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  CargarUnidad(c);
  const std::string antes = Leido(Alu());
  c->ServerEHDD(B("127.0.0.1").get(), 80, 6002);
  c->UnloadAll();
  EXPECT_EQ(Leido(Alu()), antes);
  EXPECT_FALSE(fs::exists(temp_ + "eHDD/" + Motor().canal.nombre_copia + ".QOR"));
}

TEST_F(SesionControl, ARestartOverALoadedUnitSavesItAndKeepsTheTimer) {
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  CargarUnidad(c);
  std::vector<int> fases;
  std::mutex m;
  Motor().sesion.periodicos->SetObservadorParaPruebas([&](int fase) {
    std::lock_guard<std::mutex> lock(m);
    if (fases.empty() || fases.back() != fase) fases.push_back(fase);
  });
  fs::remove(Alu());
  fs::remove(Bkp());
  const platform::ui::IUiHost::TimerId timer = Motor().timer;
  ThreadEvents* eventos = Motor().sesion.eventos;
  c->InicializarAXeTAE();
  {
    std::lock_guard<std::mutex> lock(m);
    std::vector<int> fin(fases.begin(), fases.end());
    fin.erase(std::remove_if(fin.begin(), fin.end(), [](int f) { return f < 2 || f > 5; }),
              fin.end());
    EXPECT_EQ(fin, (std::vector<int>{2, 3, 4, 5}));
  }
  ASSERT_TRUE(fs::exists(Bkp()));
  ASSERT_TRUE(fs::exists(Alu()));
  EXPECT_LE(fs::last_write_time(Bkp()), fs::last_write_time(Alu()));
  EXPECT_EQ(Motor().timer, timer);
  EXPECT_EQ(Motor().sesion.eventos, eventos);
  EXPECT_EQ(Leer(c, lectoria::kDispAxStatus), 3);
  EXPECT_EQ(Motor().sesion.Unit().activa.load(), 0);
  CargarUnidad(c);
  EXPECT_EQ(Leer(c, lectoria::kDispNumTotalPaginas), 26);
}

TEST_F(SesionControl, TwelveRestartsLeaveDrawingSlotsFree) {
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  for (int i = 0; i < 12; ++i) {
    CargarUnidad(c);
    ASSERT_EQ(Leer(c, lectoria::kDispNumTotalPaginas), 26) << "restart " << i;
    c->InicializarAXeTAE();
  }
  int libres = 0;
  for (uint16_t s = 0; s < TGestorGDI::kNumBuffers; ++s) libres += !Motor().sesion.gdi->EnUso(s);
  EXPECT_GE(libres, 5);
}

TEST_F(SesionControl, TheMiniCourseDrawsWithTheUnitSessionAndGoesWithIt) {
  CAXeTAE* unit = Nuevo();
  CAXeTAE* mini = Nuevo();
  mini->InicializarAXeTAE();  // no unit session yet: nothing
  EXPECT_EQ(Motor().formatae_mini, nullptr);
  IniciarLocal(unit, unidad_.raiz());
  CargarUnidad(unit);
  mini->InicializarAXeTAE();
  EXPECT_EQ(Leer(unit, lectoria::kDispAxStatus), 5);
  mini->CargarMiniCourse(B("MISSING.TAE").get());  // an empty page
  EXPECT_EQ(Leer(unit, lectoria::kDispAxStatus), 6);
  EXPECT_EQ(Leer(mini, lectoria::kDispNumTotalPaginas), 1);
  EXPECT_EQ(Leer(mini, lectoria::kDispNumeroPaginaActual), 1);
  EXPECT_EQ(Leer(unit, lectoria::kDispNumTotalPaginas), 26);
  // Its unload gives the unit back its status.
  unit->UnloadAll();
  EXPECT_EQ(Motor().formatae_mini, nullptr);
  EXPECT_EQ(Motor().sesion.instancias[kModoMini].activa.load(), 0);
  EXPECT_EQ(Leer(mini, lectoria::kDispNumTotalPaginas), 0);
  // The mini control going after the unit's unload leaves no control behind.
  Soltar(mini);
  EXPECT_EQ(Motor().texto_instancia, "NULL");
}

TEST_F(SesionControl, TheUnloadWithoutAUnitDestroysEverything) {
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  const std::string antes = Leido(Alu());
  c->UnloadAll();
  EXPECT_EQ(Leido(Alu()), antes);
  EXPECT_EQ(Motor().sesion.alumno, nullptr);
  EXPECT_EQ(Motor().sesion.ehdd, nullptr);
  EXPECT_EQ(Motor().texto_instancia, "NULL");
}

TEST_F(SesionControl, TheUnloadDuringAPageCommandWaitsForIt) {
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  CargarUnidad(c);
  Estudiar(c, 20000);
  fs::remove(Alu());
  fs::remove(Bkp());
  c->PaginaSiguiente();
  c->UnloadAll();
  EXPECT_EQ(Motor().sesion.eventos, nullptr);
  EsperarAuditoriaDeLaDescarga(20000);
}

TEST_F(SesionControl, AStuckWorkerLeavesWhatItUsesAllocated) {
  std::atomic<bool> armada{false};
  std::atomic<bool> soltar{false};
  std::atomic<bool> dentro{false};
  ThreadEvents* eventos = nullptr;
  Motor().preparar_eventos_para_pruebas = [&](ThreadEvents& e) {
    eventos = &e;
    e.SetPausaParaPruebas([&] {
      if (!armada) return;
      dentro = true;
      while (!soltar) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  };
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  CargarUnidad(c);
  ASSERT_NE(eventos, nullptr);
  Estudiar(c, 20000);
  fs::remove(Alu());
  fs::remove(Bkp());
  armada = true;
  c->PaginaSiguiente();
  while (!dentro) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  c->UnloadAll();
  EXPECT_TRUE(Motor().fuga);
  EXPECT_FALSE(Motor().retenidos.empty());
  EXPECT_EQ(Motor().sesion.gdi, nullptr);
  const auto cajas = Cajas();
  EXPECT_EQ(
      std::count_if(cajas.begin(), cajas.end(),
                    [](const std::string& c) { return c.find("no termina") != std::string::npos; }),
      1)
      << testing::PrintToString(cajas);
  // The audit was saved before the stops.
  EsperarAuditoriaDeLaDescarga(20000);
  // Nothing new starts beside the worker that never ended.
  CAXeTAE* otra = Nuevo();
  IniciarLocal(otra, unidad_.raiz());
  EXPECT_EQ(Motor().sesion.sesion_activa.load(), 0);
  soltar = true;
  // The worker ends once let go; then what it used can go.
  while (eventos->record().Estado() != ThreadRecord::kTerminado)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  LiberarRetenidosParaPruebas();
}

// Boxes asked for off the GUI thread wait until a GUI-thread wait serves
// them, as in the program (at most 30 s here, so a failure cannot hang).
class HostQueSirveCajas : public platform::ui::HeadlessUiHost {
 public:
  int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) override {
    if (std::this_thread::get_id() == gui_)
      return HeadlessUiHost::ShowMessageBox(text, caption, type);
    std::unique_lock<std::mutex> lock(m_);
    pendientes_.push_back({text, caption, type});
    const uint64_t mia = ++pedidas_;
    cambio_.wait_for(lock, std::chrono::seconds(30), [&] { return servidas_ >= mia; });
    return platform::DefaultButton(type);
  }
  bool WaitOnGuiThread(const std::function<bool()>& done, uint32_t timeout_ms) override {
    const auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      Servir();
      if (HeadlessUiHost::WaitOnGuiThread(done, 5)) return true;
      if (std::chrono::steady_clock::now() >= limite) return done();
    }
  }

 private:
  struct Caja {
    std::string text, caption;
    unsigned type;
  };
  void Servir() {
    std::vector<Caja> cajas;
    {
      std::lock_guard<std::mutex> lock(m_);
      cajas.swap(pendientes_);
    }
    for (const Caja& c : cajas) HeadlessUiHost::ShowMessageBox(c.text, c.caption, c.type);
    std::lock_guard<std::mutex> lock(m_);
    servidas_ += cajas.size();
    cambio_.notify_all();
  }

  const std::thread::id gui_ = std::this_thread::get_id();
  std::mutex m_;
  std::condition_variable cambio_;
  std::vector<Caja> pendientes_;
  uint64_t pedidas_ = 0, servidas_ = 0;
};

TEST_F(SesionControl, AWorkersBoxWhileItStopsIsServedAndTheStopEnds) {
  host_ = std::make_shared<HostQueSirveCajas>();
  std::atomic<bool> armada{false};
  std::atomic<bool> en_pausa{false};
  Motor().preparar_eventos_para_pruebas = [&](ThreadEvents& e) {
    e.SetPausaParaPruebas([&armada, &en_pausa, &e] {
      if (!armada) return;
      en_pausa = true;
      // Asked to stop, the worker has one more thing to say.
      while (e.record().Estado() == ThreadRecord::kCorriendo)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      platform::ShowMessageBox("Cerrando la sesion", "AVISO", platform::kMbOk);
    });
  };
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  CargarUnidad(c);
  armada = true;
  c->PaginaSiguiente();
  c->EsperaFinEvento();
  // The worker is idle again, in its pause, before the close asks it to stop
  // (a stop that came first would end its loop before the pause).
  const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!en_pausa && std::chrono::steady_clock::now() < limite)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(en_pausa.load());
  const auto antes = std::chrono::steady_clock::now();
  c->UnloadAll();
  EXPECT_LT(std::chrono::steady_clock::now() - antes, std::chrono::seconds(9));
  EXPECT_FALSE(Motor().fuga);
  EXPECT_EQ(Motor().sesion.eventos, nullptr);
  const auto cajas = Cajas();
  EXPECT_NE(std::find(cajas.begin(), cajas.end(), "AVISO: Cerrando la sesion"), cajas.end())
      << testing::PrintToString(cajas);
  for (const std::string& caja : cajas) EXPECT_EQ(caja.find("no termina"), std::string::npos);
}

TEST_F(SesionControl, TheCopyCodeCopiesOnlyAnAuditThatWasRead) {
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  const std::string qol = temp_ + "eHDD/" + Motor().canal.nombre_copia + ".QOL";
  const std::string qor = temp_ + "eHDD/" + Motor().canal.nombre_copia + ".QOR";
  // No unit yet: nothing to copy.
  c->ServerEHDD(B("").get(), 0, 1024);
  EXPECT_FALSE(fs::exists(qol));
  CargarUnidad(c);
  c->ServerEHDD(B("").get(), 0, 1024);
  EXPECT_EQ(Leido(qol), std::string("7\0", 2));
  EXPECT_EQ(Leido(qor), Motor().sesion.alumno->Construir().ABytes());
  // A new session: the unit is closed and its audit saved (the copy is
  // checked and goes); the new session has read no audit, so the code
  // copies nothing that could later replace the learner's.
  c->InicializarAXeTAE();
  EXPECT_FALSE(fs::exists(qol));
  c->ServerEHDD(B("").get(), 0, 1024);
  EXPECT_FALSE(fs::exists(qol));
  EXPECT_FALSE(fs::exists(qor));
}

TEST_F(SesionControl, ARefusedAuditIsNeitherCopiedNorSavedNorUploaded) {
  // Audits of other documents: their counts do not match this unit's.
  const std::string otra = UnidadFixture::Herramienta("lectoria-audit") + " new " + unidad_.raiz() +
                           "userdata/work --unit 7 --counts 9:9,9:9,9:9,9:9," + "9:9,9:9,9:9,9:9";
  ASSERT_EQ(std::system(otra.c_str()), 0);
  const std::string alu = Leido(Alu()), bkp = Leido(Bkp());
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  CargarUnidad(c);
  ASSERT_TRUE(Motor().sesion.alumno->AuditoriaRechazada());
  const std::string cache = temp_ + "eHDD/" + Motor().canal.nombre_copia;
  c->ServerEHDD(B("").get(), 0, 1024);
  c->UnloadAll();
  EXPECT_FALSE(fs::exists(cache + ".QOL"));
  EXPECT_FALSE(fs::exists(cache + ".QOR"));
  EXPECT_EQ(Leido(Alu()), alu);
  EXPECT_EQ(Leido(Bkp()), bkp);
}

TEST_F(SesionControl, AWorkerThatNeverCreatesIsAModuleFailure) {
  CAXeTAE* c = Nuevo();
  ThreadRecord::FailCreationsForTesting(1);
  try {
    IniciarLocal(c, unidad_.raiz());
    ADD_FAILURE() << "the start went on";
  } catch (const platform::ExitRequested& e) {
    EXPECT_EQ(e.code, 1);
  }
  ThreadRecord::FailCreationsForTesting(0);
  ASSERT_FALSE(Cajas().empty());
  EXPECT_EQ(Cajas().back(), "ERROR: Module teventos loaded ERROR.");
}

TEST_F(SesionControl, AServerRefusingItsPortIsReachedOnTheAlternateOne) {
  // Real time: the replies' deadlines are on the platform clock, which the
  // workers' sleeps would move on at once.
  platform::SetClock(nullptr);
  TestServer servidor(unidad_.raiz(), temp_ + "server.log");
  ASSERT_NE(servidor.port(), 0);
  Motor().puerto_alternativo = servidor.port();
  CAXeTAE* c = Nuevo();
  c->SetEHDDStudent(B("userdata").get());
  c->SetEHDDCommon(B("data\\common.dat").get());
  c->ServerEHDD(B("127.0.0.1").get(), 1, 10);  // nothing listens on port 1
  c->InicializarAXeTAE();
  EXPECT_EQ(Leer(c, lectoria::kDispTestResult), 0);
  EXPECT_EQ(Leer(c, lectoria::kDispAxStatus), 3);
  EXPECT_EQ(Motor().conectado, 1);
}

TEST_F(SesionControl, AServerLostWithTheUnitOpenLeavesItsAuditForTheNextStart) {
  // Real time, and requests that give up after two seconds.
  platform::SetClock(nullptr);
  Motor().timeout_peticion_s = 2;
  auto iniciar = [&](CAXeTAE* c, uint16_t puerto) {
    c->SetEHDDStudent(B("userdata").get());
    c->SetEHDDCommon(B("data\\common.dat").get());
    c->ServerEHDD(B("").get(), 0, 3232);
    c->ServerEHDD(B("").get(), 0, 5252);
    c->ServerEHDD(B("127.0.0.1").get(), puerto, 10);
    c->InicializarAXeTAE();
  };
  auto servidor = std::make_unique<TestServer>(unidad_.raiz(), temp_ + "server.log");
  ASSERT_NE(servidor->port(), 0);
  CAXeTAE* c = Nuevo();
  iniciar(c, servidor->port());
  ASSERT_EQ(Leer(c, lectoria::kDispTestResult), 0);
  CargarUnidad(c);
  ASSERT_EQ(Leer(c, lectoria::kDispNumTotalPaginas), 26);
  const std::string guardada = Leido(Alu());
  servidor->Kill();
  const auto antes = std::chrono::steady_clock::now();
  c->UnloadAll();
  // The end-unit screens and one request's time for the save, not one more
  // for each step of the check (four).
  EXPECT_LT(std::chrono::steady_clock::now() - antes, std::chrono::seconds(12));
  EXPECT_EQ(Leido(Alu()), guardada);
  uint8_t pendiente = 0;
  ASSERT_TRUE(HayCopiaLocalAuditoria(pendiente));
  EXPECT_EQ(pendiente, UnidadFixture::kUnidad);
  const std::string copia = Leido(temp_ + "eHDD/" + Motor().canal.nombre_copia + ".QOR");
  EXPECT_EQ(copia.rfind("ALUMNOVe1.0    ", 0), 0u);
  // A local session of the same unit number in another folder: its store
  // is not the server's, and the server's copy waits for the server.
  Soltar(c);
  const std::string del_servidor = Motor().canal.nombre_copia;
  UnidadFixture local;
  ASSERT_TRUE(local.Construir());
  ASSERT_TRUE(local.Auditorias());
  const std::string alu_local = Leido(local.CarpetaAlumno() + "AUDIT.ALU");
  CAXeTAE* l = Nuevo();
  IniciarLocal(l, local.raiz());
  ASSERT_EQ(Leer(l, lectoria::kDispTestResult), 0);
  EXPECT_NE(Motor().canal.nombre_copia, del_servidor);
  EXPECT_EQ(Leido(local.CarpetaAlumno() + "AUDIT.ALU"), alu_local);
  l->UnloadAll();
  Soltar(l);
  EXPECT_EQ(Leido(local.CarpetaAlumno() + "AUDIT.ALU"), alu_local);
  EXPECT_EQ(Leido(temp_ + "eHDD/" + del_servidor + ".QOR"), copia);
  // The next start, with the server back, uploads the copy first.
  TestServer otro(unidad_.raiz(), temp_ + "server.log");
  ASSERT_NE(otro.port(), 0);
  CAXeTAE* d = Nuevo();
  iniciar(d, otro.port());
  EXPECT_EQ(Leer(d, lectoria::kDispTestResult), 0);
  EXPECT_EQ(Leido(Alu()), copia);
  EXPECT_FALSE(HayCopiaLocalAuditoria(pendiente));
}

TEST_F(SesionControl, BothPortsRefusedGiveTheBoxNoTimerAndALaterRetryOnly) {
  // Real time: the replies' deadlines are on the platform clock, which the
  // workers' sleeps would move on at once.
  platform::SetClock(nullptr);
  Motor().puerto_alternativo = 1;
  CAXeTAE* c = Nuevo();
  c->SetEHDDStudent(B("userdata").get());
  c->SetEHDDCommon(B("data\\common.dat").get());
  c->ServerEHDD(B("127.0.0.1").get(), 1, 10);
  c->InicializarAXeTAE();
  EXPECT_EQ(Leer(c, lectoria::kDispTestResult), 1);
  EXPECT_EQ(Cajas(), std::vector<std::string>{"Error: Server connection failed"});
  EXPECT_EQ(host_->TimerCount(), 0u);
  EXPECT_EQ(Motor().sesion.sesion_activa.load(), 0);
  ThreadEvents* eventos = Motor().sesion.eventos;
  TEHDDClient* cliente = Motor().sesion.ehdd;
  ASSERT_NE(eventos, nullptr);
  // The retry only connects: the base objects are the ones made before.
  TestServer servidor(unidad_.raiz(), temp_ + "server.log");
  Motor().puerto_alternativo = servidor.port();
  c->InicializarAXeTAE();
  EXPECT_EQ(Motor().sesion.eventos, eventos);
  EXPECT_EQ(Motor().sesion.ehdd, cliente);
  EXPECT_EQ(Motor().test_result.load(), 0);
}

TEST_F(SesionControl, ASecondSessionOfTheStoreStartsNothing) {
  // Another session holds the store (a second process would hold it the
  // same way: one lock file, one lock).
  platform::FileLock otra_sesion;
  ASSERT_EQ(otra_sesion.Take(Cerrojo(unidad_)), platform::FileLock::Result::kTaken);
  const std::string alu = Leido(Alu()), bkp = Leido(Bkp());
  CAXeTAE* c = Nuevo();
  IniciarLocal(c, unidad_.raiz());
  EXPECT_EQ(Leer(c, lectoria::kDispTestResult), 2);
  EXPECT_EQ(Leer(c, lectoria::kDispAxStatus), 1);
  EXPECT_EQ(Cajas(), std::vector<std::string>{
                         "ERROR: Ya hay una sesion abierta con estos datos de alumno."});
  // Nothing started: no client (no drive mounted, no audit read), no timer.
  EXPECT_EQ(Motor().sesion.ehdd, nullptr);
  EXPECT_EQ(Motor().sesion.sesion_activa.load(), 0);
  EXPECT_EQ(host_->TimerCount(), 0u);
  // The host gives up: the unload writes nothing either.
  c->UnloadAll();
  Soltar(c);
  EXPECT_EQ(Leido(Alu()), alu);
  EXPECT_EQ(Leido(Bkp()), bkp);
  // Once the other session is gone, a session starts and holds the store
  // through a restart, until its unload has saved the audit.
  otra_sesion.Release();
  CAXeTAE* d = Nuevo();
  IniciarLocal(d, unidad_.raiz());
  ASSERT_EQ(Leer(d, lectoria::kDispTestResult), 0);
  platform::FileLock tercera;
  EXPECT_EQ(tercera.Take(Cerrojo(unidad_)), platform::FileLock::Result::kBusy);
  CargarUnidad(d);
  d->InicializarAXeTAE();
  EXPECT_EQ(Leer(d, lectoria::kDispTestResult), 0);
  EXPECT_EQ(tercera.Take(Cerrojo(unidad_)), platform::FileLock::Result::kBusy);
  CargarUnidad(d);
  d->UnloadAll();
  EXPECT_EQ(tercera.Take(Cerrojo(unidad_)), platform::FileLock::Result::kTaken);
}

TEST_F(SesionControl, AnotherFoldersPendingCopyNeverReachesThisOne) {
  constexpr uint32_t kTiempoDeA = 180000000;  // 50 hours: A's work
  UnidadFixture otra;
  ASSERT_TRUE(otra.Construir());
  ASSERT_TRUE(otra.Auditorias());
  const std::string alu_b = otra.CarpetaAlumno() + "AUDIT.ALU";
  const std::string bkp_b = otra.CarpetaAlumno() + "AUDIT.BKP";
  // A's session writes its copy, then ends before the copy is checked (its
  // unload under the no-save code writes nothing, as a killed one would).
  CAXeTAE* a = Nuevo();
  IniciarLocal(a, unidad_.raiz());
  CargarUnidad(a);
  a->ServerEHDD(B("").get(), 0, 1024);
  const std::string de_a = Motor().canal.nombre_copia;
  const std::string qor_a = temp_ + "eHDD/" + de_a + ".QOR";
  AuditoriaUnit copia;
  ASSERT_EQ(AuditoriaUnit::DesdeBytes(Leido(qor_a), &copia).estado, LecturaAuditoria::kEntera);
  copia.cabecera.tiempo_estudio = kTiempoDeA;
  std::ofstream(qor_a, std::ios::binary) << copia.ABytes();
  const std::string bytes_a = copia.ABytes();
  a->ServerEHDD(B("127.0.0.1").get(), 80, 6002);
  a->UnloadAll();
  Soltar(a);
  const std::string alu_a = Leido(Alu());
  ASSERT_NE(alu_a, bytes_a);
  // B's session of the same unit studies and unloads.
  CAXeTAE* b = Nuevo();
  IniciarLocal(b, otra.raiz());
  EXPECT_NE(Motor().canal.nombre_copia, de_a);
  CargarUnidad(b);
  Estudiar(b, 20000);
  b->UnloadAll();
  Soltar(b);
  EXPECT_EQ(Leido(alu_b), Leido(bkp_b));
  EXPECT_GE(Tiempo(Leido(alu_b)), 20000u);
  EXPECT_LT(Tiempo(Leido(alu_b)), kTiempoDeA);
  EXPECT_LT(Tiempo(Leido(bkp_b)), kTiempoDeA);
  // A's copy waited for A; A's store is as A's session left it.
  EXPECT_EQ(Leido(qor_a), bytes_a);
  EXPECT_EQ(Leido(Alu()), alu_a);
  // A's next session uploads it into A and clears it.
  CAXeTAE* a2 = Nuevo();
  IniciarLocal(a2, unidad_.raiz());
  EXPECT_EQ(Leido(Alu()), bytes_a);
  EXPECT_FALSE(fs::exists(qor_a));
  EXPECT_FALSE(fs::exists(temp_ + "eHDD/" + de_a + ".QOL"));
  EXPECT_LT(Tiempo(Leido(alu_b)), kTiempoDeA);
}

}  // namespace
