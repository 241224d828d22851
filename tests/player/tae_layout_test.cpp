// Page layout on the fake font (characters 8 px, space 4 px, 664 px lines):
// where lines break, what a page holds, where text lands, and that every
// line consumes something whatever the text.
#include <string>

#include "tests/player/tae_fixture.h"

namespace tae_test {
namespace {

using Layout = TaeFixture;

std::string Lineas(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "l\n";
  return s;
}

TEST_F(Layout, ADefaultPageHolds26LinesEachDrawnOnlyWhenItsPitchFits) {
  Cargar(Lineas(30));
  int32_t resultado = 0;
  Pintar(0, &resultado);
  const auto& lineas = formateador_->LineasPintadas();
  ASSERT_EQ(lineas.size(), 26u);
  EXPECT_EQ(lineas.back().y, 500);  // 500 + 20 <= 534, 520 + 20 is not
  EXPECT_EQ(resultado, 25);         // the area filled up: lines drawn minus 1
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 30);
}

TEST_F(Layout, AWordEndingAtTheWidthStaysAndOnePixelMoreMovesIt) {
  // "aaaa " is 36 px; 78 a and one n of 4 px end the word at 664 exactly.
  fuentes_->SetAdvance(U'n', 4);
  fuentes_->SetAdvance(U'm', 5);
  Cargar("aaaa " + std::string(78, 'a') + "n tail");
  Pintar(0);
  ASSERT_GE(formateador_->LineasPintadas().size(), 2u);
  // The space goes to the next line, which skips it.
  EXPECT_EQ(formateador_->LineasPintadas()[0].fin, Offset(" tail"));
  EXPECT_EQ(formateador_->LineasPintadas()[1].inicio, Offset(" tail"));

  Cargar("aaaa " + std::string(78, 'a') + "m tail");
  Pintar(0);
  EXPECT_EQ(formateador_->LineasPintadas()[0].fin, 5u);  // the word went to the next line
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 3);
}

TEST_F(Layout, ASpaceThatDoesNotFitGoesToTheNextLineWhichSkipsOnlyIt) {
  // 83 characters fill 664 px; the space after them would end at 668.
  Cargar("<COLORF:AZUL>" + std::string(83, 'a') + "  b");
  auto s = Pintar(0);
  EXPECT_EQ(s.GetPixel(663, 14), 0xFF0000u);  // the blue cell of the last character
  EXPECT_FALSE(Tinta(s, 664, 0, 23, 15));     // no blue space past it
  // The next line starts at the first space and skips it; the second is
  // drawn (a blue 4 px cell) and b follows it.
  EXPECT_EQ(formateador_->LineasPintadas()[0].fin, Offset("  b"));
  EXPECT_EQ(formateador_->LineasPintadas()[1].inicio, Offset("  b"));
  EXPECT_EQ(s.GetPixel(0, 25), 0xFF0000u);
  EXPECT_EQ(s.GetPixel(3, 25), 0xFF0000u);
  EXPECT_EQ(s.GetPixel(4, 25), 0u);
  // One space at the wrap: b opens the next line.
  Cargar("<COLORF:AZUL>" + std::string(83, 'a') + " b");
  s = Pintar(0);
  EXPECT_EQ(s.GetPixel(0, 25), 0u);
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 2);
}

TEST_F(Layout, ATabWhoseStopPassesTheWidthGoesToTheNextLine) {
  // 80 a end at 640; the stop after them is the width itself, or one past it.
  Cargar("<TABULADOR:0,0,100,664>" + std::string(80, 'a') + "\tz");
  auto s = Pintar(0);
  ASSERT_EQ(formateador_->LineasPintadas().size(), 2u);
  EXPECT_EQ(formateador_->LineasPintadas()[0].fin, Offset("z"));  // the tab stays
  EXPECT_TRUE(Tinta(s, 0, 20, 7, 12));  // z could not follow it

  Cargar("<TABULADOR:0,0,100,665>" + std::string(80, 'a') + "\tz");
  s = Pintar(0);
  ASSERT_EQ(formateador_->LineasPintadas().size(), 2u);
  EXPECT_EQ(formateador_->LineasPintadas()[1].inicio, Offset("\tz"));
  EXPECT_FALSE(Tinta(s, 640, 0, 47, 15));  // nothing right of the a
  EXPECT_FALSE(Tinta(s, 0, 20, 100, 15));
  EXPECT_TRUE(Tinta(s, 100, 20, 7, 12));  // the tab moved z to the stop at 100
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 2);
  // A tab alone on its line stays there, past the width or not.
  Cargar("<TABULADOR:0,0,665>\tz");
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 2);
}

