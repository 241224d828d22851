// The hit regions: the table and its bound, the hit test, the pointer
// indices, the long press, the sentence, role-play and animation handlers,
// and the page lock a release waits for.
#include <atomic>
#include <string>
#include <thread>

#include "tests/player/tae_page_fixture.h"

namespace tae_test {
namespace {

using Log = std::vector<std::string>;

class Regiones : public PageFixture {
 protected:
  // A region of the table written by hand.
  uint16_t Poner(uint8_t tipo, int l, int t, int r, int b, uint16_t id = 1,
                 const char* nombre = "") {
    const uint16_t slot = regiones_.NuevoRectangulo();
    RECT_VIRTUAL* rv = regiones_.Region(slot);
    PonerPalabraTipo(*rv, static_cast<uint16_t>(0x100 + tipo));
    rv->left = static_cast<uint16_t>(l);
    rv->top = static_cast<uint16_t>(t);
    rv->right = static_cast<uint16_t>(r);
    rv->bottom = static_cast<uint16_t>(b);
    rv->enlace = -1;
    rv->id = id;
    PonerTextoRegion(*rv, nombre, std::strlen(nombre));
    return slot;
  }
};

TEST_F(Regiones, TheTableHolds99RegionsAndReportsThe100thOncePerPage) {
  for (int i = 1; i <= 99; ++i) ASSERT_EQ(Poner(kRegionFrase, 0, 0, 1, 1), i);
  EXPECT_TRUE(mensajes_.Textos().empty());
  EXPECT_EQ(regiones_.NuevoRectangulo(), 0);
  EXPECT_EQ(regiones_.NuevoRectangulo(), 0);
  EXPECT_EQ(mensajes_.Textos(), (Log{"Error excedido el numero de rectangulos virtuales."}));
  EXPECT_EQ(PalabraTipo(*regiones_.Region(0)), 1);  // slot 0 is never written

  // A page of 100 sounds: the first 99 register, the last is plain text.
  mensajes_.Limpiar();
  std::string texto;
  for (int i = 1; i <= 100; ++i) texto += "<SONIDO:2," + std::to_string(i) + ",S>s<SONIDO:2,0>";
  Pagina(texto);
  EXPECT_EQ(Cajas().size(), 99u);
  EXPECT_EQ(mensajes_.Textos(), (Log{"Error excedido el numero de rectangulos virtuales."}));
  EXPECT_EQ(PalabraTipo(*regiones_.Region(0)), 1);
}

TEST_F(Regiones, FreedSlotsAreTakenAgainAndTheCountShrinksFromTheTop) {
  Poner(1, 0, 0, 10, 10);
  Poner(1, 0, 0, 10, 10);
  Poner(3, 0, 0, 10, 10);
  regiones_.Region(2)->en_uso = 2;  // another owner's region stays
  regiones_.BorrarRectangulos(1);
  EXPECT_EQ(regiones_.Cuenta(), 3);
  EXPECT_EQ(regiones_.NuevoRectangulo(), 1);
  regiones_.Reset();
  EXPECT_EQ(regiones_.Cuenta(), 1);
}

TEST_F(Regiones, EdgesMissAndTheNewestOfOverlappingRegionsWins) {
  Pagina("");
  Poner(kRegionFrase, 10, 10, 50, 50, 1, "A");
  Poner(kRegionFrase, 30, 30, 80, 80, 2, "B");
  Clic(10, 20);  // x = left
  Clic(20, 50);  // y = bottom
  EXPECT_TRUE(audio_.log.empty());
  EXPECT_EQ(ventana_.Cursor(), platform::ui::kCursorArrow);
  Clic(40, 40);
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "StopAudio", "PlayAudio B 1"}));
  EXPECT_EQ(ventana_.Cursor(), platform::ui::kCursorHand);
  EXPECT_EQ(formateador_->itae()->sonando, 2);
}

TEST_F(Regiones, AReleaseOnAnotherRegionRunsNoReleaseAction) {
  Pagina("");
  Poner(kRegionFrase, 10, 10, 50, 50, 1, "A");
  Poner(kRegionFrasePrivada, 60, 10, 90, 50, 2, "B");
  regiones_.EventoRaton(20, 20, 2);
  regiones_.EventoRaton(70, 20, 3);
  EXPECT_EQ(audio_.log, (Log{"StopAudio"}));
  EXPECT_EQ(regiones_.Hover(), 2);
  EXPECT_EQ(regiones_.Pulsado(), 1);
  // The release cleared the press: the timer never sees a long one.
  clock_.Advance(500);
  EXPECT_EQ(regiones_.TiempoPulsado(), 0u);
}

