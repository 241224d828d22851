// Reading TAE documents: the tag grammar at its edges, double-byte runs,
// the speaking part's rewrite, the size bound, the failures of a load, and
// what the pre-pass counts.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/player/tae_fixture.h"

namespace tae_test {
namespace {

// The static reading of the loaded text, one line per element.
std::vector<std::string> Elementos(const TFormatae& f) {
  std::vector<std::string> out;
  PosicionTAE pos;
  ElementoTAE e;
  const char* t = f.Texto();
  while (TFormatae::LeerElemento(t, f.LongitudTexto(), pos, e)) {
    switch (e.tipo) {
      case ElementoTAE::kTag:
        out.push_back(std::string("tag ") + TFormatae::NombreClave(e.tag.clave) + " " +
                      std::string(t + e.tag.parametros, e.tag.longitud));
        break;
      case ElementoTAE::kTexto:
        out.push_back("text " + std::string(t + e.inicio, e.longitud));
        break;
      case ElementoTAE::kTexto2:
        out.push_back("text2 " + std::string(t + e.inicio, e.longitud));
        break;
      case ElementoTAE::kLF:
        out.push_back("lf");
        break;
      case ElementoTAE::kTab:
        out.push_back("tab");
        break;
      case ElementoTAE::kDesconocido:
        out.push_back("unknown");
        break;
    }
  }
  return out;
}

using Reader = TaeFixture;
using V = std::vector<std::string>;

TEST_F(Reader, KeywordsMatchOnlyWhenTheirLettersAndAColonFollowTheBracket) {
  Cargar("<COLOR:AZUL>a<COLORF:AZUL>b<COLORX:AZUL><color:AZUL><SALTOPAG>");
  EXPECT_EQ(Elementos(*formateador_),
            (V{"tag COLOR AZUL", "text a", "tag COLORF AZUL", "text b", "unknown",
               "text COLORX:AZUL>", "unknown", "text color:AZUL>", "unknown", "text SALTOPAG>"}));
  const auto s = Pintar(0);
  EXPECT_EQ(s.GetPixel(0, 5), 0xFF0000u);    // blue 'a'
  EXPECT_EQ(s.GetPixel(15, 14), 0xFF0000u);  // blue cell behind 'b'
  EXPECT_EQ(s.GetPixel(8, 5), 0xFF0000u);    // 'b' in blue too
}

TEST_F(Reader, AParameterListHoldsAt255BytesWithoutLfNulOrBracket) {
  const std::string at_limit(255, 'x');
  Cargar("<TAMANO:" + at_limit + ">|<TAMANO:" + at_limit + "x>");
  const V e = Elementos(*formateador_);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0], "tag TAMANO " + at_limit);
  EXPECT_EQ(e[1], "text |");
  EXPECT_EQ(e[2], "unknown");  // 256 bytes: not a tag
  Cargar("<NEGRITA:1\n><NEGRITA:1<x><NEGRITA:1");
  EXPECT_EQ(Elementos(*formateador_),
            (V{"unknown", "text NEGRITA:1", "lf", "text >", "unknown", "text NEGRITA:1", "unknown",
               "text x>", "unknown", "text NEGRITA:1"}));
  EXPECT_EQ(formateador_->Auditoria()->contadores[kCuentaNegrita], 0);
}

TEST_F(Reader, CrBytesGoEverywhereOutsideDoubleByteRuns) {
  Cargar("<NEGRI\rTA:1>a\r\r\nb");
  EXPECT_EQ(Elementos(*formateador_), (V{"tag NEGRITA 1", "text a", "lf", "text b"}));
  EXPECT_EQ(formateador_->Auditoria()->tamano, 17u);  // the size as read
}