TEST_F(Layout, AFirstLineOfSize33IsDrawn16PixelsAboveTheSurfaceAndClipped) {
  // Glyphs 30 px tall: at y -16 their ink ends at row 13; the next line's
  // cell (from row 21) cuts nothing of them.
  platform::gfx::SetFontBackend(std::make_shared<platform::gfx::FakeFontBackend>(8, 30, 3));
  Cargar("<TAMANO:33>A\n<TAMANO:15>B\n<TAMANO:33>\t\tC");
  const auto s = Pintar(0);
  EXPECT_TRUE(Tinta(s, 0, 0, 7, 14));    // A's last 14 rows
  EXPECT_FALSE(Tinta(s, 0, 14, 7, 7));   // nothing of it below row 13
  EXPECT_EQ(PrimeraFilaConTinta(s, 0, 7, 14), 21);  // B
  // The same glyph on the third line (y 40) starts 16 px above it, whole.
  EXPECT_EQ(PrimeraFilaConTinta(s, 90, 7), 24);
  EXPECT_TRUE(Tinta(s, 90, 53, 7, 1));
  EXPECT_FALSE(Tinta(s, 90, 54, 7, 1));
}

TEST_F(Layout, TextOfSize33IsDrawn16PixelsHigherAndSize6TenLower) {
  // Each letter in its own column: A at 0, B at the tab stop 60, C at 90.
  Cargar("\n<TAMANO:33>A\n<TAMANO:6>\tB\n<TAMANO:17>\t\tC");
  const auto s = Pintar(0);
  EXPECT_EQ(PrimeraFilaConTinta(s, 0, 8), 20 - 16);
  EXPECT_EQ(PrimeraFilaConTinta(s, 60, 8), 40 + 10);
  EXPECT_EQ(PrimeraFilaConTinta(s, 90, 8), 60);  // -17 has no offset
  EXPECT_EQ(TFormatae::AjusteVertical(100, -15), 101);
  EXPECT_EQ(TFormatae::AjusteVertical(100, -31), 87);
  EXPECT_EQ(TFormatae::AjusteVertical(100, -7), 109);
  EXPECT_EQ(TFormatae::AjusteVertical(100, -16), 100);
  EXPECT_EQ(TFormatae::AjusteVertical(100, 15), 100);
}

TEST_F(Layout, TabsMoveToTheNextStopAndPastTheLastOneLeaveThePen) {
  Cargar("ab\tx\n" + std::string(62, 'a') + "\ty");
  const auto s = Pintar(0);
  EXPECT_FALSE(Tinta(s, 16, 0, 44, 12));  // nothing between "ab" and the stop at 60
  EXPECT_TRUE(Tinta(s, 60, 0, 7, 12));
  EXPECT_TRUE(Tinta(s, 496, 20, 7, 12));  // 62 x 8 = 496 is past the last stop (480)
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 2);
}

TEST_F(Layout, APageAfterBoldAndRedStartsBoldAndBlack) {
  Cargar("<NEGRITA:1><COLOR:ROJO>a<SALTOPAG:>b");
  ASSERT_EQ(formateador_->NumPaginas(), 2);
  const ESTILO_TAE estilo = tae_.Estilo(formateador_->Pagina(1)->estilo);
  EXPECT_NE(formateador_->Pagina(1)->estilo, 0);
  EXPECT_EQ(estilo.fuente.lfWeight, 700);
  EXPECT_EQ(estilo.color_texto, 0u);
  const auto s = Pintar(1);
  EXPECT_EQ(s.GetPixel(0, 5), 0u);
}

TEST_F(Layout, AWordWiderThanTheLineBreaksBeforeTheCharacterThatOverflows) {
  Cargar(std::string(100, 'a'));
  Pintar(0);
  const auto& lineas = formateador_->LineasPintadas();
  ASSERT_EQ(lineas.size(), 2u);
  EXPECT_EQ(lineas[0].fin, 83u);
  EXPECT_EQ(lineas[1].fin, 100u);
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 2);
}

