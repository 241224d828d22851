// Error boxes and the engine's locks, with a message sink that behaves as
// the program's (a worker's box waits until the GUI thread serves it) while
// the GUI thread runs what the host runs meanwhile: the audit poll, the
// page draws, the animation's tick. No box may be asked for while its thread
// holds an engine lock, and none of these paths may freeze.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "media/AudioDevice.h"
#include "media/TAudio.h"
#include "media/TGestorAudio.h"
#include "player/ThreadCargaUnit.h"
#include "tests/player/audit_fixture.h"
#include "tests/player/tae_fixture.h"
#include "tests/support/GuiThreadSink.h"

namespace {

using namespace std::chrono_literals;
using test_support::GuiThreadSink;

// Bound of each scenario (not a speed figure: a freeze never ends).
constexpr auto kLimite = 2s;

const char* const kIntegridad =
    "Error de integridad en la auditoria de la Unit.\nEs necesario que se ponga en contacto con "
    "Velarno antes de poder seguir estudiando.";
const char* const kEstilos = "Error excedido el numero maximo de estilos TAE.";
const char* const kEmpezar = "No se ha podido empezar el play del audio.";

TEST(EngineLocks, ABoxAskedInsideEachLockIsShownOnceAtTheLastRelease) {
  GuiThreadSink cajas;
  SesionAX sesion;
  OSAL osal;
  CriticalSection estilos;
  CriticalSection* const cerrojos[] = {&sesion.cerrojo_pagina, &sesion.cerrojo_auditoria,
                                       &estilos};
  int n = 0;
  for (CriticalSection* cerrojo : cerrojos) {
    const std::string texto = "caja " + std::to_string(++n);
    {
      std::lock_guard<CriticalSection> lock(*cerrojo);
      osal.MostrarError(texto.c_str());
      osal.MostrarError(texto.c_str());  // the same text waits once
      EXPECT_EQ(cajas.Count(texto), 0);
      EXPECT_EQ(platform::BoxesPutOff(), 1u);
    }
    EXPECT_EQ(cajas.Count(texto), 1);
    EXPECT_EQ(platform::EngineLocksHeld(), 0);
  }
  // Nested locks (the page lock again, then the audit lock): the boxes wait
  // for the outermost release and come in the order asked.
  {
    TGestorTAE tae;
    tae.SetCerrojoPagina(&sesion.cerrojo_pagina);
    TGestorTAE::Bloqueo pagina(&tae);
    {
      TGestorTAE::Bloqueo otra_vez(&tae);
      std::lock_guard<CriticalSection> auditoria(sesion.cerrojo_auditoria);
      tae.MostrarError("primera");
      sesion.MostrarError("segunda");
    }
    EXPECT_EQ(cajas.Count("primera"), 0);
    tae.MostrarError("primera");  // asked again while the first still waits
  }
  const std::vector<std::string> vistas = cajas.Shown();
  ASSERT_GE(vistas.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(vistas.end() - 2, vistas.end()),
            (std::vector<std::string>{"primera", "segunda"}));
  // A try that fails holds nothing; a box after it is shown at once.
  std::thread otro([&] {
    std::lock_guard<CriticalSection> lock(sesion.cerrojo_pagina);
    std::this_thread::sleep_for(50ms);
  });
  std::this_thread::sleep_for(10ms);
  {
    TGestorTAE tae;
    tae.SetCerrojoPagina(&sesion.cerrojo_pagina);
    TGestorTAE::Bloqueo intento(&tae, false);
    if (!intento.Tomado()) {
      EXPECT_EQ(platform::EngineLocksHeld(), 0);
      osal.MostrarError("sin cerrojo");
      EXPECT_EQ(cajas.Count("sin cerrojo"), 1);
    }
  }
  otro.join();
  EXPECT_TRUE(cajas.AskedUnderLock().empty()) << testing::PrintToString(cajas.AskedUnderLock());
}

TEST(EngineLocks, ABoxWhoseAnswerIsNeededIsNotPutOffAndTheSinkSeesTheLock) {
  GuiThreadSink cajas;
  CriticalSection cerrojo;
  {
    std::lock_guard<CriticalSection> lock(cerrojo);
    // The caller needs the answer: it cannot be put off. The test sink
    // flags it, which is how a path that asks under a lock is caught.
    EXPECT_EQ(platform::ShowMessageBox("seguro?", "X", platform::kMbYesNo), platform::kIdYes);
  }
  EXPECT_EQ(cajas.AskedUnderLock(), std::vector<std::string>{"seguro?"});
}

TEST(EngineLocks, AnExitUnderALockStillShowsTheBoxesPutOff) {
  GuiThreadSink cajas;
  int codigo = 0;
  platform::SetExitHook([&](int c) { codigo = c; });
  CriticalSection cerrojo;
  {
    std::lock_guard<CriticalSection> lock(cerrojo);
    platform::ShowMessageBox("antes de salir", "ERROR", platform::kMbOk);
    platform::ExitProcess(-1);
    EXPECT_EQ(cajas.Count("antes de salir"), 1);  // not lost
  }
  platform::SetExitHook(nullptr);
  EXPECT_EQ(codigo, -1);
  // Shown under the lock: a fault of the caller, which the sink reports.
  EXPECT_EQ(cajas.AskedUnderLock(), std::vector<std::string>{"antes de salir"});
}

// The unit loader reads an audit whose counts do not match the documents
// (both files) while the GUI thread polls the figures as the host does and
// draws pages: the integrity box is shown once and both go on.
TEST(BoxScenarios, TheIntegrityBoxAtAUnitLoadWhileThePollRuns) {
  std::vector<uint16_t> n(8, 3);
  std::vector<uint16_t> m(8, 3);
  AuditoriaBanco banco(n, m);
  {
    // Files of a unit whose part 0 then had 12 sounds.
    ASSERT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
    AuditoriaUnit a;
    ASSERT_EQ(AuditoriaUnit::DesdeBytes(banco.Leer("AUDIT.ALU"), &a).estado,
              LecturaAuditoria::kEntera);
    a.partes[0].n = 12;
    a.partes[0].sonidos.resize(13 * AuditoriaUnit::kBytesSonido);
    banco.Escribir("AUDIT.ALU", a.ABytes());
    banco.Escribir("AUDIT.BKP", a.ABytes());
    banco.NuevaSesion();
  }
  GuiThreadSink cajas;
  SesionAX& sesion = banco.sesion();
  sesion.unidad.store(AuditoriaBanco::kUnidad);
  sesion.alumno = &banco.alumno();
  ThreadCargaUnit carga(sesion);
  sesion.carga_unit = &carga;
  ASSERT_TRUE(carga.Crear());
  carga.Despertar();
  int sondeos = 0;
  // The unkindest poll: the audit lock and the page lock, whatever the flag.
  const bool hecho = cajas.RunUntil(
      [&] { return carga.Hecho() && cajas.Count(kIntegridad) == 1; },
      [&] {
        std::lock_guard<CriticalSection> auditoria(sesion.cerrojo_auditoria);
        std::lock_guard<CriticalSection> pagina(sesion.cerrojo_pagina);
        (void)banco.alumno().Progreso(0);
        ++sondeos;
      },
      kLimite);
  EXPECT_TRUE(hecho);
  EXPECT_TRUE(carga.Terminar());
  EXPECT_EQ(cajas.Count(kIntegridad), 1);
  EXPECT_EQ(cajas.Frozen(), 0);
  EXPECT_TRUE(cajas.AskedUnderLock().empty());
  EXPECT_TRUE(banco.alumno().AuditoriaRechazada());
  EXPECT_GT(sondeos, 0);
  sesion.carga_unit = nullptr;
}

using Estilos = tae_test::TaeFixture;

// The loader fills the style list to its 100th record and past it while the
// GUI thread draws pages (each draw reads styles under the list's lock).
TEST_F(Estilos, TheFullStyleListBoxWhilePagesDrawOnTheGuiThread) {
  GuiThreadSink cajas;
  std::atomic<bool> cargado{false};
  std::thread cargador([&] {
    ESTILO_TAE estilo = tae_.EstiloPorDefecto();
    for (int i = 1; i <= 120; ++i) {
      estilo.espaciado = static_cast<int8_t>(i);
      tae_.RegistrarEstilo(estilo);
    }
    cargado.store(true);
  });
  int dibujos = 0;
  const bool hecho = cajas.RunUntil(
      [&] { return cargado.load() && cajas.Count(kEstilos) == 1; },
      [&] {
        TGestorTAE::Bloqueo pagina(&tae_);
        for (uint16_t i = 0; i < tae_.NumEstilos(); ++i) (void)tae_.Estilo(i);
        ++dibujos;
      },
      kLimite);
  cargador.join();
  EXPECT_TRUE(hecho);
  EXPECT_EQ(cajas.Count(kEstilos), 1);
  EXPECT_EQ(tae_.NumEstilos(), 100);
  EXPECT_EQ(cajas.Frozen(), 0);
  EXPECT_TRUE(cajas.AskedUnderLock().empty());
  EXPECT_GT(dibujos, 0);
}

// A device whose streams open but fail to start after a delay, as a busy
// sound server does.
class DispositivoQueNoEmpieza : public AudioDevice {
 public:
  std::unique_ptr<AudioStream> OpenDefaultStream(const AudioStreamParams&, AudioCallback, void*,
                                                 std::string*) override {
    return std::make_unique<Stream>();
  }