TEST_F(Reader, DoubleByteRunsKeepEveryByteInPairsUpToAPairStartingF) {
  Cargar(std::string("<FONT:CH\rINO>\r\n\0X<FONT:INTER>z", 30));
  EXPECT_EQ(formateador_->LongitudTexto(), 29u);
  EXPECT_EQ(Elementos(*formateador_),
            (V{"tag FONT CHINO", std::string("text2 \r\n\0X", 10), "tag FONT INTER", "text z"}));
  // A CR dropped before the run does not shift the run's own bytes.
  Cargar("a\r\n<FONT:CHINO>\x01\xFF\r\n<FONT:INTER>b\r\n");
  EXPECT_EQ(Elementos(*formateador_), (V{"text a", "lf", "tag FONT CHINO", "text2 \x01\xFF\r\n",
                                         "tag FONT INTER", "text b", "lf"}));
  // Odd and unended runs: the lone last byte is kept in the text, dropped
  // by the layout.
  Cargar("<FONT:CHINO>ab\ncd");
  EXPECT_EQ(formateador_->LongitudTexto(), 17u);
  EXPECT_EQ(Elementos(*formateador_), (V{"tag FONT CHINO", "text2 ab\nc"}));
  // A "<F" at an odd offset does not end the run.
  Cargar("<FONT:CHINO>a<FONT:INTER>");
  EXPECT_EQ(Elementos(*formateador_), (V{"tag FONT CHINO", "text2 a<FONT:INTER"}));
  // Any pair starting "<F" ends the run, and is read as a tag or not.
  Cargar("<FONT:CHINO>ab<FSPEAK:1>c<Fx");
  EXPECT_EQ(Elementos(*formateador_),
            (V{"tag FONT CHINO", "text2 ab", "tag FSPEAK 1", "text c", "unknown", "text Fx"}));
}

TEST_F(Reader, TheSpeakingPartBecomesSoundsNamedByItsAnswers) {
  Cargar(
      "<FSPEAK:3><NEGRITA:1>Hello<ASPEAK:1,ABCDEF>x<NEGRITA:0> end<BOTON:4,1,2>"
      "<BITMAPF:PASSPEAK,0,1,2><BITMAPF:PASNEGA,0,1,2><COLORF:FSPEAK>\r\n",
      "CLA001PR.TAE");
  EXPECT_EQ(std::string(formateador_->Texto()),
            "<SONIDO:1,0003,ABCDEF><NEGRITA:1>Hello<ASPEAK:1,ABCDEF>x<NEGRITA:0><SONIDO:1,0> "
            "end\n");
  EXPECT_EQ(formateador_->Auditoria()->contadores[kCuentaSonido1], 2);
  EXPECT_EQ(formateador_->Auditoria()->sonido_mayor, 3);
  Cargar("<FSPEAK:12>a<FSPEAK:123>b<FSPEAK:>c<NEGRITA:0>", "XPR.TAE");
  EXPECT_EQ(std::string(formateador_->Texto()),
            "<SONIDO:1,0012,S00000>a<SONIDO:1,0012,S00000>b<FSPEAK:>c<NEGRITA:0><SONIDO:1,0>");
}

TEST_F(Reader, SpeakingAnswersWriteAtMostSixBytesAndOnlyAfterASpeakingPoint) {
  Cargar(
      "<ASPEAK:1,EARLY><FSPEAK:1><ASPEAK:1,AB>|<FSPEAK:2><ASPEAK:2,ABCDEFGHI>|"
      "<FSPEAK:3><ASPEAK:0,ZZZ><ASPEAK:3>",
      "CLA001PR.TAE");
  EXPECT_EQ(std::string(formateador_->Texto()),
            "<ASPEAK:1,EARLY><SONIDO:1,0001,AB0000><ASPEAK:1,AB>|<SONIDO:1,0002,ABCDEF>"
            "<ASPEAK:2,ABCDEFGHI>|<SONIDO:1,0003,S00000><ASPEAK:0,ZZZ><ASPEAK:3>");
}

TEST_F(Reader, ASpeakingTagIsAt199BytesAndLongerOnesStandAsTheyAre) {
  const std::string at_limit = "<BOTON:4" + std::string(190, 'x') + ">";
  const std::string past = "<BOTON:4" + std::string(191, 'x') + ">";
  ASSERT_EQ(at_limit.size(), 199u);
  Cargar("a" + at_limit + "b" + past + "c", "CLA001PR.TAE");
  EXPECT_EQ(std::string(formateador_->Texto()), "ab" + past + "c");
}

TEST_F(Reader, NinetyEightSpeakingPointsGrowTheTextAsNeeded) {
  std::string entrada;
  std::string esperado;
  for (int i = 0; i < 98; ++i) {
    const std::string n = std::to_string(10 + i % 90);
    entrada += "<FSPEAK:" + n + "><ASPEAK:1,N" + n + ">w<NEGRITA:0>";
    esperado += "<SONIDO:1,00" + n + ",N" + n + "000><ASPEAK:1,N" + n + ">w<NEGRITA:0><SONIDO:1,0>";
  }
  Cargar(entrada, "CLA002PR.TAE");
  EXPECT_EQ(std::string(formateador_->Texto()), esperado);
  EXPECT_EQ(formateador_->Auditoria()->contadores[kCuentaSonido1], 196);
  EXPECT_EQ(formateador_->Auditoria()->tamano, entrada.size());
}

