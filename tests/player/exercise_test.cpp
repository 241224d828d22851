// Written exercises: what a page records of them, the gaps, the caret, the
// keys and the checking of answers, and the case folding it relies on.
#include <cstring>
#include <string>

#include "platform/gfx/CodePage.h"
#include "tests/player/tae_page_fixture.h"

namespace tae_test {
namespace {

using Log = std::vector<std::string>;

constexpr uint16_t kEnter = 13;
constexpr uint16_t kTab = 9;
constexpr uint16_t kBack = 8;
constexpr uint16_t kLeft = 37;
constexpr uint16_t kRight = 39;
constexpr uint16_t kDown = 40;

class Ejercicios : public PageFixture {
 protected:
  // Clicks inside the n-th gap of the page.
  void ClicHueco(int n = 0) {
    const RECT_VIRTUAL* g = Primera(kRegionHueco, n);
    ASSERT_NE(g, nullptr);
    Clic(g->left + 1, g->top + 1);
  }
  std::string Area(uint16_t n, size_t bytes, int nivel = 1) {
    return std::string(nivel == 1 ? Registro(n).area1 : Registro(n).area2, bytes);
  }
  const CON_EJESCRITO& Contexto() { return *tae_.ConEjEscrito(); }
};

TEST_F(Ejercicios, APageEntryRecordsTheTextItsMaskAndTheGaps) {
  const platform::gfx::Surface s =
      Pagina("x <EJESCRITO:1,1,A0001>The <HUECO:1>cat<HUECO:0> sat.<EJESCRITO:0>");
  const EJE_PANTALLA* e = formateador_->Entrada(1);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->texto, "The cat sat.}");
  EXPECT_STREQ(e->mascara, "****---*****}");
  EXPECT_STREQ(e->audio, "A0001");
  EXPECT_EQ(e->x, 12);
  EXPECT_EQ(e->y, 1);
  EXPECT_EQ(e->x_fin, 12 + 88);
  EXPECT_EQ(Registro(1).tipo, 1);
  EXPECT_EQ(Registro(1).area1[13], '\0');
  EXPECT_EQ(Registro(1).area2[13], '\0');
  EXPECT_EQ(Cajas(), (std::vector<Caja>{{2, 12, 1, 100, 15}, {11, 40, 1, 64, 15}}));
  const ColaHueco c = LeerColaHueco(*Primera(kRegionHueco));
  EXPECT_EQ(c.entrada, 1);
  EXPECT_EQ(c.inicio, 4);
  EXPECT_EQ(c.longitud, 3);
  EXPECT_EQ(c.ancho, 24);
  EXPECT_FALSE(Tinta(s, 41, 0, 22, 15));  // the solution is hidden
  EXPECT_TRUE(Tinta(s, 68, 0, 8, 15));    // "sat." is drawn
}

TEST_F(Ejercicios, AWrongAnswerCountsAnErrorAndPutsTheCaretAtItsFirstWrongCharacter) {
  Pagina("<EJESCRITO:2,1,A>The <HUECO:1>cat<HUECO:0>.<EJESCRITO:0>");
  ClicHueco();
  EXPECT_TRUE(ventana_.Caret().Visible());
  EXPECT_EQ(ventana_.Caret().x, 28);  // the caret stays where it was placed
  Escribir(u"cxt");
  EXPECT_EQ(Area(1, 7), "****cxt");
  audio_.log.clear();
  Tecla(kEnter);
  EXPECT_EQ(Registro(1).resultado1, 1);
  EXPECT_EQ(formateador_->ftae()->errores, 1);
  EXPECT_EQ(Contexto().indice_caret, 1);
  EXPECT_EQ(ventana_.Caret().x, 28 + 8);
  EXPECT_TRUE(ventana_.Caret().Visible());
  EXPECT_TRUE(audio_.log.empty());  // not a dictation: nothing plays

  // Right: the page shows it, the sentence plays from the native folder.
  Tecla(46);
  Escribir(u"a");
  Tecla(kEnter);
  EXPECT_EQ(Registro(1).resultado1, 2);
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "PlayAudio A 1"}));
  EXPECT_EQ(audio_.Estado(), estado_audio::kEjercicio);
  EXPECT_EQ(formateador_->itae()->sonando, 1);
  EXPECT_EQ(Primera(kRegionHueco), nullptr);  // a right gap is text again
}

