// The drawing pass's page features: sound regions and their pieces, the
// treated background, buttons, the animation panel, speaking answers,
// images, gaps and boxes, page requests, the status icon and the
// animation bar.
#include <string>

#include "base/TListaStrings.h"
#include "tests/player/tae_page_fixture.h"

namespace tae_test {
namespace {

using Lista = std::vector<Caja>;

class Dibujo : public PageFixture {};

TEST_F(Dibujo, ASoundOpeningAParagraphIsOneRegionOverItsText) {
  Pagina("<SONIDO:1,5,S00005>Hello<SONIDO:1,0>");
  ASSERT_EQ(Cajas(), (Lista{{1, 0, 1, 40, 15}}));
  const RECT_VIRTUAL& rv = *Primera(kRegionFrase);
  EXPECT_EQ(rv.enlace, -1);
  EXPECT_EQ(rv.id, 5);
  EXPECT_STREQ(rv.cola, "S00005");
  EXPECT_EQ(PalabraTipo(rv), 257);
}

TEST_F(Dibujo, AWrappedSoundIsLinkedPiecesAndOnePieceKindsStayOne) {
  formateador_ = Formateador(400);  // 50 characters a line
  Preparar(*formateador_);
  Pagina("<SONIDO:1,2,S2>" + std::string(150, 'a') + "<SONIDO:1,0>");
  ASSERT_EQ(Cajas(), (Lista{{1, 0, 1, 400, 15}, {1, 0, 21, 400, 35}, {1, 0, 41, 400, 55}}));
  EXPECT_EQ(regiones_.Region(1)->enlace, 2);
  EXPECT_EQ(regiones_.Region(2)->enlace, 3);
  EXPECT_EQ(regiones_.Region(3)->enlace, 0);
  EXPECT_STREQ(regiones_.Region(3)->cola, "S2");

  // Type 2 keeps one piece; wrapped, it reaches the area's edge.
  Pagina(std::string(40, 'x') + "<SONIDO:2,2,S2>" + std::string(20, 'a') + "<SONIDO:2,0>");
  EXPECT_EQ(Cajas(), (Lista{{12, 320, 1, 400, 35}}));
}

TEST_F(Dibujo, AComparedSoundIsOnTheTreatedBackgroundAndWhatFollowsIsNot) {
  Cargar("<SONIDO:1,1,S1>ab<SONIDO:1,0>cd");
  formateador_->Sonido(1)->comparaciones = 1;
  const platform::gfx::Surface s = Pintar(0);
  EXPECT_EQ(s.GetPixel(7, 2), 0xBFDFDFu);  // the space right of a glyph, inside the run
  EXPECT_EQ(s.GetPixel(23, 2), kBlanco);   // after the closing tag
  EXPECT_EQ(formateador_->itae()->estilo.color_fondo, kBlanco);
}

TEST_F(Dibujo, NumbersWithoutARecordAndUnknownTypesStayText) {
  // Sound 9 and exercise 4 are past the records of a document that never
  // opened them (a closing counts no number).
  Pagina("<SONIDO:1,0><EJESCRITO:0><HUECO:0>ok");
  EXPECT_TRUE(Cajas().empty());
  EXPECT_EQ(formateador_->Auditoria()->sonido_mayor, 0);

  const platform::gfx::Surface s = Pagina("<SONIDO:4,1,S1>x");
  EXPECT_EQ(mensajes_.Cuenta("Error Tipo de sonido desconocido"), 1);
  EXPECT_TRUE(Cajas().empty());
  EXPECT_TRUE(Tinta(s, 0, 0, 8, 16));  // "4,1,S1>x" is drawn
}

TEST_F(Dibujo, AnUnknownButtonIsReportedAndItsParametersDrawnAfterAGap) {
  const platform::gfx::Surface s = Pagina("<BOTON:4,10,20>");
  EXPECT_EQ(mensajes_.Cuenta("Error Tipo de boton desconocido."), 1);
  EXPECT_TRUE(Cajas().empty());
  EXPECT_FALSE(Tinta(s, 0, 0, 255, 20));
  EXPECT_TRUE(Tinta(s, 255, 0, 8, 20));
  Pagina("<BOTON:5,1,1><BOTON:6,1,1><BOTON:8,1,1,3>");
  EXPECT_EQ(mensajes_.Cuenta("AE boton speak comparar no implementado."), 1);
  EXPECT_EQ(mensajes_.Cuenta("AE boton speak answer no implementado."), 1);
  EXPECT_TRUE(Cajas().empty());  // a difficulty level 3 draws and registers nothing
}

TEST_F(Dibujo, ButtonsRegisterTheirImagesAndTheRolePlayButtonsTheirState) {
  Imagen("COMUN\\BTNSOLN", 30, 18, 0x0000FF);
  Imagen("COMUN\\BTNRECN", 20, 20, 0x00FF00);
  Imagen("COMUN\\BTNSTOPD", 20, 20, 0x00FF00);
  Imagen("COMUN\\BTNPLAYN", 20, 20, 0x00FF00);
  Imagen("COMUN\\BTNDIF2N", 40, 10, 0xFF00FF);
  const platform::gfx::Surface s = Pagina("<BOTON:1,100,200><BOTON:3,2,300,50><BOTON:8,5,6,2>");
  EXPECT_EQ(Cajas(), (Lista{{3, 100, 200, 130, 218},
                            {6, 301, 50, 321, 70},
                            {7, 323, 50, 343, 70},
                            {5, 345, 50, 365, 70},
                            {14, 5, 6, 45, 16}}));
  EXPECT_EQ(Primera(kRegionRolePlayStop)->id, 2);
  EXPECT_EQ(Primera(kRegionDificultad)->id, 2);
  EXPECT_EQ(tae_.ConEjEscrito()->boton_solucion, Primera(kRegionSolucion));
  EXPECT_EQ(tae_.ConEjEscrito()->boton_dificultad2, Primera(kRegionDificultad));
  EXPECT_EQ(s.GetPixel(110, 210), 0x0000FFu);
  EXPECT_TRUE(mensajes_.Textos().empty());
}

TEST_F(Dibujo, TheAnimationPanelFillsThePageAndRegistersItsSixZones) {
  Imagen("COMUN\\FONCONAN", 40, 20, 0x123456);
  anim_.cargada = true;
  const platform::gfx::Surface s = Pagina("<BOTON:2>");
  EXPECT_EQ(s.GetPixel(5, 5), 0x666666u);
  EXPECT_EQ(s.GetPixel(686, 100), 0x525252u);
  EXPECT_EQ(s.GetPixel(685, 100), 0x666666u);
  EXPECT_EQ(Cajas(), (Lista{{15, 69, 506, 109, 526},
                            {16, 135, 506, 175, 526},
                            {17, 157, 506, 197, 526},
                            {18, 191, 505, 611, 520},
                            {19, 65, 65, 340, 477},
                            {20, 341, 65, 615, 477}}));
  EXPECT_EQ(anim_.log, (std::vector<std::string>{"PintarFondo 65,13"}));
}

TEST_F(Dibujo, ASpeakingAnswerIsHiddenRecordedAndNamed) {
  Imagen("COMUN\\BTNSOLN", 30, 18, 0x0000FF);
  const platform::gfx::Surface s =
      Pagina(std::string(12, 'x') + "<ASPEAK:7,ANSWERNAMETOOLONG>secret<ASPEAK:0> end");
  const RECT_VIRTUAL* rv = Primera(kRegionRespuestaSpeak);
  ASSERT_NE(rv, nullptr);
  EXPECT_EQ(Caja({rv->tipo, rv->left, rv->top, rv->right, rv->bottom}),
            (Caja{9, 96 - 77, 1, 96 - 77 + 30, 19}));
  EXPECT_STREQ(rv->cola, "secret");
  EXPECT_EQ(std::string(tae_.ConSpeak()->nombres[7]), "ANSWERNAMETOOL");  // 14 characters
  EXPECT_FALSE(Tinta(s, 96, 0, 48, 16));  // the answer's six characters are not drawn
  EXPECT_TRUE(Tinta(s, 148, 0, 24, 16));  // " end" is
  // Numbers past the name table keep no name.
  Pagina("<ASPEAK:100,NAME>t<ASPEAK:0>");
  EXPECT_STREQ(Primera(kRegionRespuestaSpeak)->cola, "t");
}

TEST_F(Dibujo, RolePlayLinesAndSpeakingSpotsAreRegionsFromThePen) {
  tae_.ConRolPlay()->ancho_linea = 40;
  Pagina("ab<ROLPLAY:3>c<FSPEAK:2>");
  EXPECT_EQ(Cajas(), (Lista{{8, 16, 1, 56, 15}, {10, 24, 1, 34, 10}}));
  EXPECT_EQ(Primera(kRegionLineaRolePlay)->id, 3);
}

TEST_F(Dibujo, AMissingImageIsReportedOnceAndDrawnAsThePlaceholder) {
  Pagina("<BITMAPF:NOPE,0,10,10><BOTON:1,100,100>");
  EXPECT_EQ(mensajes_.Cuenta("U:\\CLASES\\NOPE.PNG"), 1);
  EXPECT_EQ(mensajes_.Cuenta("U:\\SKIN\\COMUN\\BTNSOLN.PNG"), 1);
  EXPECT_EQ(Cajas(), (Lista{{3, 100, 100, 130, 130}}));
  Pintar(0);
  EXPECT_EQ(mensajes_.Textos().size(), 2u);
  // A picture whose path passes 199 bytes is missing too.
  Pagina("<BITMAPF:" + std::string(190, 'P') + ",0,0,0>");
  EXPECT_EQ(mensajes_.Textos().size(), 3u);
  Imagen("FOTO", 3, 2, 0x00FF00, "CLASES");
  EXPECT_EQ(Pagina("<BITMAPF:FOTO,0,-1,5>").GetPixel(1, 5), 0x00FF00u);
}

TEST_F(Dibujo, AGapIsUnderlinedAndADictationGapIsARowOfBoxes) {
  Cargar("<EJESCRITO:1,1,A>ab<HUECO:1>cde<HUECO:0><EJESCRITO:0>");
  const platform::gfx::Surface s = Pintar(0);
  const RECT_VIRTUAL* gap = Primera(kRegionHueco);
  ASSERT_NE(gap, nullptr);
  EXPECT_EQ(Caja({gap->tipo, gap->left, gap->top, gap->right, gap->bottom}),
            (Caja{11, 16, 1, 40, 15}));
  for (int x = 16; x <= 40; ++x) EXPECT_EQ(s.GetPixel(x, 16), 0x7F0000u) << x;
  EXPECT_EQ(s.GetPixel(41, 16), kBlanco);
  EXPECT_FALSE(Tinta(s, 17, 0, 22, 15));  // the solution is hidden
}

TEST_F(Dibujo, BoxRowsFollowTheirWidth) {
  Imagen("COMUN\\BOXDIMN", 24, 4, 0x0000FF);
  Imagen("COMUN\\BOXDIFN", 24, 4, 0x00FF00);
  Imagen("COMUN\\BTNPLDIN", 1, 1, 0xFFFFFF);
  // Gaps of 17 and 33 pixels: w 24 (no full box) and w 40 (one, shift 8).
  fuentes_->SetAdvance(U'w', 17);
  fuentes_->SetAdvance(U'W', 33);
  const platform::gfx::Surface a = Pagina("<EJESCRITO:3,1,A>    <HUECO:1>w<HUECO:0><EJESCRITO:0>");
  const RECT_VIRTUAL* g = Primera(kRegionHueco);
  EXPECT_EQ(a.GetPixel(g->left - 3, g->top), 0x00FF00u);  // BOXDIFN alone
  EXPECT_EQ(a.GetPixel(g->left - 3 + 23, g->top), 0x00FF00u);
  EXPECT_EQ(a.GetPixel(g->left - 3 + 24, g->top), kBlanco);
  const platform::gfx::Surface b = Pagina("<EJESCRITO:3,1,A>    <HUECO:1>W<HUECO:0><EJESCRITO:0>");
  g = Primera(kRegionHueco);
  EXPECT_EQ(b.GetPixel(g->left - 3, g->top), 0x0000FFu);       // one BOXDIMN
  EXPECT_EQ(b.GetPixel(g->left - 3 + 16, g->top), 0x00FF00u);  // BOXDIFN at 24 - 8
  EXPECT_EQ(b.GetPixel(g->left - 3 + 16 + 24, g->top), kBlanco);
}

TEST_F(Dibujo, PageRequestsRefuseWhatIsNotThereAndStopWhatPlays) {
  Pagina("one<SALTOPAG:>two<SALTOPAG:>three");
  formateador_->SetPaginaActual(2);
  EXPECT_EQ(formateador_->PaginaAdelante(), 1);
  EXPECT_EQ(formateador_->SaltarPagina(3), 1);
  EXPECT_EQ(formateador_->SaltarPagina(256 + 3), 1);  // taken as a byte
  EXPECT_TRUE(audio_.log.empty());
  EXPECT_TRUE(anim_.log.empty());
  EXPECT_EQ(formateador_->PaginaActual(), 2);

  tae_.ConRolPlay()->modo = 2;
  EXPECT_EQ(formateador_->PaginaAtras(), 0);
  EXPECT_EQ(formateador_->PaginaActual(), 1);
  EXPECT_EQ(audio_.log, (std::vector<std::string>{"StopAudio"}));
  EXPECT_EQ(anim_.log, (std::vector<std::string>{"CloseAnim"}));
  EXPECT_EQ(tae_.ConRolPlay()->modo, 0);
  EXPECT_EQ(tae_.ConRolPlay()->terminado, 1);
  EXPECT_EQ(formateador_->SaltarPagina(256), 0);  // page 0
  EXPECT_EQ(formateador_->PaginaActual(), 0);
  formateador_->SetPaginaActual(0);
  EXPECT_EQ(formateador_->PaginaAtras(), 1);
}

TEST_F(Dibujo, TheStatusIconRestoresWhatItCovered) {
  Imagen("COMUN\\GGRA04", 20, 20, 0x0000FF);
  Pagina("<COLORF:AZUL>" + std::string(40, 'x'));
  const platform::gfx::Surface antes = Superficie();
  formateador_->SeleccionarIcono(1);
  formateador_->PosicionarIcono(10, 0);
  formateador_->MostrarIcono(0);  // not shown: nothing
  EXPECT_EQ(Superficie().Pixels(), antes.Pixels());
  formateador_->MostrarIcono(1);
  formateador_->PosicionarIcono(100, 0);
  formateador_->MostrarIcono(1);  // shown twice: the first place comes back
  EXPECT_EQ(Superficie().GetPixel(12, 2), antes.GetPixel(12, 2));
  EXPECT_EQ(Superficie().GetPixel(102, 2), 0x0000FFu);
  formateador_->MostrarIcono(0);
  EXPECT_EQ(Superficie().Pixels(), antes.Pixels());

  // A page drawn under the icon is the new page: hiding leaves it.
  formateador_->MostrarIcono(1);
  Cargar("plain");
  const platform::gfx::Surface nueva = Pintar(0);
  formateador_->MostrarIcono(0);
  EXPECT_EQ(Superficie().Pixels(), nueva.Pixels());
}

TEST_F(Dibujo, TheAnimationBarPlacesItsThumbAndWritesTheSubtitle) {
  Imagen("COMUN\\FONTHUMB", 425, 16, 0xCCCCCC);
  Imagen("COMUN\\PUNTAN", 3, 9, 0x0000FF);
  Pagina("<BOTON:2>");
  int frames = 0;
  formateador_->SetHookFrameMostrado([&] { ++frames; });
  anim_.audio = 50;
  anim_.imagenes = 100;
  anim_.secciones = std::vector<uint16_t>(201, 0);
  anim_.secciones[100] = 2;
  TListaStrings lista;
  lista.Add("title");
  lista.Add("one");
  lista.Add("two");
  tae_.SetDiccionarioActual(&lista);
  formateador_->PintarBarraAnim(100, 200);
  tae_.SetDiccionarioActual(nullptr);
  const platform::gfx::Surface s = Superficie();
  EXPECT_EQ(frames, 1);
  EXPECT_EQ(s.GetPixel(397, 508), 0x0000FFu);
  EXPECT_EQ(s.GetPixel(396, 508), 0xCCCCCCu);
  EXPECT_EQ(s.GetPixel(192 + 208, 512), 0u);  // half the audio bar
  EXPECT_EQ(s.GetPixel(192 + 210, 512), 0xCCCCCCu);
  EXPECT_EQ(s.GetPixel(192 + 417, 513), 0u);         // the whole picture bar
  EXPECT_TRUE(Tinta(s, 66, 432, 24, 20, 0x666666));  // "two"

  // Without frames there is no bar.
  const platform::gfx::Surface antes = Superficie();
  formateador_->PintarBarraAnim(0, 0);
  EXPECT_EQ(frames, 1);
  EXPECT_EQ(Superficie().Pixels(), antes.Pixels());
}

}  // namespace
}  // namespace tae_test