TEST_F(Regiones, AHeldSentenceRecordsAtTheTickAndItsReleaseComparesIt) {
  Cargar("<SONIDO:1,3,NAME>hello<SONIDO:1,0>");
  tae_.CambiarFormateador(formateador_.get());
  Pintar(0);
  audio_.log.clear();
  regiones_.EventoRaton(10, 5, 2);
  EXPECT_EQ(audio_.Estado(), estado_audio::kFraseArmada);
  EXPECT_EQ(audio_.NombreFrase(), "NAME");
  EXPECT_EQ(audio_.IdFrase(), 3);
  clock_.Advance(399);
  EXPECT_EQ(regiones_.TiempoPulsado(), 399u);
  clock_.Advance(1);
  EXPECT_EQ(regiones_.TiempoPulsado(), TRectangulosVirtuales::kMsPulsacionLarga);
  regiones_.ActivarGrabacion();
  EXPECT_TRUE(audio_.Grabando());
  EXPECT_EQ(regiones_.TiempoPulsado(), 0u);
  regiones_.EventoRaton(200, 200, 1);  // moves while recording do nothing
  regiones_.EventoRaton(10, 5, 3);
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "GrabarAudioSTR S:\\NAME.STR", "FinAudio"}));
  // The real manager's end of sound hands the release, still recording, to
  // the sentence's handler.
  audio_.log.clear();
  audio_.SetGrabando(true);
  audio_.SetEstado(estado_audio::kFraseArmada);
  regiones_.TratarCIUFraseAudioNormal(nullptr);
  EXPECT_EQ(audio_.log, (Log{"FinGrabarFraseSTR", "IniciarComparar"}));
  EXPECT_FALSE(audio_.Grabando());
  EXPECT_EQ(formateador_->Sonido(3)->grabaciones, 1);
  formateador_->Sonido(3)->grabaciones = 255;
  audio_.SetGrabando(true);
  audio_.SetEstado(estado_audio::kFraseArmada);
  regiones_.TratarCIUFraseAudioNormal(nullptr);
  EXPECT_EQ(formateador_->Sonido(3)->grabaciones, 255);  // saturates
}

TEST_F(Regiones, AShortPressPlaysAndNamesLeavingTheFolderRecordNothing) {
  Pagina("<SONIDO:1,1,..\\X>a<SONIDO:1,0> <SONIDO:1,2,OK>b<SONIDO:1,0>");
  clock_.Advance(200);
  Clic(4, 5);
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "StopAudio", "PlayAudio ..\\X 1"}));
  audio_.log.clear();
  for (const char* nombre : {"..\\X", "A:B", "A/B", "C\\D"}) {
    audio_.SetEstado(estado_audio::kFraseArmada);
    audio_.SetNombreFrase(nombre);
    regiones_.ActivarGrabacion();
    EXPECT_FALSE(audio_.Grabando()) << nombre;
  }
  audio_.SetNombreFrase("A.B");
  regiones_.ActivarGrabacion();
  EXPECT_TRUE(audio_.Grabando());
}

TEST_F(Regiones, NavigationModeAndTheSpeakingPartPlayOrArmNothing) {
  Pagina("<SONIDO:1,1,N>a<SONIDO:1,0>");
  tae_.SetModoNavegacion(true);
  regiones_.EventoRaton(4, 5, 2);
  EXPECT_EQ(audio_.Estado(), 0);
  EXPECT_EQ(regiones_.TiempoPulsado(), 0u);
  tae_.SetModoNavegacion(false);

  Pagina("<SONIDO:1,1,N>a<SONIDO:1,0>", "DOCPR.TAE");
  EXPECT_EQ(formateador_->Parte(), 7);
  Clic(4, 5);
  EXPECT_EQ(audio_.log, (Log{"StopAudio"}));
}

TEST_F(Regiones, ARightClickComparesOnlyARecordedSentence) {
  Pagina("<SONIDO:3,1,P>a<SONIDO:3,0>");
  regiones_.EventoRaton(4, 5, 4);
  regiones_.EventoRaton(4, 5, 5);
  EXPECT_EQ(audio_.log, (Log{"StopAudio"}));
  formateador_->Sonido(1)->grabaciones = 1;
  regiones_.EventoRaton(4, 5, 4);
  regiones_.EventoRaton(4, 5, 5);
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "StopAudio", "IniciarComparar"}));
  EXPECT_EQ(audio_.TipoFrase(), estado_audio::kTipoFrasePrivada);
  audio_.log.clear();
  Clic(4, 5);  // a private sentence plays from the second folder
  EXPECT_EQ(audio_.log.back(), "PlayAudio P 2");
}