TEST_F(Reader, DocumentsAreReadUpTo16MiB) {
  Cargar(std::string(kMaxDocumentoTAE, 'a'));
  EXPECT_EQ(formateador_->ResultadoLectura(), TFormatae::Lectura::kLeido);
  EXPECT_EQ(formateador_->LongitudTexto(), kMaxDocumentoTAE);
  EXPECT_EQ(formateador_->Pagina(0)->lineas, 32767);

  Cargar(std::string(kMaxDocumentoTAE + 1, 'a'));
  EXPECT_EQ(formateador_->ResultadoLectura(), TFormatae::Lectura::kSinMemoria);
  EXPECT_EQ(mensajes_.Cuenta("Error en 'malloc' para el buffer en memoria del fichero TAE."), 1);
  EXPECT_EQ(formateador_->LongitudTexto(), 0u);
  EXPECT_EQ(formateador_->Auditoria()->tamano, kMaxDocumentoTAE + 1);
  EXPECT_EQ(formateador_->NumPaginas(), 1);
}

void EsDocumentoVacio(const TFormatae& f) {
  EXPECT_EQ(f.LongitudTexto(), 0u);
  ASSERT_EQ(f.NumPaginas(), 1);
  EXPECT_EQ(f.Pagina(0)->lineas, 0);
  const AUDIT_TAE& audit = *f.Auditoria();
  EXPECT_EQ(audit.sonido_mayor, 0);
  EXPECT_EQ(audit.ejercicio_mayor, 0);
  ASSERT_NE(audit.bufsontrat, nullptr);
  ASSERT_NE(audit.bufejetrat, nullptr);
  const EJE_TRATADO& e = audit.bufejetrat[0];
  EXPECT_EQ(e.tipo, 0);
  EXPECT_EQ(e.selector, 1);
  EXPECT_EQ(e.area1[0], '*');
  EXPECT_EQ(e.area2[199], '*');
  EXPECT_EQ(e.resultado1 + e.resultado2 + e.escuchas + e.grabaciones + e.comparaciones, 0);
  EXPECT_EQ(e.final, '*');
  EXPECT_EQ(audit.bufsontrat[0].comparaciones, 0);
}

TEST_F(Reader, AnEmptyOrMissingFileIsOneEmptyPage) {
  Cargar("");
  EsDocumentoVacio(*formateador_);
  EXPECT_TRUE(mensajes_.Textos().empty());
  formateador_->CargarDocumento("U:\\NONE.TAE");
  EsDocumentoVacio(*formateador_);
  EXPECT_EQ(formateador_->ResultadoLectura(), TFormatae::Lectura::kNoAbre);
  EXPECT_EQ(mensajes_.Textos(), (V{"Error al abrir el fichero TAE."}));
}

TEST_F(Reader, AShortReadIsReportedAndTheTextNotUsed) {
  // Kernel attribute files promise a page and give a few bytes.
  const char* carpeta = "/sys/devices/system/cpu";
  struct stat info {};
  if (stat((std::string(carpeta) + "/online").c_str(), &info) != 0 || info.st_size != 4096) {
    GTEST_SKIP() << "no attribute file to read short";
  }
  client_.Mount(carpeta, 'C');
  client_.AddLocalLetter('C', "");
  formateador_->CargarDocumento("C:\\online");
  EXPECT_EQ(formateador_->ResultadoLectura(), TFormatae::Lectura::kNoLee);
  EXPECT_EQ(mensajes_.Textos(), (V{"Error en al leer el fichero TAE."}));
  EsDocumentoVacio(*formateador_);
}

// Fails every request of exactly this size.
size_t g_tamano_que_falla = 0;
void* MallocQueFalla(size_t size) {
  return size == g_tamano_que_falla ? nullptr : std::malloc(size);
}

TEST_F(Reader, ADocumentBufferThatCannotBeAllocatedLeavesTheEmptyText) {
  g_tamano_que_falla = 12345 + 1;
  SetOSALMallocForTesting(&MallocQueFalla);
  Cargar(std::string(12345, 'a'));
  SetOSALMallocForTesting(nullptr);
  EXPECT_EQ(formateador_->ResultadoLectura(), TFormatae::Lectura::kSinMemoria);
  EXPECT_EQ(mensajes_.Textos(),
            (V{"Error al pedir 12346 bytes de memoria para doctae.",
               "Error en 'malloc' para el buffer en memoria del fichero TAE."}));
  EsDocumentoVacio(*formateador_);
}