TEST_F(Ejercicios, AtLevel2CaseCommaSpacesAndStopAreAlignedToTheSolution) {
  Cargar("<EJESCRITO:1,1,A>Hello, world.<EJESCRITO:0>");
  Registro(1).selector = 2;
  tae_.CambiarFormateador(formateador_.get());
  Pintar(0);
  const ColaHueco c = LeerColaHueco(*Primera(kRegionHueco));
  EXPECT_EQ(c.inicio, 0);
  EXPECT_EQ(c.longitud, 13);
  ClicHueco();
  Escribir(u"HELLO  WORLD");
  Tecla(kEnter);
  EXPECT_EQ(Area(1, 13, 2), "Hello, world.");
  EXPECT_EQ(Registro(1).resultado2, 2);
  EXPECT_EQ(formateador_->ftae()->errores, 0);
}

TEST_F(Ejercicios, EnterOnAnUntouchedGapLeavesNoResultAndNoError) {
  Pagina("<EJESCRITO:1,1,A>a <HUECO:1>bc<HUECO:0>.<EJESCRITO:0>");
  ClicHueco();
  Tecla(kEnter);
  EXPECT_EQ(Registro(1).resultado1, 0);
  EXPECT_EQ(formateador_->ftae()->errores, 0);
  EXPECT_EQ(Area(1, 4), "****");  // no punctuation is written into an untouched gap
}

TEST_F(Ejercicios, AnEmptyLastGapIsRightWithoutTyping) {
  Pagina("<EJESCRITO:1,1,A>a<HUECO:1>b<HUECO:0>c<HUECO:1><HUECO:0><EJESCRITO:0>");
  EXPECT_EQ(Registro(1).resultado1, 2);
  Pagina("<EJESCRITO:1,2,A>no gap<EJESCRITO:0>");
  EXPECT_EQ(Registro(2).resultado1, 2);
}

TEST_F(Ejercicios, TypingIntoAFullGapDropsItsLastCharacterAndBackspaceAtItsStartNothing) {
  Pagina("<EJESCRITO:1,1,A><HUECO:1>cat<HUECO:0><EJESCRITO:0>");
  ClicHueco();
  Escribir(u"abcd");  // the fourth has no room
  EXPECT_EQ(Area(1, 3), "abc");
  Tecla(kLeft);
  Tecla(kLeft);
  Tecla(kLeft);
  Tecla(kBack);
  EXPECT_EQ(Area(1, 3), "abc");
  Escribir(u"x");
  EXPECT_EQ(Area(1, 3), "xab");
  EXPECT_EQ(Contexto().indice_caret, 1);
  Tecla(46);  // Delete: the character at the caret goes, the caret stays
  EXPECT_EQ(Area(1, 3), "xb*");
  Tecla(kBack);  // one Backspace, one character
  EXPECT_EQ(Area(1, 3), "b**");
  EXPECT_EQ(Contexto().indice_caret, 0);
}

TEST_F(Ejercicios, ArrowsAndTabMoveBetweenGaps) {
  Pagina(
      "<EJESCRITO:1,1,A><HUECO:1>ab<HUECO:0> <HUECO:1>cd<HUECO:0><EJESCRITO:0>\n"
      "<EJESCRITO:1,2,B><HUECO:1>ef<HUECO:0><EJESCRITO:0>");
  ClicHueco(1);
  Escribir(u"cd");
  Tecla(kRight);  // at the end of its last gap, the next gap is another exercise's
  EXPECT_EQ(Contexto().ejercicio_actual, 1);
  EXPECT_EQ(Contexto().hueco, Primera(kRegionHueco, 1));
  EXPECT_EQ(Contexto().indice_caret, 2);
  Tecla(kLeft);
  Tecla(kLeft);
  Tecla(kLeft);  // from the start, the exercise's previous gap
  EXPECT_EQ(Contexto().hueco, Primera(kRegionHueco, 0));
  Tecla(kDown);
  EXPECT_EQ(Contexto().ejercicio_actual, 2);
  Tecla(kTab);  // from the last gap back to the first
  EXPECT_EQ(Contexto().hueco, Primera(kRegionHueco, 0));
  EXPECT_EQ(Contexto().indice_caret, 0);
  EXPECT_EQ(ventana_.Caret().x, Primera(kRegionHueco, 0)->left);
}