TEST_F(Regiones, ARolePlayStartsAtThePagesFirstLineAndRefusesWhatIsNotThere) {
  CON_ROLPLAY& rp = *tae_.ConRolPlay();
  rp.num_lineas = 4;
  rp.ancho_linea = 30;
  const uint8_t fila[] = {0, 2, 3, 255};
  std::memcpy(rp.filas[1], fila, sizeof fila);
  const std::string botones = "<BOTON:3,2,300,50>";
  Pagina("<ROLPLAY:3>line" + botones);
  RECT_VIRTUAL* grabar = Primera(kRegionRolePlayGrabar);
  Clic(grabar->left + 1, grabar->top + 1);
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "PlayRolePlayGrabar"}));
  EXPECT_EQ(rp.modo, 2);
  EXPECT_EQ(rp.personaje, 1);
  EXPECT_EQ(rp.linea_actual, 2);
  EXPECT_EQ(rp.posicion, 1);
  EXPECT_EQ(rp.terminado, 0);

  // Nothing while it runs; then playback once it is over.
  audio_.log.clear();
  Clic(grabar->left + 1, grabar->top + 1);
  EXPECT_TRUE(audio_.log.empty());
  rp.modo = 0;
  RECT_VIRTUAL* play = Primera(kRegionRolePlayPlay);
  Clic(play->left + 1, play->top + 1);
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "PlayRolePlayAlumno"}));
  EXPECT_EQ(audio_.Estado(), estado_audio::kRolePlayAlumno);

  // No line region, a line past the file's, a character 5 or more: nothing.
  const std::vector<std::string> docs = {botones, "<ROLPLAY:5>x" + botones,
                                         "<ROLPLAY:1>x<BOTON:3,6,300,50>",
                                         "<ROLPLAY:1>x<BOTON:3,0,300,50>"};
  for (const std::string& doc : docs) {
    rp.modo = 0;
    Pagina(doc);
    RECT_VIRTUAL* b = Primera(kRegionRolePlayGrabar);
    Clic(b->left + 1, b->top + 1);
    EXPECT_TRUE(audio_.log.empty()) << doc;
    EXPECT_EQ(rp.modo, 0) << doc;
  }
}

TEST_F(Regiones, AnActionThatRedrawsThePageLeavesThePointerIndicesAtZero) {
  Imagen("COMUN\\BTNDIF1N", 20, 10, 0xFF);
  Pagina("<EJESCRITO:1,1,A>a<HUECO:1>b<HUECO:0><EJESCRITO:0><BOTON:8,300,100,1>");
  Clic(305, 105);
  EXPECT_EQ(regiones_.Hover(), 0);
  EXPECT_EQ(regiones_.Pulsado(), 0);
  EXPECT_EQ(Registro(1).selector, 1);
}

TEST_F(Regiones, TheAnimationButtonsDriveTheAnimationWhenItIsLoaded) {
  Pagina("<BOTON:2>");
  Clic(200, 100);  // recap: nothing while not loaded
  Clic(300, 510);
  EXPECT_TRUE(anim_.log.empty());
  anim_.cargada = true;
  anim_.parada = false;
  anim_.frames = 420;
  anim_.audio = 99;
  Clic(301, 510);  // the dialogue sound is not all there
  EXPECT_TRUE(anim_.log.empty());
  anim_.audio = 100;
  Clic(401, 510);  // (401 - 191) * 420 / 420
  Clic(200, 100);
  Clic(400, 100);
  EXPECT_EQ(anim_.log, (Log{"PlayAnim 210", "RecapAnim", "PauseAnim"}));
  anim_.log.clear();
  Clic(140, 510);  // stop
  anim_.parada = true;
  Clic(160, 510);  // play
  Clic(70, 510);   // subtitles
  EXPECT_EQ(anim_.log, (Log{"CloseAnim", "PlayAnim 0", "CambiarSubtitulos"}));
}

TEST_F(Regiones, ARenderElsewhereDropsMovesButAReleaseWaitsForIt) {
  Pagina("<SONIDO:1,1,N>a<SONIDO:1,0>");
  regiones_.EventoRaton(4, 5, 2);
  audio_.log.clear();
  std::atomic<bool> soltado{false};
  std::thread suelta;
  {
    TGestorTAE::Bloqueo render(&tae_);  // another thread's render holds the page
    std::thread mover([&] { regiones_.EventoRaton(4, 5, 1); });
    mover.join();
    suelta = std::thread([&] {
      regiones_.EventoRaton(4, 5, 3);
      soltado = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(soltado.load());
  }
  suelta.join();
  EXPECT_TRUE(soltado.load());
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "PlayAudio N 1"}));
}

