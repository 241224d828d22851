// The frame step against a fake sound on a headless window: the start at a
// frame with its scene, pacing, waiting for a sound that never starts, the
// end, pause and resume, recap, subtitles, and what cannot be drawn.
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/TListaStrings.h"
#include "media/ISubtitulosAnim.h"
#include "tests/media/anim_fixture.h"

namespace {

using anim_test::CarpetaAnim;
using anim_test::Celda;
using anim_test::Descripcion;
using anim_test::Reproductor;
using anim_test::Score;
using platform::gfx::Rgb;

const platform::gfx::COLORREF kFondo1 = Rgb(10, 0, 99);
const platform::gfx::COLORREF kFondo2 = Rgb(20, 0, 99);

// Backgrounds 1 (casts 2, 3) and 2; cast 2 at (10, 20), 30 x 40, three
// sprites; cast 3 at (100, 120), 20 x 20, two sprites.
Descripcion Escena() {
  Descripcion d;
  d.fondos = {{"PL", 1, {2, 3}}, {"PM", 1, {}}};
  d.casts = {{10, 20, 30, 40, 3, 1}, {100, 120, 20, 20, 2, 1}};
  return d;
}

class AnimPlayerTest : public testing::Test {
 protected:
  void Preparar(const Score& score, const Descripcion& d = Escena(),
                const std::string& jumps = "") {
    carpeta_.Todo(d, score, jumps);
  }

