// The waiting screens on a manual clock: the loading screen's bar against
// the load's progress, the page-loading box and the end-of-unit phases,
// stepped by hand and served by the thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

#include "base/OSAL.h"
#include "platform/Clock.h"
#include "platform/ui/Headless.h"
#include "player/ThreadPeriodicEvents.h"
#include "tests/player/session_fixture.h"

namespace {

class Pantallas : public testing::Test {
 protected:
  Pantallas() : scoped_(&clock_), site_(687, 534) {
    osal_.IniciarTicks();
    gdi_.SetOSAL(&osal_);
    sesion_.osal = &osal_;
    sesion_.gdi = &gdi_;
    sesion_.Unit().ventana = &site_;
    sesion_.Unit().superficie_pagina = gdi_.CrearBuffer(687, 534, 0, 0, &site_);
    gdi_.FillRect(sesion_.Unit().superficie_pagina, 0, 0, 687, 534, 0xFFFFFF);
  }
  // The screens stepped by hand: the thread cannot be made.
  void SinThread() {
    ThreadRecord::FailCreationsForTesting(1);
    EXPECT_FALSE(pantallas_.Crear());
    EXPECT_EQ(cajas_.Cuenta("ThreadPeriodicEvents creation failed."), 1);
  }
  void ConThread() {
    ASSERT_TRUE(pantallas_.Crear());
    pantallas_.DespertarThread();
    ASSERT_TRUE(pantallas_.EsperarThreadArrancado());
  }
  platform::gfx::COLORREF Pixel(uint16_t slot, int x, int y) {
    return gdi_.Superficie(slot).GetPixel(x, y);
  }