TEST_F(Ejercicios, ARightDictationMovesToTheNextEntryAndPlaysIt) {
  Pagina(
      "<EJESCRITO:3,1,D1>  <HUECO:1>ab<HUECO:0><EJESCRITO:0>\n"
      "<EJESCRITO:3,2,D2>  <HUECO:1>cd<HUECO:0><EJESCRITO:0>");
  ClicHueco(0);
  Escribir(u"ab");
  audio_.log.clear();
  Tecla(kEnter);
  EXPECT_EQ(Registro(1).resultado1, 2);
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "PlayAudio D2 2"}));
  // The page drawn again: the solved dictation keeps its entry, its button
  // and its gap (a dictation's gap stays), its answer in the solved colour;
  // the next entry's gap waits for its answer.
  EXPECT_STREQ(formateador_->Entrada(1)->texto, "  ab}");
  EXPECT_STREQ(formateador_->Entrada(1)->mascara, "**--}");
  EXPECT_STREQ(formateador_->Entrada(2)->texto, "  cd}");
  std::vector<uint8_t> tipos;
  for (const Caja& c : Cajas()) tipos.push_back(c.tipo);
  EXPECT_EQ(tipos, (std::vector<uint8_t>{2, 4, 11, 2, 4, 11}));
  const RECT_VIRTUAL* resuelto = Primera(kRegionHueco, 0);
  const RECT_VIRTUAL* siguiente = Primera(kRegionHueco, 1);
  EXPECT_EQ(LeerColaHueco(*resuelto).entrada, 1);
  EXPECT_EQ(LeerColaHueco(*resuelto).inicio, 2);
  EXPECT_EQ(LeerColaHueco(*resuelto).longitud, 2);
  EXPECT_EQ(Caja({resuelto->tipo, resuelto->left, resuelto->top, resuelto->right, resuelto->bottom}),
            (Caja{11, 8, 1, 24, 15}));
  EXPECT_EQ(Caja({siguiente->tipo, siguiente->left, siguiente->top, siguiente->right,
                  siguiente->bottom}),
            (Caja{11, 8, 21, 24, 35}));
  EXPECT_EQ(LeerColaHueco(*siguiente).entrada, 2);
  EXPECT_EQ(Superficie().GetPixel(9, 3), 0x2E5C5Cu);
  EXPECT_EQ(Contexto().hueco, siguiente);
  EXPECT_EQ(audio_.Estado(), estado_audio::kDictado);
  EXPECT_EQ(Contexto().ejercicio_actual, 2);
  EXPECT_TRUE(ventana_.Caret().Visible());
  audio_.log.clear();
  Escribir(u"cd");
  Tecla(kEnter);
  EXPECT_EQ(Registro(2).resultado1, 2);
  EXPECT_TRUE(audio_.log.empty());  // the last entry: nothing more
  // A wrong dictation plays its own sentence again.
  Registro(1).resultado1 = 0;
  Pintar(0);
  ClicHueco(0);
  Escribir(u"zz");
  Tecla(kEnter);
  EXPECT_EQ(audio_.log, (Log{"StopAudio", "PlayAudio D1 2"}));
}

TEST_F(Ejercicios, KeysAreStoredInTheCodePageOfTheirExercise) {
  Pagina(
      "<EJESCRITO:1,1,A><HUECO:1>ab<HUECO:0><EJESCRITO:0> "
      "<FONT:RUSO><EJESCRITO:1,2,B><HUECO:1>cd<HUECO:0><EJESCRITO:0>");
  ClicHueco(0);
  Tecla(0xBA, u'\u00E9');
  EXPECT_EQ(static_cast<uint8_t>(Registro(1).area1[0]), 0xE9);
  ClicHueco(1);
  Tecla(0xBA, u'\u0436');
  EXPECT_EQ(static_cast<uint8_t>(Registro(2).area1[0]), 0xE6);
  // A capital of the page's own letters checks as its small letter.
  Tecla(kBack);
  Tecla(0xBA, u'\u0416');
  EXPECT_EQ(static_cast<uint8_t>(Registro(2).area1[0]), 0xC6);
}