 private:
  class Stream : public AudioStream {
   public:
    bool Start(std::string* reason) override {
      std::this_thread::sleep_for(40ms);
      if (reason != nullptr) *reason = "device busy";
      return false;
    }
    void Stop() override {}
    uint32_t TimeMs() override { return 0; }
  };
};

class PaginaMinima : public IPaginaAudio {
 public:
  CriticalSection& BloqueoPagina() override { return cerrojo; }
  uint8_t* SonidoTratado(uint16_t) override { return nullptr; }
  uint8_t* EjercicioTratado(uint16_t) override { return nullptr; }
  uint16_t SonidoActual() override { return 0; }
  void SeleccionarIcono(uint8_t) override {}
  void PosicionarIcono(int16_t, int16_t) override {}
  void MostrarIcono(bool) override {}
  void SolicitudActualizarPagina() override {}
  void SolicitudRepintar(uint16_t, uint16_t, uint16_t, uint16_t) override {}
  uint16_t PaginaActual() override { return 0; }
  uint16_t NumPaginas() override { return 0; }
  void PintarPagina(uint16_t) override {}
  void RellenarRect(int16_t, int16_t, uint16_t, uint16_t, uint32_t) override {}
  void PintarPNG(const char*, int16_t, int16_t) override {}
  uint16_t NumRegiones() override { return 1; }
  bool LeerRegion(uint16_t, RegionPagina*) override { return false; }
  void ActualizarBotones() override {}
  void LimpiarPulsacion() override {}
  void TratarCIUFraseAudioNormal() override {}
  void TratarCIUEjercicioEscrito() override {}
  void ActivarTiempo() override {}
  bool ModoNavegacion() override { return false; }
  EstadoRolePlay LeerRolePlay() override { return {}; }
  void EscribirRolePlay(const EstadoRolePlay&) override {}
  void NombreLineaRolePlay(uint8_t, char* nombre, size_t capacidad) override {
    if (capacidad > 0) nombre[0] = '\0';
  }
  bool LineaGrabada(uint8_t) override { return false; }
  void MarcarLineaGrabada(uint8_t) override {}
  uint8_t LineaDePersonaje(uint8_t, uint8_t) override { return kFinFila; }
  bool RegionRespuesta(RegionPagina*) override { return false; }
  void FinRespuesta() override {}