// Fails the n-th request from now.
int g_peticiones = 0;
void* MallocQueFallaLaEnesima(size_t size) {
  return --g_peticiones == 0 ? nullptr : std::malloc(size);
}

TEST_F(Reader, AFormatterMissingOneOfItsRecordsLoadsAndDrawsNothing) {
  const V textos = {"Error en 'malloc' para 'ftae'.", "Error en 'malloc' para 'itae'.",
                    "Error en 'malloc' para 'tabtamchar'.", "Error en 'malloc' para 'paginas'."};
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    mensajes_.Limpiar();
    g_peticiones = n;
    SetOSALMallocForTesting(&MallocQueFallaLaEnesima);
    std::unique_ptr<TFormatae> f(
        TFormatae::Crear(&tae_, 0, 0, 664, 534, 687, 534, 0, 0, 0xFFFFFF, 0xBFDFDF));
    SetOSALMallocForTesting(nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(f->Usable());
    ASSERT_EQ(mensajes_.Textos().size(), 2u);
    EXPECT_EQ(mensajes_.Textos()[1], textos[n - 1]);
    f->CargarDocumento(almacen_.Escribir("A.TAE", "text").c_str());
    EXPECT_EQ(f->NumPaginas(), 0);
    EXPECT_EQ(f->PintarPagina(0), 0);
  }
}

TEST_F(Reader, ThePrePassCountsEveryKeywordAndTheNumbersOfSoundsAndExercises) {
  Cargar(
      "<SONIDO:1,5,A>a<SONIDO:1,0><SONIDO:3,70000,B><SONIDO:2,65535,C><SONIDO:4,3,D>"
      "<SONIDO:3,2,E><EJESCRITO:1,4,n><EJESCRITO:0><EJESCRITO:3,70000,x><EJESCRITO:2,-1,y>"
      "<EJESCRITO:5,9><BOTON:1><BOTON:2><BOTON:3,1,0,0><BOTON:4><BOTON:5><BOTON:6><BOTON:7>"
      "<BOTON:8,1,1,1><BOTON:9><BOTON:0><HUECO:1><HUECO:0><BITMAPF:X,0,1,1><ROLPLAY:1>"
      "<FSPEAK:1><ASPEAK:1,N><INVISIBLE:x><CURSIVA:1><SUBRAYADO:1><TAMANO:12><TABULADOR:1>"
      "<INTERLINEA:20><COLORF:NEGRO><FONT:RUSO>");
  const AUDIT_TAE& a = *formateador_->Auditoria();
  EXPECT_EQ(a.contadores[kCuentaSonido1], 2);
  EXPECT_EQ(a.contadores[kCuentaSonido2], 1);
  EXPECT_EQ(a.contadores[kCuentaSonido3], 2);
  EXPECT_EQ(a.sonidos_abiertos, 3);  // 5, 65535 and 2; 70000 opens nothing
  EXPECT_EQ(a.sonidos_tipo3, 1);
  EXPECT_EQ(a.sonido_menor, 2);
  EXPECT_EQ(a.sonido_mayor, 65535);
  EXPECT_EQ(a.contadores[kCuentaEjEscrito1], 1);
  EXPECT_EQ(a.contadores[kCuentaEjEscrito2], 1);
  EXPECT_EQ(a.contadores[kCuentaEjEscrito3], 1);
  EXPECT_EQ(a.contadores[kCuentaEjEscrito0], 1);
  EXPECT_EQ(a.ejercicios_abiertos, 3);
  EXPECT_EQ(a.ejercicios_tipo3, 1);
  EXPECT_EQ(a.ejercicio_menor, 0);  // 70000 and -1 count as 0
  EXPECT_EQ(a.ejercicio_mayor, 4);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(a.contadores[kCuentaBoton1 + i], 1) << i;
  EXPECT_EQ(a.contadores[kCuentaHueco], 2);  // openings and closings
  for (ContadorTAE c : {kCuentaBitmapF, kCuentaRolPlay, kCuentaFSpeak, kCuentaASpeak,
                        kCuentaInvisible, kCuentaCursiva, kCuentaSubrayado, kCuentaTamano,
                        kCuentaTabulador, kCuentaInterlinea, kCuentaColorF, kCuentaFont}) {
    EXPECT_EQ(a.contadores[c], 1) << kNombresContadoresTAE[c];
  }
  // One record per number up to the highest, cleared.
  EXPECT_EQ(a.bufsontrat[65535].escuchas, 0);
  EXPECT_EQ(a.bufejetrat[4].selector, 1);
  EXPECT_EQ(a.bufejetrat[4].area1[0], '*');
}