TEST_F(Layout, AWordCutAtTheLineEndTakesItsTagsAlongAndIsDrawnOnce) {
  // 78 a and a space are 628 px: "Hel" fits, "lo" does not.
  const std::string texto = std::string(78, 'a') + " Hel<NEGRITA:1>lo";
  Cargar(texto);
  EXPECT_EQ(formateador_->Auditoria()->contadores[kCuentaNegrita], 1);
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 2);
  const auto s = Pintar(0);
  EXPECT_FALSE(Tinta(s, 628, 0, 36, 15));  // nothing of "Hel" at the end of line 1
  EXPECT_TRUE(Tinta(s, 0, 20, 40, 12));    // "Hello" opens line 2
  EXPECT_EQ(formateador_->LineasPintadas()[1].inicio, Offset("Hel"));
  EXPECT_EQ(formateador_->LineasPintadas()[0].fin, Offset("Hel"));
}

TEST_F(Layout, TheFirstLineIndentComesOnlyFromATabuladorOnAFirstLine) {
  Cargar("<NEGRITA:1>abc\n<TABULADOR:10,30>def " + std::string(80, 'g') + "<TABULADOR:10,50>h");
  const auto s = Pintar(0);
  EXPECT_TRUE(Tinta(s, 0, 0, 7, 12));     // not indented by the default 30
  EXPECT_FALSE(Tinta(s, 0, 20, 30, 12));  // TABULADOR on a first line: 30 px
  EXPECT_TRUE(Tinta(s, 30, 20, 7, 12));
  // On the paragraph's second line the hanging indent holds and TABULADOR
  // gives no advance: "g" from x 10, "h" right after them.
  EXPECT_FALSE(Tinta(s, 0, 40, 10, 12));
  EXPECT_TRUE(Tinta(s, 10, 40, 7, 12));
}

TEST_F(Layout, LinePitchZeroDrawsEveryLineAtTheSameYAndEnds) {
  Cargar("<INTERLINEA:0>a\nb\nc");
  int32_t resultado = 0;
  Pintar(0, &resultado);
  const auto& lineas = formateador_->LineasPintadas();
  ASSERT_EQ(lineas.size(), 3u);
  for (const auto& linea : lineas) EXPECT_EQ(linea.y, 0);
  EXPECT_EQ(resultado, TFormatae::kPaginaTextoAcabado + 2);
  Cargar("<INTERLINEA:300>a\nb");  // clamped to 255
  Pintar(0);
  ASSERT_EQ(formateador_->LineasPintadas().size(), 2u);
  EXPECT_EQ(formateador_->LineasPintadas()[1].y, 255);
}

TEST_F(Layout, The40thPageTakesEveryBreakAfterIt) {
  std::string at_limit;
  for (int i = 0; i < 39; ++i) at_limit += "p<SALTOPAG:>";
  Cargar(at_limit + "last");
  EXPECT_EQ(formateador_->NumPaginas(), 40);
  EXPECT_EQ(mensajes_.Cuenta("Error excedido el numero maximo de paginas TAE."), 0);
  int32_t resultado = 0;
  Pintar(39, &resultado);
  EXPECT_EQ(resultado, TFormatae::kPaginaTextoAcabado);

  std::string past;
  for (int i = 0; i < 45; ++i) past += "p<SALTOPAG:>";
  Cargar(past + "last");
  EXPECT_EQ(formateador_->NumPaginas(), 40);
  EXPECT_EQ(mensajes_.Cuenta("Error excedido el numero maximo de paginas TAE."), 1);
  EXPECT_EQ(formateador_->Pagina(39)->lineas, 7);  // 6 breaks end lines, then "last"
  Pintar(39, &resultado);
  EXPECT_EQ(resultado, TFormatae::kPaginaTextoAcabado + 6);
  EXPECT_EQ(Pintar(40, &resultado).Width(), kAncho);
  EXPECT_EQ(resultado, 0);  // outside the table
}

TEST_F(Layout, LineCountsRunToTheBreakAndToTheLastLineHoldingAnElement) {
  Cargar("<SALTOPAG:>x\n\n");
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 1);  // a line of only the break
  EXPECT_EQ(formateador_->Pagina(1)->lineas, 2);
  Cargar("");
  EXPECT_EQ(formateador_->NumPaginas(), 1);
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 0);
  Cargar(std::string(40000, '\n'));
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 32767);
}

