// The command worker: no post lost between its test and its sleep, a post
// during a command dropped, EsperarFin returning once the page is shown,
// and every post, wait and stop returning at once without a worker.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ui/Headless.h"
#include "player/InterfaceAXNavegacion.h"
#include "player/ThreadCargaUnit.h"
#include "player/ThreadEvents.h"
#include "tests/player/session_fixture.h"

namespace {

int Repintados(SesionFalsa& s) {
  int n = 0;
  for (const auto& m : s.Movimientos()) n += m.find("repintar") != std::string::npos;
  return n;
}

TEST(CommandWorker, TenThousandPostsEachFollowedByItsWaitAreAllServed) {
  SesionFalsa s;
  s.Cargar();
  ThreadEvents eventos(s.sesion);
  // Widens the gap between the worker's test of the command and its sleep.
  eventos.SetPausaParaPruebas([] { std::this_thread::yield(); });
  ASSERT_TRUE(eventos.Crear());
  eventos.record().DespertarThread();
  ASSERT_TRUE(eventos.record().EsperarThreadArrancado());
  for (int i = 0; i < 10000; ++i) {
    ASSERT_TRUE(
        eventos.Post(ThreadEvents::kEventoCambiarParte, static_cast<uint32_t>(i % 8), kModoUnit))
        << i;
    ASSERT_TRUE(eventos.EsperarFin(10000)) << i;
  }
  EXPECT_EQ(Repintados(s), 10000);
  EXPECT_TRUE(eventos.Terminar());
}

TEST(CommandWorker, APostDuringACommandIsDroppedAndTheWaitEndsOnceThePageIsShown) {
  SesionFalsa s;
  s.documento(1).Retener();  // the loader stops in part 1
  ThreadCargaUnit carga(s.sesion);
  s.sesion.carga_unit = &carga;
  ASSERT_TRUE(carga.Crear());
  carga.Despertar();
  ASSERT_TRUE(carga.EsperarParte(0));
  while (!s.documento(1).Esperando()) std::this_thread::yield();
  s.sesion.Unit().activa = 1;

  ThreadEvents eventos(s.sesion);
  ASSERT_TRUE(eventos.Crear());
  eventos.record().DespertarThread();
  ASSERT_TRUE(eventos.Post(ThreadEvents::kEventoCambiarParte, 1, kModoUnit));
  EXPECT_FALSE(eventos.Post(ThreadEvents::kEventoCambiarParte, 2, kModoUnit));
  EXPECT_FALSE(eventos.Post(ThreadEvents::kEventoPaginaSiguiente, 0, kModoUnit));
  EXPECT_EQ(eventos.Pendiente(), ThreadEvents::kEventoCambiarParte);
  EXPECT_FALSE(eventos.EsperarFin(50));
  EXPECT_TRUE(s.Movimientos().empty());

  s.documento(1).Soltar();
  ASSERT_TRUE(eventos.EsperarFin(10000));
  EXPECT_EQ(s.Movimientos(), (std::vector<std::string>{"1 saltar 0", "1 repintar"}));
  EXPECT_EQ(s.sesion.Unit().parte.load(), 1);
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 4);
  EXPECT_TRUE(eventos.Terminar());
  EXPECT_TRUE(carga.Terminar());
}

TEST(CommandWorker, WithoutAWorkerPostsWaitsAndStopsReturnAtOnce) {
  fakes::Cajas cajas;
  SesionFalsa s;
  s.Cargar();
  ThreadEvents eventos(s.sesion);
  s.sesion.eventos = &eventos;
  ThreadRecord::FailCreationsForTesting(1);
  EXPECT_FALSE(eventos.Crear());
  EXPECT_EQ(cajas.Textos(), std::vector<std::string>{"ThreadEvents creation failed."});
  EXPECT_FALSE(eventos.Post(ThreadEvents::kEventoPaginaSiguiente, 0, kModoUnit));
  EXPECT_EQ(eventos.Pendiente(), ThreadEvents::kNinguno);
  EXPECT_TRUE(eventos.EsperarFin(0));
  EXPECT_TRUE(InterfaceAXEsperaFinEvento(s.sesion, 0));
  EXPECT_TRUE(eventos.Terminar());
  EXPECT_TRUE(s.Movimientos().empty());
}

TEST(CommandWorker, TheStopClearsACommandNeverStartedAndWakesItsWaiter) {
  SesionFalsa s;
  s.Cargar();
  ThreadEvents eventos(s.sesion);
  std::mutex mutex;
  std::condition_variable cv;
  bool en_pausa = false;
  bool seguir = false;
  int pausas = 0;
  eventos.SetPausaParaPruebas([&] {
    std::unique_lock<std::mutex> lock(mutex);
    ++pausas;
    cv.notify_all();
    if (pausas < 2) return;  // the first idle turn goes to sleep as usual
    en_pausa = true;
    cv.wait(lock, [&] { return seguir; });
  });
  ASSERT_TRUE(eventos.Crear());
  eventos.record().DespertarThread();
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return pausas == 1; }));
  }
  // The next idle turn, after this command, holds the worker between its
  // test and its sleep, where a post lands.
  ASSERT_TRUE(eventos.Post(ThreadEvents::kEventoCambiarParte, 3, kModoUnit));
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return en_pausa; }));
  }
  ASSERT_TRUE(eventos.Post(ThreadEvents::kEventoCambiarParte, 5, kModoUnit));
  std::atomic<bool> esperado{false};
  std::thread espera([&] { esperado = eventos.EsperarFin(10000); });
  std::thread parada([&] { EXPECT_TRUE(eventos.Terminar()); });
  // Let the stop ask first, then release the worker.
  while (eventos.record().Estado() == ThreadRecord::kCorriendo) std::this_thread::yield();
  {
    std::lock_guard<std::mutex> lock(mutex);
    seguir = true;
    cv.notify_all();
  }
  parada.join();
  espera.join();
  EXPECT_TRUE(esperado.load());
  EXPECT_EQ(eventos.Pendiente(), ThreadEvents::kNinguno);
  EXPECT_TRUE(s.documento(5).Log().empty()) << "the stop ran the pending command";
  EXPECT_FALSE(eventos.Post(ThreadEvents::kEventoCambiarParte, 1, kModoUnit));
}

TEST(CommandWorker, TheHostsWaitGoesThroughTheGuiThreadWaitAndGivesUpWhenBounded) {
  platform::ui::SetUiHost(std::make_shared<platform::ui::HeadlessUiHost>());
  SesionFalsa s;
  s.documento(2).Retener();
  ThreadCargaUnit carga(s.sesion);
  s.sesion.carga_unit = &carga;
  ASSERT_TRUE(carga.Crear());
  carga.Despertar();
  while (!s.documento(2).Esperando()) std::this_thread::yield();
  s.sesion.Unit().activa = 1;
  ThreadEvents eventos(s.sesion);
  s.sesion.eventos = &eventos;
  ASSERT_TRUE(eventos.Crear());
  eventos.record().DespertarThread();
  ASSERT_TRUE(eventos.Post(ThreadEvents::kEventoCambiarParte, 2, kModoUnit));
  EXPECT_FALSE(InterfaceAXEsperaFinEvento(s.sesion, 20));
  s.documento(2).Soltar();
  EXPECT_TRUE(InterfaceAXEsperaFinEvento(s.sesion, 10000));
  EXPECT_EQ(eventos.Pendiente(), ThreadEvents::kNinguno);
  EXPECT_TRUE(eventos.Terminar());
  EXPECT_TRUE(carga.Terminar());
  platform::ui::SetUiHost(nullptr);
}

}  // namespace
