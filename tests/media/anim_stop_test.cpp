// The animation loader asked to stop by a closing session: the wait on it
// ends, and nothing more is read.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "tests/media/anim_fixture.h"

namespace {

using anim_test::CarpetaAnim;
using anim_test::Reproductor;
using anim_test::UnFondo;

TEST(AnimLoaderStop, AStopEndsTheWaitOnALoaderThatWouldWaitForTheAnimation) {
  CarpetaAnim carpeta;
  UnFondo(carpeta);
  Reproductor r(carpeta);
  r.TocarDesdeElPrimerPaso();
  ASSERT_TRUE(r.anim.Iniciar());
  ASSERT_EQ(r.anim.CargarAnim("U:\\ANIM"), 0);
  EXPECT_FALSE(r.anim.EsperarCarga(450));
  r.anim.PedirParadaCarga();
  // Bounded far above the loader's 200 ms waits: the stop woke it.
  const auto antes = std::chrono::steady_clock::now();
  r.anim.EsperarCarga(20000);
  EXPECT_LT(std::chrono::steady_clock::now() - antes, std::chrono::seconds(10));
  // The loader ended (its load counts as over, whatever it met) and read
  // no second picture.
  EXPECT_TRUE(r.anim.Cargada());
  EXPECT_EQ(TGestorAnimTestAccess::NumImagenes(r.anim), 1);
}

TEST(AnimLoaderStop, AStopBeforeAnyLoadMakesTheLoadEndAtOnce) {
  CarpetaAnim carpeta;
  UnFondo(carpeta);
  Reproductor r(carpeta);
  r.anim.PedirParadaCarga();  // no loader yet: nothing
  ASSERT_TRUE(r.anim.Iniciar());
  r.anim.PedirParadaCarga();  // a loader never started skips its body
  r.anim.CargarAnim("U:\\ANIM");
  const auto antes = std::chrono::steady_clock::now();
  r.anim.EsperarCarga(20000);
  EXPECT_LT(std::chrono::steady_clock::now() - antes, std::chrono::seconds(10));
}

}  // namespace