TEST_F(Layout, ADoubleByteRunWrapsBetweenPairsAndStaysDoubleByte) {
  // Pairs are 15 px at the default height: 44 fit in 664 px.
  std::string pares;
  for (int i = 0; i < 50; ++i) pares += "\x2d\x4e";  // U+4E2D, low byte first
  Cargar("<FONT:CHINO>" + pares + "<FONT:INTER>z");
  Pintar(0);
  const auto& lineas = formateador_->LineasPintadas();
  ASSERT_EQ(lineas.size(), 2u);
  EXPECT_EQ(lineas[0].fin, 12u + 88u);
  EXPECT_EQ(lineas[1].inicio, 12u + 88u);
  const auto s = Pintar(0);
  // Six 8 px glyphs (the fake font) on line 2 from x 0, and "z" at 6 x 15 = 90.
  EXPECT_TRUE(Tinta(s, 0, 20, 8, 12));
  EXPECT_TRUE(Tinta(s, 90, 20, 7, 12));
  EXPECT_FALSE(Tinta(s, 48, 20, 42, 12));
}

TEST_F(Layout, AnUnknownKeywordLeavesAGapAndIsReportedOncePerLoad) {
  Cargar("ab<XYZ cd<QQ");
  Pintar(0);
  const auto s = Pintar(0);
  EXPECT_EQ(mensajes_.Cuenta("AE desconocido al preformatear el texto TAE"), 1);
  EXPECT_FALSE(Tinta(s, 16, 0, 255, 15));
  EXPECT_TRUE(Tinta(s, 16 + 255, 0, 7, 12));  // "XYZ" after the gap, without its '<'
}

TEST_F(Layout, AFailedTagLaysItsParametersOutAsTextAndReportsOnce) {
  Cargar("<COLOR:XYZ>\n<FONT:KLINGON>\n<COLOR:XYZ>");
  ASSERT_EQ(formateador_->Pagina(0)->lineas, 3);
  Pintar(0);
  const auto s = Pintar(0);
  EXPECT_TRUE(Tinta(s, 0, 0, 32, 12));  // "XYZ>"
  EXPECT_FALSE(Tinta(s, 32, 0, 8, 15));
  EXPECT_TRUE(Tinta(s, 0, 20, 64, 12));  // "KLINGON>"
  EXPECT_EQ(mensajes_.Cuenta("Error Color desconocido"), 1);
  EXPECT_EQ(mensajes_.Cuenta("Error Font desconocido"), 1);
  EXPECT_EQ(formateador_->Auditoria()->contadores[kCuentaColor], 2);
}

TEST_F(Layout, EveryLineConsumesACharacterWhateverItsIndentOrWidth) {
  fuentes_->SetAdvance(U'W', 200);
  // A hanging indent past the width: the first line (from the first-line
  // indent, 30) holds 79 characters, the others one each.
  Cargar("<TABULADOR:700>" + std::string(100, 'a'));
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 1 + 21);
  // A character wider than the whole area stands alone on its line.
  auto estrecho = Formateador(100);
  estrecho->CargarDocumento(almacen_.Escribir("W.TAE", "aWWb").c_str());
  EXPECT_EQ(estrecho->Pagina(0)->lineas, 4);
  estrecho->PintarPagina(0);
  ASSERT_EQ(estrecho->LineasPintadas().size(), 4u);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(estrecho->LineasPintadas()[i].fin, i + 1);
}

TEST_F(Layout, CrLfTextLaysOutAsLfTextAndALoneCrIsDropped) {
  Cargar("uno dos\r\ntres\r cuatro\r\n");
  const std::string con_cr(formateador_->Texto(), formateador_->LongitudTexto());
  const int16_t lineas = formateador_->Pagina(0)->lineas;
  Cargar("uno dos\ntres cuatro\n");
  EXPECT_EQ(con_cr, std::string(formateador_->Texto(), formateador_->LongitudTexto()));
  EXPECT_EQ(lineas, formateador_->Pagina(0)->lineas);
}

TEST_F(Layout, PagesDrawInAnyOrderFromTheirOwnEntries) {
  Cargar("<TAMANO:20>a<SALTOPAG:>b<TAMANO:15>c<SALTOPAG:>d");
  const auto tercera = Pintar(2);
  const auto primera = Pintar(0);
  EXPECT_EQ(Pintar(2).Pixels(), tercera.Pixels());
  EXPECT_EQ(PrimeraFilaConTinta(primera, 0, 8), 0);  // -20 draws 4 px up, clipped at the edge
  EXPECT_EQ(tae_.Estilo(formateador_->Pagina(1)->estilo).fuente.lfHeight, -20);
  EXPECT_EQ(formateador_->Pagina(2)->estilo, 0);  // back to the default style
}

}  // namespace
}  // namespace tae_test
