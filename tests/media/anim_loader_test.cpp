// The loader thread: its figures step by step, the loading screen's
// progress, the sound read, decoding only while stopped, teardown in every
// state, a thread that cannot be made, a lost connection, and readers on
// other threads while it runs.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/ThreadRecord.h"
#include "ehdd/TEHDDCache.h"
#include "tests/media/anim_fixture.h"
#include "tests/support/TestServer.h"

namespace {

using anim_test::CarpetaAnim;
using anim_test::Descripcion;
using anim_test::Reproductor;
using anim_test::Score;

// Each new value of a figure, in the order the loader set them.
class Figuras {
 public:
  void Ver(uint8_t valor) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (valores_.empty() || valores_.back() != valor) valores_.push_back(valor);
  }
  std::vector<uint8_t> Valores() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return valores_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<uint8_t> valores_;
};

std::vector<uint8_t> V(std::initializer_list<int> valores) {
  std::vector<uint8_t> v;
  for (int x : valores) v.push_back(static_cast<uint8_t>(x));
  return v;
}

// A player whose loader's two image figures are watched.
struct Carga {
  explicit Carga(CarpetaAnim& carpeta) : r(carpeta) {
    TGestorAnimTestAccess::SetObservador(r.anim, [this] {
      basico.Ver(r.anim.PorcentajeBasico());
      resto.Ver(r.anim.PorcentajeCarga());
    });
  }
  Figuras basico;
  Figuras resto;
  Reproductor r;
};

TEST(AnimLoader, ABackgroundWithoutCastsAddsItsShareAtOnce) {
  CarpetaAnim carpeta;
  Descripcion d;
  d.fondos = {{"PL", 1, {2, 3, 4}}, {"PL", 1, {}}};
  d.casts = {{0, 0, 4, 4, 2, 1}, {0, 0, 4, 4, 1, 1}, {0, 0, 4, 4, 1, 1}};
  carpeta.Todo(d, Score(5));
  Carga c(carpeta);
  ASSERT_TRUE(c.r.Cargar());
  const Figuras& basico = c.basico;
  const Figuras& resto = c.resto;
  EXPECT_EQ(basico.Valores(), V({0, 16, 33, 50, 100}));
  EXPECT_EQ(resto.Valores(), V({0, 100}));
}

TEST(AnimLoader, TheRestLoadsAfterTheFirstBackgroundsAndOtherPrioritiesNever) {
  CarpetaAnim carpeta;
  Descripcion d;
  d.fondos = {{"PL", 0, {2}}, {"PL", 1, {}}, {"PL", 3, {}}, {"PL", 0, {}}};
  d.casts = {{0, 0, 4, 4, 2, 1}};
  carpeta.Todo(d, Score(5));
  Carga c(carpeta);
  ASSERT_TRUE(c.r.Cargar());
  const Figuras& basico = c.basico;
  const Figuras& resto = c.resto;
  Reproductor& r = c.r;
  EXPECT_EQ(basico.Valores(), V({0, 100}));
  EXPECT_EQ(resto.Valores(), V({0, 50, 100}));
  // Background 2 first, then 1 with its cast, then 4; never 3.
  EXPECT_EQ(r.anim.Fondo(2).imagen.load(), 1);
  EXPECT_EQ(r.anim.Fondo(1).imagen.load(), 2);
  EXPECT_EQ(r.anim.Cast(2).primera_imagen.load(), 3);
  EXPECT_EQ(r.anim.Fondo(4).imagen.load(), 5);
  EXPECT_EQ(r.anim.Fondo(3).imagen.load(), 0);
}

TEST(AnimLoader, FourteenBackgroundsKeepTheProgressBelowTheSoundsShare) {
  CarpetaAnim carpeta;
  Descripcion d;
  d.ancho = 8;
  d.alto = 8;
  for (int k = 0; k < 14; ++k) d.fondos.push_back({"PL", k % 2, {}});
  carpeta.Todo(d, Score(5), "", 120000);
  std::atomic<uint8_t> progreso{0};
  Figuras vistos;
  Figuras audio;
  Reproductor r(carpeta);
  r.anim.SetProgreso(&progreso);
  TGestorAnimTestAccess::SetObservador(r.anim, [&] {
    vistos.Ver(progreso.load());
    audio.Ver(r.anim.ActualizarPorcentajeAudio());
  });
  ASSERT_TRUE(r.Cargar());
  EXPECT_EQ(vistos.Valores(), V({10, 17, 24, 31, 38, 45, 52, 59, 60, 72, 85, 90}));
  EXPECT_EQ(progreso.load(), 90);
  // Bytes read of the sound, then 100 once its phase ends.
  EXPECT_EQ(audio.Valores(), V({0, 41, 83, 100}));
  EXPECT_EQ(r.anim.ActualizarPorcentajeAudio(), 100);
}