  CriticalSection cerrojo;
};

// The audio notifier plays under the page lock (a compare's sound after the
// learner's recording) and the stream fails to start 40 ms later, while the
// animation's tick on the GUI thread takes the page lock every 50 ms.
TEST(BoxScenarios, ACompareWhoseStreamFailsToStartWhileTheAnimationTicks) {
  GuiThreadSink cajas;
  DispositivoQueNoEmpieza dispositivo;
  OSAL osal;
  TAudio audio;
  audio.SetOSAL(&osal);
  audio.SetDispositivo(&dispositivo);
  audio.Iniciar();
  PaginaMinima pagina;
  TGestorAudio gestor;
  gestor.SetOSAL(&osal);
  gestor.SetTAudio(&audio);
  gestor.SetPaginaAudio(&pagina);
  gestor.Iniciar();
  std::atomic<bool> terminado{false};
  std::thread notificador([&] {
    gestor.PlayFichero("Q:\\S00001.OGG");
    terminado.store(true);
  });
  int tics = 0;
  auto ultimo_tic = std::chrono::steady_clock::now() - 1s;
  const bool hecho = cajas.RunUntil(
      [&] { return terminado.load() && cajas.Count(kEmpezar) == 1; },
      [&] {
        if (std::chrono::steady_clock::now() - ultimo_tic < 50ms) return;
        ultimo_tic = std::chrono::steady_clock::now();
        std::lock_guard<CriticalSection> tic(pagina.BloqueoPagina());
        ++tics;
      },
      kLimite);
  notificador.join();
  EXPECT_TRUE(hecho);
  EXPECT_EQ(cajas.Count(kEmpezar), 1);
  EXPECT_EQ(cajas.Frozen(), 0);
  EXPECT_TRUE(cajas.AskedUnderLock().empty()) << testing::PrintToString(cajas.AskedUnderLock());
  EXPECT_GT(tics, 0);
  gestor.StopAudio();
  audio.Terminar();
}

}  // namespace