TEST_F(Ejercicios, CaseFoldingHasATablePerCodePage) {
  using platform::gfx::CodePage;
  using platform::gfx::FoldCase;
  EXPECT_EQ(FoldCase(CodePage::kCp1252, 'Q'), 'q');
  EXPECT_EQ(FoldCase(CodePage::kCp1252, 0xC9), 0xE9);  // É
  EXPECT_EQ(FoldCase(CodePage::kCp1252, 0xD7), 0xD7);  // the multiplication sign
  EXPECT_EQ(FoldCase(CodePage::kCp1252, 0x8A), 0x9A);  // Š
  EXPECT_EQ(FoldCase(CodePage::kCp1251, 0xC6), 0xE6);  // Ж
  EXPECT_EQ(FoldCase(CodePage::kCp1251, 0xA8), 0xB8);  // Ё
  EXPECT_EQ(FoldCase(CodePage::kCp1250, 0xA3), 0xB3);  // Ł
  EXPECT_EQ(FoldCase(CodePage::kCp1254, 0xDD), 'i');   // İ
  EXPECT_EQ(FoldCase(CodePage::kCp1254, 0xD0), 0xF0);  // Ğ
  EXPECT_EQ(FoldCase(CodePage::kCp1251, 0xE6), 0xE6);
}

TEST_F(Ejercicios, TheSolutionButtonWritesTheSolutionAndAGapSelectionErasesIt) {
  Imagen("COMUN\\BTNSOLN", 30, 18, 0x0000FF);
  Imagen("COMUN\\BTNSOLM", 30, 18, 0x00FF00);
  Pagina("<EJESCRITO:1,1,A>a<HUECO:1>bc<HUECO:0><EJESCRITO:0>\n<BOTON:1,0,100>");
  Clic(5, 105);  // nothing selected: only the hover image
  EXPECT_EQ(formateador_->ftae()->respuestas, 0);
  ClicHueco();
  Clic(5, 105);
  EXPECT_EQ(formateador_->ftae()->respuestas, 1);
  EXPECT_EQ(Contexto().solucion_visible, 1);
  EXPECT_TRUE(Tinta(Superficie(), 35, 100, 24, 18, 0xBFDFDF));  // "abc" on the level colour
  ClicHueco();
  EXPECT_EQ(Contexto().solucion_visible, 0);
  EXPECT_FALSE(Tinta(Superficie(), 32, 100, 440, 18, 0xBFDFDF));
}

TEST_F(Ejercicios, BoundsOfEntriesGapsAndAnswerAreas) {
  // 198 characters recorded of a 250-character gap; an area without its NUL.
  Cargar("<EJESCRITO:1,1,A><HUECO:1>" + std::string(250, 'x') + "<HUECO:0><EJESCRITO:0>");
  std::memset(Registro(1).area1, 'y', kAreaRespuesta);
  tae_.CambiarFormateador(formateador_.get());
  Pintar(0);
  EXPECT_EQ(std::string(formateador_->Entrada(1)->texto), std::string(198, 'x') + "}");
  // A piece on each line it reaches (83 characters a line) as far as it is
  // recorded: the fourth line's character is not.
  ASSERT_EQ(Primera(kRegionHueco, 3), nullptr);
  EXPECT_EQ(LeerColaHueco(*Primera(kRegionHueco, 0)).longitud, 83);
  EXPECT_EQ(LeerColaHueco(*Primera(kRegionHueco, 1)).inicio, 83);
  EXPECT_EQ(LeerColaHueco(*Primera(kRegionHueco, 2)).inicio, 166);
  EXPECT_EQ(LeerColaHueco(*Primera(kRegionHueco, 2)).longitud, 32);
  ClicHueco();
  Escribir(u"zz");
  Tecla(kEnter);
  EXPECT_EQ(Registro(1).resultado1, 1);
  EXPECT_EQ(Registro(1).area1[199], '\0');

  // 29 exercises on a page; the 30th is plain text.
  std::string texto;
  for (int i = 1; i <= 30; ++i) {
    texto += "<EJESCRITO:1," + std::to_string(i) + ",A>e<HUECO:1>f<HUECO:0><EJESCRITO:0> ";
  }
  Pagina(texto);
  EXPECT_EQ(Contexto().num_entradas, 29);
  EXPECT_EQ(Primera(kRegionEjercicio, 28)->id, 29);
  EXPECT_EQ(Primera(kRegionEjercicio, 29), nullptr);
  EXPECT_EQ(Registro(30).tipo, 0);  // never touched
}