TEST(AnimLoader, AMissingOrEmptySoundEndsItsPhaseAt90) {
  for (bool vacio : {false, true}) {
    SCOPED_TRACE(vacio);
    CarpetaAnim carpeta;
    carpeta.Todo(Descripcion{}, Score(5), "", 0);
    if (!vacio) carpeta.Borrar("DIALOGO.OGG");
    std::atomic<uint8_t> progreso{0};
    Reproductor r(carpeta);
    r.anim.SetProgreso(&progreso);
    ASSERT_TRUE(r.Cargar());
    EXPECT_EQ(progreso.load(), 90);
    EXPECT_EQ(r.anim.ActualizarPorcentajeAudio(), 100);
    EXPECT_EQ(r.anim.PorcentajeCarga(), 100);
    EXPECT_EQ(r.anim.PorcentajeBasico(), 100);
  }
}

TEST(AnimLoader, NothingIsDecodedWhileTheAnimationPlays) {
  CarpetaAnim carpeta;
  anim_test::UnFondo(carpeta);
  Reproductor r(carpeta);
  r.TocarDesdeElPrimerPaso();
  ASSERT_TRUE(r.anim.Iniciar());
  ASSERT_EQ(r.anim.CargarAnim("U:\\ANIM"), 0);
  EXPECT_FALSE(r.anim.EsperarCarga(450));  // two of its waits and more
  EXPECT_EQ(TGestorAnimTestAccess::NumImagenes(r.anim), 1);
  EXPECT_EQ(TGestorAnimTestAccess::FondoCargando(r.anim), 1);
  EXPECT_EQ(r.anim.PorcentajeBasico(), 0);
  TGestorAnimTestAccess::SetParada(r.anim, true);
  ASSERT_TRUE(r.anim.EsperarCarga(20000));
  EXPECT_EQ(TGestorAnimTestAccess::NumImagenes(r.anim), 2);
}