  CarpetaAnim carpeta_;
};

TEST_F(AnimPlayerTest, StartingInsideASceneRestoresItBeforeTheFirstFrame) {
  Score s(60);
  s.pistas[0][0] = 2;
  s.pistas[0][20] = 1;
  s.pistas[1][18] = 2;  // before the background change: not restored
  s.pistas[1][22] = 3;
  s.pistas[1][24] = 1;  // cast 2's last sprite before frame 25
  s.pistas[2][19] = 1;
  s.pistas[2][25] = 2;  // cast 3 changes at frame 25 itself
  Preparar(s);
  Reproductor r(carpeta_, 2);
  ASSERT_TRUE(r.Cargar());
  std::vector<std::pair<uint16_t, uint16_t>> barras;
  r.anim.SetPintarBarraAnim(
      [&](uint16_t frame, uint16_t frames) { barras.emplace_back(frame, frames); });

  r.anim.PlayAnim(25);
  r.Tic();
  auto llamadas = r.audio.Llamadas();
  ASSERT_FALSE(llamadas.empty());
  EXPECT_EQ(llamadas.back().operacion, "PlayAudioOGGPosicion");
  EXPECT_EQ(llamadas.back().path, "U:\\ANIM\\DIALOGO.OGG");
  EXPECT_EQ(llamadas.back().ms, 5000u);
  // The scene is drawn, the frame waits for the sound.
  EXPECT_EQ(r.Pixel(300, 300), kFondo1);
  EXPECT_EQ(r.Pixel(15, 25), Celda(2));  // sprite 1: the rightmost cell
  EXPECT_EQ(r.Pixel(105, 125), kFondo1);
  EXPECT_TRUE(r.ventana.PresentLog().empty());
  EXPECT_TRUE(barras.empty());

  r.Tic();
  r.Tic();
  EXPECT_EQ(r.Pixel(105, 125), Celda(0));  // cast 3's sprite 2 of frame 25
  EXPECT_EQ(r.Pixel(15, 25), Celda(2));
  const auto presentes = r.ventana.PresentLog();
  ASSERT_EQ(presentes.size(), 1u);
  EXPECT_EQ(presentes[0].window_rect, (platform::gfx::Rect{65, 13, 550, 412}));
  ASSERT_EQ(barras.size(), 1u);
  EXPECT_EQ(barras[0], std::make_pair(uint16_t{25}, uint16_t{60}));
  EXPECT_EQ(r.anim.FrameActual(), 26);
}

TEST_F(AnimPlayerTest, FramesFollowTheSoundOneATick) {
  Score s(40);
  s.pistas[0][0] = 1;
  Preparar(s);
  Reproductor r(carpeta_);
  ASSERT_TRUE(r.Cargar());
  int frames = 0;
  std::atomic<bool> cerrojo_tomado{false};
  r.anim.SetPintarBarraAnim([&](uint16_t, uint16_t) {
    ++frames;
    // The page lock is held for the whole tick.
    std::thread otro([&] {
      const bool libre = r.pagina.try_lock();
      if (libre) r.pagina.unlock();
      cerrojo_tomado = !libre;
    });
    otro.join();
  });
  r.anim.PlayAnim(0);
  r.Tic(0);
  EXPECT_EQ(frames, 1);
  EXPECT_TRUE(cerrojo_tomado.load());
  EXPECT_EQ(r.Pixel(0, 0), kFondo1);
  // 1000 ms of lead are caught up in 5 ticks, one frame each.
  r.audio.SetPosicion(1000);
  for (int i = 0; i < 5; ++i) r.Tic(0);
  EXPECT_EQ(frames, 6);
  r.Tic(0);
  EXPECT_EQ(frames, 6);
  EXPECT_EQ(r.anim.FrameActual(), 6);
  // 50 ms a tick: a frame every fourth tick.
  for (int i = 0; i < 9; ++i) r.Tic(50);
  EXPECT_EQ(frames, 8);
}

TEST_F(AnimPlayerTest, NothingUntilTheSoundStartsAndClosedAfter100Ticks) {
  Score s(40);
  s.pistas[0][0] = 1;
  Preparar(s);
  Reproductor r(carpeta_, FakeAudioAnim::kNunca);
  ASSERT_TRUE(r.Cargar());
  r.anim.PlayAnim(0);
  for (uint32_t i = 0; i < TGestorAnim::kTicksSinAudio - 1; ++i) r.Tic();
  EXPECT_FALSE(r.anim.Parada());
  EXPECT_TRUE(r.ventana.PresentLog().empty());
  r.Tic();
  EXPECT_TRUE(r.anim.Parada());
  EXPECT_EQ(r.audio.Llamadas().back().operacion, "CloseAudio");
  EXPECT_FALSE(r.audio.Sonando());
  EXPECT_TRUE(r.ventana.PresentLog().empty());
}

TEST_F(AnimPlayerTest, StopsPastTheEndAndPlaysNothingPastTheCount) {
  Score s(3);
  Preparar(s);
  Reproductor r(carpeta_);
  r.anim.PlayAnim(0);  // not loaded yet: nothing
  EXPECT_TRUE(r.anim.Parada());
  ASSERT_TRUE(r.Cargar());
  r.anim.PlayAnim(3);
  EXPECT_TRUE(r.anim.Parada());
  EXPECT_TRUE(r.audio.Llamadas().empty());
  int frames = 0;
  r.anim.SetPintarBarraAnim([&](uint16_t, uint16_t) { ++frames; });
  r.anim.PlayAnim(2);
  EXPECT_FALSE(r.anim.Parada());
  r.Tic();
  EXPECT_EQ(frames, 1);
  r.Tic();
  EXPECT_TRUE(r.anim.Parada());
  EXPECT_TRUE(r.audio.Sonando());  // the sound plays on to its end
}

TEST_F(AnimPlayerTest, PauseAndResumeStartTheSoundAgainAtTheFrame) {
  Score s(40);
  Preparar(s);
  Reproductor r(carpeta_);
  ASSERT_TRUE(r.Cargar());
  r.anim.PauseAnim();  // stopped: resumes from frame 0
  EXPECT_FALSE(r.anim.Parada());
  for (int i = 0; i < 9; ++i) r.Tic();  // frames 0, 1, 2
  EXPECT_EQ(r.anim.FrameActual(), 3);
  r.anim.PauseAnim();
  EXPECT_TRUE(r.anim.Parada());
  EXPECT_EQ(r.audio.Llamadas().back().operacion, "CloseAudio");
  r.Tic();
  EXPECT_EQ(r.anim.FrameActual(), 3);
  r.anim.PauseAnim();
  r.Tic();
  EXPECT_EQ(r.audio.Llamadas().back().operacion, "PlayAudioOGGPosicion");
  EXPECT_EQ(r.audio.Llamadas().back().ms, 600u);
  EXPECT_EQ(r.anim.FrameActual(), 4);
}

// Sections 0 (frames 0-4), 1 (5-14), 2 (15-24), 3 (25-39), 4 (40-49),
// 5 (50-59).
Score Secciones() {
  Score s(60);
  const int inicio[] = {0, 5, 15, 25, 40, 50, 60};
  for (int sec = 0; sec < 6; ++sec) {
    for (int f = inicio[sec]; f < inicio[sec + 1]; ++f) s.secciones[f] = static_cast<uint16_t>(sec);
  }
  return s;
}

uint16_t Recap(Reproductor& r, uint16_t frame) {
  r.anim.PlayAnim(frame);
  r.anim.RecapAnim();
  EXPECT_FALSE(r.anim.Parada());
  return r.anim.FrameActual();
}

TEST_F(AnimPlayerTest, RecapGoesBackToTheStartOfAJumpGroup) {
  Preparar(Secciones(), Escena(), "1\r\n3\r\n5\r\n");
  Reproductor r(carpeta_);
  ASSERT_TRUE(r.Cargar());
  const std::pair<uint16_t, uint16_t> casos[] = {{30, 5},  {32, 5}, {33, 25}, {35, 25}, {45, 25},
                                                 {55, 25}, {12, 0}, {13, 5},  {3, 0},   {0, 0}};
  for (const auto& [desde, inicio] : casos) EXPECT_EQ(Recap(r, desde), inicio) << desde;
  r.anim.CloseAnim();
  r.anim.RecapAnim();  // stopped: nothing
  EXPECT_TRUE(r.anim.Parada());
}

TEST_F(AnimPlayerTest, RecapWithoutAJumpBelowPlaysFromZeroAndTakesJumpsInAnyOrder) {
  Preparar(Secciones(), Escena(), "3\r\n5\r\n");
  Reproductor r(carpeta_);
  ASSERT_TRUE(r.Cargar());
  EXPECT_EQ(Recap(r, 20), 0);
  EXPECT_EQ(Recap(r, 30), 0);
  EXPECT_EQ(Recap(r, 45), 25);

  CarpetaAnim otra;
  otra.Todo(Escena(), Secciones(), "5\r\n1\r\n3\r\n");
  Reproductor r2(otra);
  ASSERT_TRUE(r2.Cargar());
  for (const auto& [desde, inicio] :
       {std::pair<uint16_t, uint16_t>{30, 5}, {33, 25}, {55, 25}, {13, 5}}) {
    EXPECT_EQ(Recap(r2, desde), inicio) << desde;
  }
}

class Subtitulos : public ISubtitulosAnim {
 public:
  const TListaStrings* DiccionarioActual() const override { return actual.load(); }
  const TListaStrings* DiccionarioUK() const override { return &uk; }
  const TListaStrings* DiccionarioES() const override { return &es; }
  bool CambiarDiccionarioActual(const TListaStrings* antes, const TListaStrings* nuevo) override {
    return actual.compare_exchange_strong(antes, nuevo);
  }
  TListaStrings uk;
  TListaStrings es;
  TListaStrings otra;
  std::atomic<const TListaStrings*> actual{nullptr};
};

TEST_F(AnimPlayerTest, ThreePressesOfSubtitlesReturnToNone) {
  TGestorAnim anim;
  Subtitulos s;
  anim.CambiarSubtitulos();  // no dictionaries given: nothing
  anim.SetSubtitulos(&s);
  anim.CambiarSubtitulos();
  EXPECT_EQ(s.actual.load(), &s.uk);
  anim.CambiarSubtitulos();
  EXPECT_EQ(s.actual.load(), &s.es);
  anim.CambiarSubtitulos();
  EXPECT_EQ(s.actual.load(), nullptr);
  s.actual = &s.otra;  // neither list: left alone
  anim.CambiarSubtitulos();
  EXPECT_EQ(s.actual.load(), &s.otra);
}

TEST_F(AnimPlayerTest, WhatCannotBeDrawnCountsAsZero) {
  Descripcion d = Escena();
  d.fondos.push_back({"PE", 2, {3}});  // background 3 is never loaded
  Score s(20);
  s.pistas[0][0] = 1;
  s.pistas[0][4] = 9;  // no background 9
  s.pistas[0][5] = 3;
  s.pistas[1][2] = 2;
  s.pistas[1][6] = 4;  // cast 2 has 3 sprites
  s.pistas[5][1] = 1;  // cast 6 is not defined
  Preparar(s, d);
  Reproductor r(carpeta_);
  ASSERT_TRUE(r.Cargar());
  r.anim.PlayAnim(8);
  r.Tic();
  // The restore finds frame 0's background and cast 2's sprite 2.
  EXPECT_EQ(r.anim.UltimoFondoDibujado(), 1);
  EXPECT_EQ(r.anim.UltimoSpriteDibujado(2), 2);
  EXPECT_EQ(r.Pixel(15, 25), Celda(1));
  EXPECT_EQ(r.anim.UltimoSpriteDibujado(6), 0);

  r.anim.PlayAnim(4);
  for (int i = 0; i < 12; ++i) r.Tic();  // frames 4, 5, 6
  EXPECT_EQ(r.anim.FrameActual(), 7);
  EXPECT_EQ(r.anim.UltimoFondoDibujado(), 1);  // from the restore; 9 and 3 are never drawn
  EXPECT_EQ(r.anim.UltimoSpriteDibujado(2), 2);
}

TEST_F(AnimPlayerTest, APictureOfTheWrongSizeOrUnreadableLeavesItsEntriesEmpty) {
  Score s(5);
  s.pistas[0][0] = 1;
  s.pistas[1][0] = 1;
  s.pistas[2][0] = 1;
  Preparar(s);
  carpeta_.Imagen("FONDO1.PNG", 549, 412);
  carpeta_.Imagen("CAST1_02_03.PNG", 30, 40, 2);  // a strip of two, not three
  carpeta_.Escribir("CAST1_03_02.PNG", "not a picture");
  Reproductor r(carpeta_);
  ASSERT_TRUE(r.Cargar());
  // Entries: background 1, cast 2's three sprites, cast 3's two, background 2.
  ASSERT_EQ(TGestorAnimTestAccess::NumImagenes(r.anim), 1 + 1 + 3 + 2 + 1);
  for (uint16_t i = 1; i <= 6; ++i) {
    const ImagenAnim& imagen = TGestorAnimTestAccess::Imagen(r.anim, i);
    EXPECT_EQ(imagen.cargado.load(), 1) << i;
    EXPECT_EQ(imagen.bitmap, nullptr) << i;  // never the placeholder
  }
  EXPECT_NE(TGestorAnimTestAccess::Imagen(r.anim, 7).bitmap, nullptr);
  r.anim.PlayAnim(0);
  r.Tic();
  EXPECT_EQ(r.anim.UltimoFondoDibujado(), 1);  // an empty entry counts as drawn
  EXPECT_EQ(r.anim.UltimoSpriteDibujado(2), 1);
  for (auto [x, y] : {std::pair{300, 300}, {10, 20}, {12, 22}, {100, 120}}) {
    EXPECT_EQ(r.Pixel(x, y), 0u) << x << "," << y;  // black, as the area started
  }
  EXPECT_EQ(r.ventana.PresentLog().size(), 1u);
}

TEST_F(AnimPlayerTest, PintarFondoDrawsTheBackgroundInForce) {
  Score s(10);
  s.pistas[0][0] = 1;
  s.pistas[0][5] = 2;
  Preparar(s);
  Reproductor r(carpeta_);
  const uint16_t pagina = r.gdi.CrearBuffer(687, 534, 0, 0, &r.ventana);
  r.anim.PintarFondo(pagina, 65, 13);  // not loaded: nothing
  EXPECT_EQ(r.gdi.Superficie(pagina).GetPixel(100, 100), 0u);
  ASSERT_TRUE(r.Cargar());
  r.anim.PintarFondo(pagina, 65, 13);
  EXPECT_EQ(r.gdi.Superficie(pagina).GetPixel(64, 12), 0u);
  EXPECT_EQ(r.gdi.Superficie(pagina).GetPixel(65, 13), kFondo1);
  EXPECT_EQ(r.gdi.Superficie(pagina).GetPixel(614, 424), kFondo1);
  EXPECT_EQ(r.gdi.Superficie(pagina).GetPixel(615, 425), 0u);
  r.anim.PlayAnim(7);
  r.anim.PintarFondo(pagina, 65, 13);
  EXPECT_EQ(r.gdi.Superficie(pagina).GetPixel(65, 13), kFondo2);
  r.gdi.FreeBuffer(pagina);
}

TEST_F(AnimPlayerTest, RefusedAnimationsNeverLoadAndASecondLoadIsRefused) {
  Score s(10);
  Preparar(s);
  {
    Reproductor r(carpeta_);
    ASSERT_TRUE(r.Cargar());
    EXPECT_EQ(r.anim.CargarAnim("U:\\ANIM"), -1);  // changes nothing
    EXPECT_TRUE(r.anim.Cargada());
    EXPECT_EQ(r.anim.NumFrames(), 10);
  }
  carpeta_.Borrar("SCORE.VM");
  {
    Reproductor r(carpeta_);
    ASSERT_TRUE(r.anim.Iniciar());
    EXPECT_EQ(r.anim.CargarAnim("U:\\ANIM"), -1);
    EXPECT_EQ(r.anim.Error().score, ErrorAnim::kScoreNoAbre);
    EXPECT_FALSE(r.anim.EsperarCarga(60000));  // at once
    EXPECT_TRUE(r.mensajes.Cajas().empty());
  }
  carpeta_.Borrar("DEFANIM.TXT");
  {
    Reproductor r(carpeta_);
    ASSERT_TRUE(r.anim.Iniciar());
    EXPECT_EQ(r.anim.CargarAnim("U:\\ANIM"), -1);
    EXPECT_FALSE(r.anim.EsperarCarga(60000));
    EXPECT_EQ(r.mensajes.Cajas(),
              std::vector<std::string>{"No se ha podido abrir el fichero DEFANIM.TXT"});
    EXPECT_TRUE(r.mensajes.Salidas().empty());
    r.anim.PlayAnim(0);
    r.Tic();
    EXPECT_TRUE(r.audio.Llamadas().empty());
  }
}

}  // namespace
