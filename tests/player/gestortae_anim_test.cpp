// The lesson manager's animation: made with the session, reached by the
// page, its subtitles cycled through the manager's dictionaries, its frames
// followed by the current page's bar.
#include <chrono>
#include <filesystem>

#include "media/TGestorAnim.h"
#include "tests/player/tae_fixture.h"

namespace tae_test {
namespace {

using GestorAnim = TaeFixture;

TEST_F(GestorAnim, ThePageReachesARealAnimationThatIsNotLoadedYet) {
  ASSERT_NE(tae_.GetGestorAnim(), nullptr);
  IAnimPagina& anim = tae_.AnimPagina();
  EXPECT_NE(&anim, &TGestorTAE::SinAnim());
  EXPECT_FALSE(anim.Cargada());
  EXPECT_EQ(anim.NumFrames(), 0);
  EXPECT_EQ(anim.Seccion(5), 0);
  // A folder without a description is refused, and its load is never
  // waited for: the wait returns at once, not after its minute.
  EXPECT_EQ(tae_.GetGestorAnim()->CargarAnim("U:\\ANIM"), -1);
  const auto inicio = std::chrono::steady_clock::now();
  EXPECT_FALSE(tae_.GetGestorAnim()->EsperarCarga(60000));
  EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(10));
}

TEST_F(GestorAnim, TheSubtitleButtonCyclesUkSpanishAndNone) {
  std::filesystem::create_directories(almacen_.folder() + "/ANIM");
  almacen_.Escribir("ANIM/TRADUC-UK.TXT", "title\r\nHello\r\n");
  almacen_.Escribir("ANIM/TRADUC-ES.TXT", "titulo\r\nHola\r\n");
  tae_.CargarDiccionarios("U:\\ANIM");
  ASSERT_EQ(tae_.DiccionarioActual(), tae_.DiccionarioUK());
  IAnimPagina& anim = tae_.AnimPagina();
  anim.CambiarSubtitulos();
  EXPECT_EQ(tae_.DiccionarioActual(), tae_.DiccionarioES());
  anim.CambiarSubtitulos();
  EXPECT_EQ(tae_.DiccionarioActual(), nullptr);
  anim.CambiarSubtitulos();
  EXPECT_EQ(tae_.DiccionarioActual(), tae_.DiccionarioUK());
  // A stale exchange changes nothing.
  EXPECT_FALSE(tae_.CambiarDiccionarioActual(nullptr, tae_.DiccionarioES()));
  EXPECT_EQ(tae_.DiccionarioActual(), tae_.DiccionarioUK());
}

TEST_F(GestorAnim, ReleasingTheFormatterClosesTheAnimationAndItsPageHook) {
  Cargar("text");
  tae_.CambiarFormateador(formateador_.get());
  tae_.SoltarFormateador();
  EXPECT_TRUE(tae_.AnimPagina().Parada());
  EXPECT_EQ(tae_.FormateadorActual(), nullptr);
}

}  // namespace
}  // namespace tae_test