TEST_F(Regiones, ABoxOfARenderIsShownAfterTheLockWhileAReleaseWaits) {
  Pagina("<SONIDO:1,1,N>a<SONIDO:1,0>");
  std::atomic<int> cajas_durante{-1};
  std::thread worker;
  {
    TGestorTAE::Bloqueo render(&tae_);
    worker = std::thread([&] { regiones_.EventoRaton(4, 5, 3); });
    tae_.MostrarError("Error Font desconocido");  // asked for under the lock
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    cajas_durante = static_cast<int>(mensajes_.Textos().size());
  }
  worker.join();
  ASSERT_TRUE(tae_.EsperarMensajes(5000));
  EXPECT_EQ(cajas_durante.load(), 0);
  EXPECT_EQ(mensajes_.Textos(), (Log{"Error Font desconocido"}));
}

TEST_F(Regiones, TheEmptyLastPieceOfAWrappedSoundCatchesNoClick) {
  // "hello" and 78 a fill line 1; the space goes to line 2, whose start
  // skips it: the closing tag opens line 2 and its piece there is empty.
  Pagina("<SONIDO:1,1,S1>hello" + std::string(78, 'a') + " <SONIDO:1,0>tail words here");
  ASSERT_EQ(Cajas(), (std::vector<Caja>{{1, 0, 1, 664, 15}, {1, 0, 21, 0, 35}}));
  Clic(300, 28);  // blank space right of "tail words here"
  Clic(10, 28);   // "tail"
  EXPECT_TRUE(audio_.log.empty());
  Clic(10, 5);  // "hello"
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "StopAudio", "PlayAudio S1 1"}));
  // A one-piece sound that wraps still reaches the area's right edge.
  Pagina(std::string(83, 'x') + " <SONIDO:2,2,S2>ab<SONIDO:2,0>");
  EXPECT_EQ(Cajas(), (std::vector<Caja>{{12, 0, 21, 16, 35}}));
  Pagina(std::string(82, 'x') + " <SONIDO:2,2,S2>" + std::string(3, 'a') + " b<SONIDO:2,0>");
  EXPECT_EQ(Cajas(), (std::vector<Caja>{{12, 660, 1, 664, 35}}));
}

TEST_F(Regiones, ASpeakingAnswerWithoutASoundChangesNothing) {
  Imagen("COMUN\\BTNSOLN", 30, 18, 0x0000FF);
  Pagina(std::string(12, 'x') + "<ASPEAK:100,S100>hundred<ASPEAK:0>\n" + std::string(12, 'x') +
             "<ASPEAK:2>two<ASPEAK:0>\n" + std::string(12, 'x') + "<ASPEAK:1,S1>one<ASPEAK:0>",
         "DOCPR.TAE");
  Clic(30, 5);   // answer 100: past the name table
  Clic(30, 25);  // answer 2: no name
  EXPECT_TRUE(audio_.log.empty());
  EXPECT_EQ(tae_.ConSpeak()->respuesta_visible, 0);
  EXPECT_EQ(formateador_->ftae()->respuestas, 0);
  // No answer was written over the x right of the buttons.
  EXPECT_TRUE(Tinta(Superficie(), 56, 2, 40, 12));
  EXPECT_TRUE(Tinta(Superficie(), 56, 22, 40, 12));
  Clic(30, 45);  // answer 1 still answers
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "PlayAudio S1 1"}));
  EXPECT_EQ(tae_.ConSpeak()->respuesta_visible, 1);
  EXPECT_EQ(formateador_->ftae()->respuestas, 1);
}

// An animation whose background read loses the connection.
class AnimSinConexion : public AnimGrabadora {
 public:
  void PintarFondo(uint16_t, uint16_t, uint16_t) override {
    throw std::string("Error de conexion con el servidor.");
  }
};

TEST_F(Regiones, APageDrawThatThrowsLeavesThePageFreeForTheNextPress) {
  AnimSinConexion sin_conexion;
  sin_conexion.cargada = true;
  tae_.SetAnimPagina(&sin_conexion);
  Cargar("<SONIDO:1,1,N>a<SONIDO:1,0><BOTON:2>");
  tae_.CambiarFormateador(formateador_.get());
  audio_.log.clear();
  EXPECT_THROW(formateador_->PintarPagina(0), std::string);
  EXPECT_EQ(tae_.Ocupado(), 0);
  Clic(4, 5);  // the sound was registered before the panel threw
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "StopAudio", "PlayAudio N 1"}));
  tae_.SetAnimPagina(&anim_);
}

}  // namespace
}  // namespace tae_test