TEST_F(Ejercicios, GapsOutsideExercisesAndWrappedExercisesStaySound) {
  Pagina("<HUECO:1>a<HUECO:0><EJESCRITO:0>");
  EXPECT_TRUE(Cajas().empty());
  formateador_ = Formateador(400);
  Preparar(*formateador_);
  Pagina(std::string(45, 'p') + " <EJESCRITO:1,1,A>ab <HUECO:1>" + std::string(20, 'q') +
         "<HUECO:0><EJESCRITO:0>");
  const RECT_VIRTUAL* e = Primera(kRegionEjercicio);
  const RECT_VIRTUAL* g = Primera(kRegionHueco);
  ASSERT_NE(e, nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(e->right, 400);
  EXPECT_GT(g->right, g->left);
}

TEST_F(Ejercicios, AWrappedGapIsAPieceOnEachLineAndLeavesTheTextAfterIt) {
  formateador_ = Formateador(100);  // 12 characters a line
  Preparar(*formateador_);
  // "ccc" does not fit after "bbbbbbbb ": the gap goes on on line 2, where
  // " after" follows it.
  const std::string texto = "<EJESCRITO:1,1,A>x <HUECO:1>bbbbbbbb ccc<HUECO:0> after<EJESCRITO:0>";
  platform::gfx::Surface s = Pagina(texto);
  ASSERT_EQ(Cajas(), (std::vector<Caja>{{2, 0, 1, 68, 35}, {11, 12, 1, 80, 15}, {11, 0, 21, 24, 35}}));
  const RECT_VIRTUAL* primera = Primera(kRegionHueco, 0);
  const RECT_VIRTUAL* segunda = Primera(kRegionHueco, 1);
  EXPECT_EQ(primera->enlace, regiones_.Slot(segunda));
  EXPECT_EQ(segunda->enlace, 0);
  EXPECT_EQ(LeerColaHueco(*primera).inicio, 2);
  EXPECT_EQ(LeerColaHueco(*primera).longitud, 9);
  EXPECT_EQ(LeerColaHueco(*segunda).inicio, 11);
  EXPECT_EQ(LeerColaHueco(*segunda).longitud, 3);
  EXPECT_EQ(LeerColaHueco(*segunda).ancho, 24);
  EXPECT_TRUE(Tinta(s, 28, 21, 40, 12));   // " after" is drawn
  EXPECT_FALSE(Tinta(s, 0, 21, 24, 12));   // the gap's own text is hidden
  EXPECT_FALSE(Tinta(s, 82, 0, 18, 40));  // nothing right of the gap (and its line)

  // Typed piece by piece, the answer is checked as one gap: "bbbbbbbb"
  // leaves the first piece's space untyped and is right all the same.
  ClicHueco(0);
  Escribir(u"bbbbbbbb");
  ClicHueco(1);
  EXPECT_EQ(Contexto().hueco, segunda);
  Escribir(u"ccc");
  EXPECT_EQ(Area(1, 14), "**bbbbbbbb*ccc");
  Tecla(kEnter);
  EXPECT_EQ(Registro(1).resultado1, 2);
  EXPECT_EQ(formateador_->ftae()->errores, 0);
  EXPECT_EQ(Area(1, 14), "**bbbbbbbb ccc");
  s = Superficie();
  EXPECT_TRUE(Tinta(s, 28, 21, 40, 12));

  // At level 2 the whole exercise is the gap: a piece on each line.
  Registro(1).selector = 2;
  Pintar(0);
  std::vector<Caja> huecos;
  for (const Caja& c : Cajas()) {
    if (c.tipo == kRegionHueco) huecos.push_back(c);
  }
  EXPECT_EQ(huecos, (std::vector<Caja>{{11, 0, 1, 80, 15}, {11, 0, 21, 68, 35}}));
  EXPECT_EQ(LeerColaHueco(*Primera(kRegionHueco, 0)).longitud, 11);
  EXPECT_EQ(LeerColaHueco(*Primera(kRegionHueco, 1)).inicio, 11);
  EXPECT_EQ(LeerColaHueco(*Primera(kRegionHueco, 1)).longitud, 9);
  // A wrong first character selects the first piece, one on line 2 the second.
  ClicHueco(0);
  Escribir(u"q");
  Tecla(kEnter);
  EXPECT_EQ(Contexto().hueco, Primera(kRegionHueco, 0));
  std::memcpy(Registro(1).area2, "x bbbbbbbb qcc after", 20);
  ClicHueco(1);
  Tecla(kEnter);
  EXPECT_EQ(Contexto().hueco, Primera(kRegionHueco, 1));
  EXPECT_EQ(Contexto().indice_caret, 0);
}

}  // namespace
}  // namespace tae_test