TEST(AnimLoader, TeardownInEveryStateEndsPromptly) {
  CarpetaAnim carpeta;
  Descripcion d;
  d.fondos = {{"PL", 1, {}}};
  carpeta.Todo(d, Score(5));
  auto medir = [](const std::function<void()>& f) {
    const auto inicio = std::chrono::steady_clock::now();
    f();
    return std::chrono::steady_clock::now() - inicio;
  };
  {
    // Never woken.
    auto r = std::make_unique<Reproductor>(carpeta);
    ASSERT_TRUE(r->anim.Iniciar());
    EXPECT_LT(medir([&] { r.reset(); }), std::chrono::seconds(1));
  }
  {
    // Waiting for the animation to stop.
    auto r = std::make_unique<Reproductor>(carpeta);
    r->TocarDesdeElPrimerPaso();
    ASSERT_TRUE(r->anim.Iniciar());
    ASSERT_EQ(r->anim.CargarAnim("U:\\ANIM"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LT(medir([&] { r.reset(); }), std::chrono::seconds(1));
  }
  {
    // Playing.
    auto r = std::make_unique<Reproductor>(carpeta);
    ASSERT_TRUE(r->Cargar());
    r->anim.PlayAnim(0);
    r->Tic();
    EXPECT_LT(medir([&] { r.reset(); }), std::chrono::seconds(1));
  }
}

TEST(AnimLoader, ALoaderThatCannotBeMadeRefusesTheLoad) {
  CarpetaAnim carpeta;
  carpeta.Todo(Descripcion{}, Score(5));
  Reproductor r(carpeta);
  ThreadRecord::FailCreationsForTesting(1);
  EXPECT_FALSE(r.anim.Iniciar());
  EXPECT_EQ(r.mensajes.Cajas(), std::vector<std::string>{"ThreadCargaAnim creation failed."});
  EXPECT_EQ(r.anim.CargarAnim("U:\\ANIM"), -1);
  EXPECT_FALSE(r.anim.EsperarCarga(60000));
  EXPECT_TRUE(r.mensajes.Salidas().empty());
}

// Readers on other threads while the loader fills the tables, and a timer
// ticking throughout (run under ThreadSanitizer).
TEST(AnimLoader, PlayersReadersAndTheLoaderRunSideBySide) {
  CarpetaAnim carpeta;
  Descripcion d;
  d.fondos = {{"PL", 1, {2}}, {"PL", 0, {3}}};
  d.casts = {{0, 0, 16, 16, 4, 1}, {20, 20, 16, 16, 4, 2}};
  Score s(40);
  for (int f = 0; f < 40; ++f) {
    s.pistas[0][f] = f % 10 == 0 ? 1 + (f / 10) % 2 : 0;
    s.pistas[1][f] = 1 + f % 4;
    s.pistas[2][f] = 1 + (f + 1) % 4;
    s.secciones[f] = static_cast<uint16_t>(f / 8);
  }
  carpeta.Todo(d, s, "0\r\n2\r\n");
  Reproductor r(carpeta);
  std::atomic<bool> fin{false};
  std::thread lector([&] {
    unsigned suma = 0;
    while (!fin.load()) {
      suma += r.anim.Cargada() + r.anim.Parada() + r.anim.PorcentajeCarga() +
              r.anim.PorcentajeBasico() + r.anim.ActualizarPorcentajeAudio() + r.anim.NumFrames() +
              r.anim.Seccion(7);
    }
    EXPECT_GT(suma, 0u);
  });
  ASSERT_TRUE(r.anim.Iniciar());
  ASSERT_EQ(r.anim.CargarAnim("U:\\ANIM"), 0);
  while (!r.anim.Cargada()) r.Tic();
  std::thread botones([&] {
    for (int i = 0; i < 20; ++i) {
      r.anim.PauseAnim();
      r.anim.RecapAnim();
    }
  });
  r.anim.PlayAnim(3);
  for (int i = 0; i < 200; ++i) r.Tic();
  botones.join();
  fin = true;
  lector.join();
  EXPECT_EQ(r.anim.Seccion(7), 0);
  EXPECT_EQ(r.anim.Seccion(8), 1);
}

// The sound's server goes away while it is read: the loader still ends,
// with the animation loaded.
TEST(AnimLoader, ALostConnectionStillEndsTheLoad) {
  char pattern[] = "/tmp/lectoria-anim-server-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern;
  struct AlFinal {
    std::filesystem::path dir;
    ~AlFinal() {
      unsetenv("LECTORIA_REGISTRY_DIR");
      TEHDDCache::Destroy();
      std::error_code ignored;
      std::filesystem::remove_all(dir, ignored);
    }
  } al_final{dir};
  const std::filesystem::path anim = dir / "root" / "data" / "ANIM";
  std::filesystem::create_directories(anim);
  std::ofstream(anim / "DEFANIM.TXT", std::ios::binary) << Descripcion{}.Texto();
  std::ofstream(anim / "SCORE.VM", std::ios::binary) << Score(5).VM02();
  std::ofstream(anim / "DIALOGO.OGG", std::ios::binary) << std::string(400000, 'd');
  unsetenv("http_proxy");
  unsetenv("HTTP_PROXY");
  setenv("LECTORIA_REGISTRY_DIR", (dir / "registry").c_str(), 1);
  TEHDDCache::Destroy();

  TestServer server(dir / "root", dir / "log");
  ASSERT_NE(server.port(), 0);
  anim_test::Mensajes mensajes;
  TEHDDClient cliente;
  cliente.SetTimeout(1);
  cliente.Mount("data", 'D');
  cliente.Conectar("127.0.0.1", "alumno", server.port());
  OSAL osal;
  TGestorGDI gdi;
  TGestorBMP bmp(&osal, &gdi, &cliente);
  std::atomic<uint8_t> progreso{0};
  TGestorAnim a;
  a.SetOSAL(&osal);
  a.SetGestorGDI(&gdi);
  a.SetEHDDClient(&cliente);
  a.SetGestorBMP(&bmp);
  a.SetProgreso(&progreso);
  TGestorAnimTestAccess::SetObservador(a, [&] {
    if (progreso.load() > 60 && progreso.load() < 90) server.Kill();  // after the first piece
  });
  ASSERT_TRUE(a.Iniciar());
  ASSERT_EQ(a.CargarAnim("D:\\ANIM"), 0);
  ASSERT_TRUE(a.EsperarCarga(30000));
  EXPECT_LT(progreso.load(), 90);
  EXPECT_EQ(a.ActualizarPorcentajeAudio(), 100);
  EXPECT_EQ(a.PorcentajeBasico(), 100);
  cliente.ForgetOpenFiles();
}

}  // namespace