TEST_F(Reader, NumbersReadAsAtoiAndSaturate) {
  auto n = [](const std::string& s) { return TFormatae::NumeroTAE(s.data(), s.size()); };
  EXPECT_EQ(n(" \t-12abc"), -12);
  EXPECT_EQ(n("+7"), 7);
  EXPECT_EQ(n("x1"), 0);
  EXPECT_EQ(n(""), 0);
  EXPECT_EQ(n("2147483647"), 2147483647);
  EXPECT_EQ(n("99999999999999"), 2147483647);
  EXPECT_EQ(n("-99999999999999"), -2147483647);
  Cargar("<TAMANO:-99999999999>");
  EXPECT_EQ(formateador_->itae()->estilo.fuente.lfHeight, 2147483647);

  Cargar("<TABULADOR:1,,3><TABULADOR:>");
  const char* t = formateador_->Texto();
  TagTAE tag;
  ASSERT_TRUE(TFormatae::LeerTag(t, formateador_->LongitudTexto(), 0, tag));
  EXPECT_EQ(TFormatae::NumCampos(tag, t), 3);
  EXPECT_EQ(TFormatae::Campo(t, tag, 1).longitud, 0);
  EXPECT_TRUE(TFormatae::Campo(t, tag, 2).existe);
  EXPECT_FALSE(TFormatae::Campo(t, tag, 3).existe);
  EXPECT_EQ(TFormatae::NumeroCampo(t, tag, 3), 0);
  char copia[3];
  EXPECT_EQ(TFormatae::LeerParametro(TFormatae::Campo(t, tag, 2), copia, sizeof copia), 1u);
  EXPECT_STREQ(copia, "3");
  ASSERT_TRUE(TFormatae::LeerTag(t, formateador_->LongitudTexto(), tag.fin, tag));
  EXPECT_EQ(TFormatae::NumCampos(tag, t), 1);  // an empty list is one empty field
}

TEST_F(Reader, TabuladorTakesAtMost17ValuesEachClamped) {
  std::string valores = "-5,40000";
  for (int i = 0; i < 16; ++i) valores += "," + std::to_string(100 + i);
  Cargar("<TABULADOR:" + valores + ">");
  const ESTILO_TAE& e = formateador_->itae()->estilo;
  EXPECT_EQ(e.sangria, 0);
  EXPECT_EQ(e.sangria_primera, 32767);
  EXPECT_EQ(e.tabuladores[0], 100);
  EXPECT_EQ(e.tabuladores[14], 114);  // the 18th value (115) is ignored
  Cargar("<TABULADOR:7>");
  EXPECT_EQ(formateador_->itae()->estilo.sangria, 7);
  EXPECT_EQ(formateador_->itae()->estilo.sangria_primera, 30);  // one field sets one value
}

TEST_F(Reader, StyleSwitchesActOnlyOnAWholeOneOrZero) {
  Cargar("<NEGRITA:1><CURSIVA:1><SUBRAYADO:1>");
  EXPECT_EQ(formateador_->itae()->estilo.fuente.lfWeight, 700);
  EXPECT_EQ(formateador_->itae()->estilo.fuente.lfItalic, 1);
  EXPECT_EQ(formateador_->itae()->estilo.fuente.lfUnderline, 1);
  Cargar("<NEGRITA:1><NEGRITA:01><NEGRITA: 0><CURSIVA:1><CURSIVA:0>");
  EXPECT_EQ(formateador_->itae()->estilo.fuente.lfWeight, 700);
  EXPECT_EQ(formateador_->itae()->estilo.fuente.lfItalic, 0);
  Cargar("<FONT:RUSO>");
  EXPECT_EQ(formateador_->itae()->estilo.fuente.lfCharSet, 204);
  Cargar("<FONT:CHINO>");
  EXPECT_STREQ(formateador_->itae()->estilo.fuente.lfFaceName, "MS Song");
  EXPECT_EQ(formateador_->itae()->estilo.fuente.lfCharSet, 1);
}

}  // namespace
}  // namespace tae_test
