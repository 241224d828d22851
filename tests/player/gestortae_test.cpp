// The lesson manager: its style list, contexts, keys, study time, current
// formatter and dictionaries; and two formatters working at once.
#include <atomic>
#include <filesystem>
#include <thread>

#include "base/TListaStrings.h"
#include "platform/Clock.h"
#include "tests/player/tae_fixture.h"

namespace tae_test {
namespace {

using Gestor = TaeFixture;
using V = std::vector<std::string>;

TEST_F(Gestor, StylesAreFoundByTheirBytesAndTheDefaultIsIndexZero) {
  ESTILO_TAE estilo = tae_.EstiloPorDefecto();
  EXPECT_EQ(tae_.RegistrarEstilo(estilo), 0);
  estilo.espaciado = 1;
  EXPECT_EQ(tae_.RegistrarEstilo(estilo), 1);
  EXPECT_EQ(tae_.RegistrarEstilo(estilo), 1);
  EXPECT_EQ(tae_.NumEstilos(), 2);
  EXPECT_EQ(tae_.Estilo(1).espaciado, 1);
  EXPECT_EQ(tae_.Estilo(7).espaciado, 0);  // outside the list: the default

  // A face name set over a longer one leaves no bytes of it behind.
  ESTILO_TAE cara = tae_.EstiloPorDefecto();
  PonerFuente(cara, "MS Song", 1);
  PonerFuente(cara, "Arial", 0);
  EXPECT_EQ(tae_.RegistrarEstilo(cara), 0);
  Cargar("<FONT:CHINO>xx<FONT:INTER><SALTOPAG:>y");
  ASSERT_EQ(formateador_->NumPaginas(), 2);
  EXPECT_EQ(formateador_->Pagina(1)->estilo, 0);

  const ESTILO_TAE d = tae_.EstiloPorDefecto();
  EXPECT_EQ(d.fuente.lfHeight, -15);
  EXPECT_EQ(d.fuente.lfWeight, 400);
  EXPECT_EQ(d.fuente.lfQuality, 2);
  EXPECT_STREQ(d.fuente.lfFaceName, "Arial");
  EXPECT_EQ(d.color_fondo, 0xFFFFFFu);
  EXPECT_EQ(d.sangria_primera, 30);
  EXPECT_EQ(d.tabuladores[0], 60);
  EXPECT_EQ(d.tabuladores[14], 480);
  EXPECT_EQ(d.interlinea, 20);
}

TEST_F(Gestor, TheStyleListHolds100AndReportsThe101stOnce) {
  ESTILO_TAE estilo = tae_.EstiloPorDefecto();
  for (int i = 1; i < 100; ++i) {
    estilo.espaciado = static_cast<int8_t>(i);
    ASSERT_EQ(tae_.RegistrarEstilo(estilo), i);
  }
  EXPECT_TRUE(mensajes_.Textos().empty());
  estilo.espaciado = -1;
  EXPECT_EQ(tae_.RegistrarEstilo(estilo), 0);
  estilo.espaciado = -2;
  EXPECT_EQ(tae_.RegistrarEstilo(estilo), 0);
  EXPECT_EQ(mensajes_.Textos(), (V{"Error excedido el numero maximo de estilos TAE."}));
  EXPECT_EQ(tae_.NumEstilos(), 100);
  estilo.espaciado = 99;
  EXPECT_EQ(tae_.RegistrarEstilo(estilo), 99);  // existing ones are still found
}

TEST_F(Gestor, ContextsStartZeroedWithTheirFirstValues) {
  const CON_ROLPLAY& r = *tae_.ConRolPlay();
  EXPECT_EQ(r.terminado, 1);
  EXPECT_EQ(r.modo + r.personaje + r.linea_actual + r.posicion + r.microfono_visible, 0);
  for (const auto& fila : r.filas) {
    EXPECT_EQ(fila[0], 255);
    EXPECT_EQ(fila[1], 0);
  }
  EXPECT_EQ(r.lineas[59].grabada, 0);
  const CON_EJESCRITO& e = *tae_.ConEjEscrito();
  EXPECT_EQ(e.nivel, 1);
  EXPECT_EQ(e.ejercicio_actual + e.num_entradas + e.solucion_visible, 0);
  EXPECT_EQ(e.hueco, nullptr);
  EXPECT_NE(e.bufejescpant, nullptr);
  EXPECT_NE(e.tabtamchar, nullptr);
  EXPECT_EQ(tae_.ConSpeak()->respuesta_visible, 0);
  EXPECT_NE(tae_.ConSpeak()->tabtamchar, nullptr);
  EXPECT_NE(tae_.GetGestorBMP(), nullptr);
  EXPECT_NE(tae_.GetAudio(), nullptr);
  EXPECT_NE(tae_.GetGestorAudio(), nullptr);
  EXPECT_EQ(tae_.DiccionarioActual(), nullptr);
}

int g_peticiones = 0;
void* MallocQueFallaLaEnesima(size_t size) {
  return --g_peticiones == 0 ? nullptr : std::malloc(size);
}

TEST_F(Gestor, EachAllocationOfTheStartReportsItsOwnText) {
  const V textos = {
      "Error en 'malloc' para 'bufcformatae'.", "Error en 'malloc' para 'conejescrito'.",
      "Error en 'malloc' para 'bufejescpant'.", "Error en 'malloc' para 'tabtamchar'.",
      "Error en 'malloc' para 'conrolplay'.",   "Error en 'malloc' para 'conspeak'.",
      "Error en 'malloc' para 'tabtamchar'."};
  for (int n = 1; n <= 7; ++n) {
    SCOPED_TRACE(n);
    mensajes_.Limpiar();
    TGestorTAE tae;
    tae.SetOSAL(&osal_);
    tae.SetGestorGDI(&gdi_);
    tae.SetEHDDClient(&client_);
    g_peticiones = n;
    SetOSALMallocForTesting(&MallocQueFallaLaEnesima);
    tae.Iniciar();
    SetOSALMallocForTesting(nullptr);
    ASSERT_EQ(mensajes_.Textos().size(), 2u);
    EXPECT_EQ(mensajes_.Textos()[1], textos[n - 1]);
    if (n == 1) {
      ESTILO_TAE otro = tae.EstiloPorDefecto();
      otro.espaciado = 3;
      EXPECT_EQ(tae.RegistrarEstilo(otro), 0);  // no list: everything is the default
    }
  }
}

TEST_F(Gestor, KeysBecomeTheCodesOfTheExerciseKeys) {
  EXPECT_EQ(tae_.CodigoTecla(9), 0);  // Tab
  EXPECT_EQ(tae_.CodigoTecla(8), 8);
  EXPECT_EQ(tae_.CodigoTecla(13), 13);
  EXPECT_EQ(tae_.CodigoTecla(27), 27);
  EXPECT_EQ(tae_.CodigoTecla(37), 300);
  EXPECT_EQ(tae_.CodigoTecla(39), 301);
  EXPECT_EQ(tae_.CodigoTecla(46), 302);
  EXPECT_EQ(tae_.CodigoTecla(38), 303);
  EXPECT_EQ(tae_.CodigoTecla(40), 304);
  for (uint16_t nada : {0, 16, 17, 18, 20})
    EXPECT_EQ(tae_.CodigoTecla(nada), TGestorTAE::kSinCodigo);
  EXPECT_EQ(tae_.CodigoTecla(112), 0);  // F1: no character

  ventana_.SetKeyChar(u'*');
  EXPECT_EQ(tae_.CodigoTecla(0xBA), TGestorTAE::kSinCodigo);
  ventana_.SetKeyChar(u'}');
  EXPECT_EQ(tae_.CodigoTecla(0xBA), TGestorTAE::kSinCodigo);
  ventana_.SetKeyChar(u'a');
  EXPECT_EQ(tae_.CodigoTecla('A'), 'a');
  // The character is a byte of the exercise font's code page, widened with its sign.
  ventana_.SetKeyChar(u'\u00E9');
  EXPECT_EQ(tae_.CodigoTecla(0xBA), 0xFFE9);
  ventana_.SetKeyChar(u'\u0436');
  EXPECT_EQ(tae_.CodigoTecla(0xBA), 0);  // not in the Western page
  tae_.ConEjEscrito()->estilo.fuente.lfCharSet = 204;
  EXPECT_EQ(tae_.CodigoTecla(0xBA), 0xFFE6);
  SetUnitControlWindow(nullptr);
  EXPECT_EQ(tae_.CodigoTecla(0xBA), 0);
}

class Tiempo : public TaeFixture {
 protected:
  void SetUp() override {
    TaeFixture::SetUp();
    osal_.IniciarTicks();
  }
  platform::ManualClock reloj_{5000};
  platform::ScopedClock instalado_{&reloj_};
};

TEST_F(Tiempo, GapsUnder30SecondsAreStudyAndLongerOnesIdle) {
  reloj_.Advance(10000);
  tae_.ActivarTiempo();
  EXPECT_EQ(tae_.TiempoActivo(), 10000u);
  reloj_.Advance(29999);
  tae_.ActivarTiempo();
  EXPECT_EQ(tae_.TiempoActivo(), 39999u);
  reloj_.Advance(30000);
  tae_.ActivarTiempo();
  EXPECT_EQ(tae_.TiempoActivo(), 39999u);
  EXPECT_EQ(tae_.TiempoInactivo(), 30000u);
  uint8_t h = 9, m = 9;
  EXPECT_EQ(tae_.TiempoEstudio(h, m), 1);
  reloj_.Advance(29999);
  EXPECT_EQ(tae_.TiempoEstudio(h, m), 1);
  reloj_.Advance(1);
  EXPECT_EQ(tae_.TiempoEstudio(h, m), 0);

  tae_.SetModoNavegacion(true);
  reloj_.Advance(1000);
  tae_.ActivarTiempo();
  EXPECT_EQ(tae_.TiempoActivo(), 39999u);
  EXPECT_EQ(tae_.TiempoInactivo(), 30000u);
}

TEST_F(Tiempo, StudyTimeReadsInHoursAndMinutesCappedAt99Hours) {
  uint8_t h = 0, m = 0;
  tae_.SetTiempoAlmacenado(5 * 3600000 + 7 * 60000);
  tae_.TiempoEstudio(h, m);
  EXPECT_EQ(h, 5);
  EXPECT_EQ(m, 7);
  tae_.SetTiempoAlmacenado(100u * 3600000);
  tae_.TiempoEstudio(h, m);
  EXPECT_EQ(h, 99);
  EXPECT_EQ(m, 0);
  tae_.SetTiempoAlmacenado(99u * 3600000 + 59 * 60000);
  tae_.TiempoEstudio(h, m);
  EXPECT_EQ(h, 99);
  EXPECT_EQ(m, 59);
  tae_.SetTiempoAlmacenado(0xFFFFFFFFu);  // does not wrap with the active time
  reloj_.Advance(1000);
  tae_.ActivarTiempo();
  tae_.TiempoEstudio(h, m);
  EXPECT_EQ(h, 99);
}

TEST_F(Tiempo, KeysCountAsActionsOnlyWithACurrentFormatterOutsideNavigation) {
  reloj_.Advance(100);
  tae_.TeclaPulsada(16);
  EXPECT_EQ(tae_.TiempoActivo(), 0u);  // no current formatter
  tae_.CambiarFormateador(formateador_.get());
  tae_.TeclaPulsada(16);  // Shift passes nothing but is an action
  EXPECT_EQ(tae_.TiempoActivo(), 100u);
  reloj_.Advance(50);
  tae_.SetModoNavegacion(true);
  tae_.TeclaPulsada('A');
  EXPECT_EQ(tae_.TiempoActivo(), 100u);
}

TEST_F(Gestor, TheCurrentFormatterChangesOnlyToAnotherOne) {
  auto otro = Formateador(664);
  EXPECT_EQ(tae_.FormateadorActual(), nullptr);
  tae_.CambiarFormateador(formateador_.get());
  tae_.CambiarFormateador(formateador_.get());
  EXPECT_EQ(tae_.FormateadorActual(), formateador_.get());
  tae_.CambiarFormateador(otro.get());
  EXPECT_EQ(tae_.FormateadorActual(), otro.get());
  tae_.SoltarFormateador();
  EXPECT_EQ(tae_.FormateadorActual(), nullptr);
  tae_.SoltarFormateador();
}

TEST_F(Gestor, DictionariesLoadBothListsAndMissingFilesLeaveThemEmpty) {
  std::filesystem::create_directories(almacen_.folder() + "/ANIM");
  almacen_.Escribir("ANIM/TRADUC-UK.TXT", "title\r\nHello\r\n");
  tae_.CargarDiccionarios("U:\\ANIM");
  ASSERT_NE(tae_.DiccionarioUK(), nullptr);
  ASSERT_NE(tae_.DiccionarioES(), nullptr);
  EXPECT_EQ(tae_.DiccionarioActual(), tae_.DiccionarioUK());
  EXPECT_EQ(tae_.DiccionarioUK()->Count(), 2);
  EXPECT_STREQ(tae_.DiccionarioUK()->Item(1), "Hello");
  EXPECT_EQ(tae_.DiccionarioES()->Count(), 0);
  EXPECT_TRUE(mensajes_.Textos().empty());
  tae_.SetDiccionarioActual(tae_.DiccionarioES());
  tae_.CargarDiccionarios("U:\\ANIM");  // a reload publishes new lists
  EXPECT_EQ(tae_.DiccionarioActual(), tae_.DiccionarioUK());
}

TEST_F(Gestor, APageDrawSetsTheBusyByteOnlyWhileItRuns) {
  Cargar("text");
  tae_.SetOcupado(0);
  formateador_->PintarPagina(0);
  EXPECT_EQ(tae_.Ocupado(), 0);
}

// One formatter loads documents (registering styles) while another draws
// its pages, as the unit loader and the command worker do.
TEST_F(Gestor, OneFormatterLoadsWhileAnotherDraws) {
  Cargar("<NEGRITA:1>bold<SALTOPAG:><TAMANO:20>big\n" + std::string(300, 'w') + "<SALTOPAG:>end");
  auto cargador = Formateador(664);
  std::atomic<bool> fin{false};
  std::thread pintor([&] {
    while (!fin.load()) {
      for (uint16_t p = 0; p < 3; ++p) formateador_->PintarPagina(p);
    }
  });
  for (int i = 0; i < 30; ++i) {
    const std::string doc = "<TAMANO:" + std::to_string(10 + i) + ">x<SALTOPAG:>y\n" +
                            std::string(200, 'z') + "<SALTOPAG:><CURSIVA:1>w";
    cargador->CargarDocumento(almacen_.Escribir("L" + std::to_string(i) + ".TAE", doc).c_str());
    EXPECT_EQ(cargador->NumPaginas(), 3);
  }
  fin.store(true);
  pintor.join();
  EXPECT_EQ(formateador_->NumPaginas(), 3);
}

}  // namespace
}  // namespace tae_test