  platform::ManualClock clock_;
  platform::ScopedClock scoped_;
  fakes::Cajas cajas_;
  OSAL osal_;
  TGestorGDI gdi_;
  platform::ui::HeadlessControlSite site_;
  SesionAX sesion_;
  ThreadPeriodicEvents pantallas_{sesion_};
};

TEST_F(Pantallas, ATwentySecondLoadIsFollowedByTheBarAndFinishesIn40PixelSteps) {
  SinThread();
  pantallas_.PedirProgresoUnit(7);
  pantallas_.ProgresoCargaUnit();  // the first turn starts the clock
  EXPECT_EQ(pantallas_.PosicionBarra(), 1);
  uint32_t t = 0;
  while (pantallas_.Progreso().load() < 100) {
    t += 100;
    clock_.Set(t);
    pantallas_.FijarProgreso(static_cast<uint8_t>(t / 200));  // 100 steps at 20 s
    pantallas_.ProgresoCargaUnit();
    if (t >= 2000) {
      EXPECT_NEAR(pantallas_.TiempoEsperado(), 20000.0, 2000.0) << t;
      EXPECT_NEAR(pantallas_.PosicionBarra(), 687.0 * t / 20000, 24.0) << t;
    }
  }
  // Steps at 100: 40 pixels a turn to the end, then the request ends.
  int turnos = 0;
  uint16_t antes = pantallas_.PosicionBarra();
  while (pantallas_.PeticionProgreso() && turnos < 30) {
    clock_.Advance(100);
    pantallas_.ProgresoCargaUnit();
    ++turnos;
    const uint16_t ahora = pantallas_.PosicionBarra();
    if (pantallas_.PeticionProgreso()) {
      EXPECT_EQ(ahora, std::min(687, antes + 40));
    }
    antes = ahora;
  }
  EXPECT_FALSE(pantallas_.PeticionProgreso());
  EXPECT_EQ(pantallas_.PosicionBarra(), 687);
  EXPECT_LE(turnos, 3);
}

TEST_F(Pantallas, ALoadSlowerThanItsEstimateJumpsBackToTheMiddleOnABlackScreen) {
  SinThread();
  gdi_.FillRect(pantallas_.Superficie(), 0, 0, 687, 534, 0xFFFFFF);
  pantallas_.PedirProgresoUnit(7);
  pantallas_.ProgresoCargaUnit();
  pantallas_.FijarProgreso(50);
  uint16_t mayor = 0;
  bool salto = false;
  for (uint32_t t = 100; t <= 200000 && !salto; t += 100) {
    clock_.Set(t);
    const uint16_t antes = pantallas_.PosicionBarra();
    pantallas_.ProgresoCargaUnit();
    mayor = std::max(mayor, antes);
    salto = pantallas_.PosicionBarra() < antes;
  }
  ASSERT_TRUE(salto);
  EXPECT_GE(mayor, 671);  // it jumps once the bar reaches 679
  EXPECT_EQ(pantallas_.PosicionBarra(), 343);
  EXPECT_EQ(pantallas_.TiempoEsperado(), ThreadPeriodicEvents::kEsperadoInicialMs);
  EXPECT_EQ(Pixel(pantallas_.Superficie(), 600, 300), 0x000000u);
  EXPECT_TRUE(pantallas_.PeticionProgreso());
}

TEST_F(Pantallas, TheExpectedTimeIsNeverZeroAndDoesNotWrapAfterTwelveHours) {
  SinThread();
  pantallas_.PedirProgresoUnit(7);
  pantallas_.ProgresoCargaUnit();
  pantallas_.FijarProgreso(50);
  pantallas_.ProgresoCargaUnit();  // no time has passed
  EXPECT_EQ(pantallas_.TiempoEsperado(), 1u);
  clock_.Advance(100);
  pantallas_.ProgresoCargaUnit();  // a target from a 1 ms estimate, not a division by 0
  EXPECT_GT(pantallas_.PosicionBarra(), 1);
  // 43 000 000 ms: elapsed x 100 no longer fits 32 bits.
  clock_.Set(43000000);
  pantallas_.FijarProgreso(90);
  pantallas_.ProgresoCargaUnit();
  EXPECT_EQ(pantallas_.TiempoEsperado(), ThreadPeriodicEvents::kEsperadoInicialMs);
}

TEST_F(Pantallas, ThePageBoxAppearsOnlyAfterThreeTurnsAndStaysASecond) {
  SinThread();
  const uint16_t pagina = sesion_.Unit().superficie_pagina;
  std::vector<uint32_t> cajas;
  pantallas_.SetObservadorParaPruebas([&](int que) {
    if (que == ThreadPeriodicEvents::kCajaDibujada) cajas.push_back(clock_.Now());
  });
  pantallas_.InicioEsperaPagina(0, pagina);  // part 0: no box
  EXPECT_FALSE(pantallas_.PeticionEsperaPagina());

  pantallas_.InicioEsperaPagina(3, pagina);
  EXPECT_TRUE(pantallas_.PeticionEsperaPagina());
  for (int turno = 0; turno < 3; ++turno) pantallas_.PintarCargandoPagina();
  EXPECT_TRUE(cajas.empty());
  const uint32_t antes = clock_.Now();
  pantallas_.PintarCargandoPagina();
  ASSERT_EQ(cajas.size(), 1u);
  EXPECT_GE(clock_.Now() - cajas[0], 1000u);
  EXPECT_EQ(cajas[0], antes);
  EXPECT_FALSE(pantallas_.PeticionEsperaPagina());
  // The greyed copy of the page with the white box on it.
  EXPECT_EQ(Pixel(pantallas_.Superficie(), 258, 224), 0xFFFFFFu);
  EXPECT_NE(Pixel(pantallas_.Superficie(), 101, 100), 0xFFFFFFu);  // greyed
  pantallas_.FinEsperaPagina();

  // A wait over within three turns draws nothing.
  pantallas_.InicioEsperaPagina(5, pagina);
  pantallas_.PintarCargandoPagina();
  pantallas_.PintarCargandoPagina();
  pantallas_.FinEsperaPagina();
  EXPECT_FALSE(pantallas_.PeticionEsperaPagina());
  for (int turno = 0; turno < 5; ++turno) pantallas_.PintarCargandoPagina();
  EXPECT_EQ(cajas.size(), 1u);
}

TEST_F(Pantallas, WithoutTheThreadEveryWaitReturnsAtOnce) {
  SinThread();
  pantallas_.PedirProgresoUnit(7);
  pantallas_.EsperarFinProgreso();
  pantallas_.InicioEsperaPagina(2, sesion_.Unit().superficie_pagina);
  for (int turno = 0; turno < 3; ++turno) pantallas_.PintarCargandoPagina();
  pantallas_.FinEsperaPagina();  // the box is due, but nothing will draw it
  pantallas_.PedirFinUnit();
  EXPECT_FALSE(pantallas_.FaseFinUnit(2));
  EXPECT_TRUE(pantallas_.Terminar());
}

TEST_F(Pantallas, NoBoxIsDrawnAfterTheWaitHasReturned) {
  ConThread();
  std::atomic<bool> cerrada{false};
  std::atomic<int> dibujadas{0};
  std::atomic<int> tarde{0};
  pantallas_.SetObservadorParaPruebas([&](int que) {
    if (que != ThreadPeriodicEvents::kCajaDibujada) return;
    ++dibujadas;
    if (cerrada.load()) ++tarde;
  });
  std::mt19937 azar(7);
  for (int ronda = 0; ronda < 200; ++ronda) {
    cerrada = false;
    pantallas_.InicioEsperaPagina(4, sesion_.Unit().superficie_pagina);
    for (int n = std::uniform_int_distribution<int>(0, 50)(azar); n > 0; --n)
      std::this_thread::yield();
    if (ronda % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pantallas_.FinEsperaPagina();
    cerrada = true;
    EXPECT_FALSE(pantallas_.PeticionEsperaPagina()) << ronda;
  }
  EXPECT_EQ(tarde.load(), 0);
  EXPECT_GT(dibujadas.load(), 0);
  EXPECT_TRUE(pantallas_.Terminar());
}

TEST_F(Pantallas, TheEndOfUnitPhasesAppearInOrderASecondApart) {
  ConThread();
  std::mutex mutex;
  std::vector<std::pair<int, uint32_t>> fases;
  pantallas_.SetObservadorParaPruebas([&](int que) {
    std::lock_guard<std::mutex> lock(mutex);
    if (que != ThreadPeriodicEvents::kCajaDibujada) fases.emplace_back(que, clock_.Now());
  });
  pantallas_.PedirFinUnit();
  EXPECT_TRUE(pantallas_.FaseFinUnit(2));
  EXPECT_TRUE(pantallas_.FaseFinUnit(3));
  EXPECT_TRUE(pantallas_.FaseFinUnit(5));
  ASSERT_TRUE(
      pantallas_.record().EsperarCondicion([&] { return !pantallas_.PeticionFinUnit(); }, 10000));
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(fases.size(), 4u);
  const int orden[4] = {0, 2, 3, 5};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(fases[i].first, orden[i]);
    if (i > 0) {
      EXPECT_GE(fases[i].second - fases[i - 1].second, 1000u) << i;
    }
  }
  // The texts are on the unit's page, in their white box.
  EXPECT_EQ(Pixel(sesion_.Unit().superficie_pagina, 116, 224), 0xFFFFFFu);
  EXPECT_TRUE(pantallas_.Terminar());
}

// The unload waits on the GUI thread: the screens drawn meanwhile reach
// the window only if that wait keeps serving the UI host.
TEST_F(Pantallas, TheEndOfUnitWaitsServeTheWindow) {
  class Contador : public platform::ui::HeadlessUiHost {
   public:
    bool WaitOnGuiThread(const std::function<bool()>& done, uint32_t timeout_ms) override {
      ++esperas;
      return HeadlessUiHost::WaitOnGuiThread(done, timeout_ms);
    }
    std::atomic<int> esperas{0};
  };
  auto host = std::make_shared<Contador>();
  platform::ui::SetUiHost(host);
  ConThread();
  pantallas_.PedirFinUnit();
  EXPECT_TRUE(pantallas_.FaseFinUnit(2));
  // The wait for phase 0 on screen, then the second the phase lasts, served
  // at least every 50 ms.
  EXPECT_GE(host->esperas.load(), 1000 / 50);
  EXPECT_TRUE(pantallas_.Terminar());
  platform::ui::SetUiHost(nullptr);
}

TEST_F(Pantallas, TenThreadsMadeAndStoppedGiveBackTheirSlots) {
  auto EnUso = [&] {
    int n = 0;
    for (uint16_t i = 0; i < TGestorGDI::kNumBuffers; ++i) n += gdi_.EnUso(i);
    return n;
  };
  const int antes = EnUso();
  for (int i = 0; i < 10; ++i) {
    ThreadPeriodicEvents otro(sesion_);
    ASSERT_TRUE(otro.Crear()) << i;
    otro.DespertarThread();
    ASSERT_TRUE(otro.EsperarThreadArrancado());
    otro.PedirProgresoUnit(7);
    ASSERT_TRUE(otro.Terminar()) << i;
  }
  EXPECT_EQ(EnUso(), antes);
}

}  // namespace
