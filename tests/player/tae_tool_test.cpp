// lectoria-tae: its exact outputs, its exit codes and its paths.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

struct Salida {
  int codigo = -1;
  std::string out;
  std::string err;
};

class Herramienta : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-tae-tool-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Escribir(const std::string& nombre, const std::string& bytes) {
    const fs::path path = dir_ / nombre;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  static std::string Leer(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  Salida Correr(const std::string& argumentos) {
    const std::string out = (dir_ / "out").string();
    const std::string err = (dir_ / "err").string();
    const std::string orden =
        std::string(LECTORIA_BIN_DIR) + "/lectoria-tae " + argumentos + " >" + out + " 2>" + err;
    const int estado = std::system(orden.c_str());
    Salida salida;
    salida.codigo = WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
    salida.out = Leer(out);
    salida.err = Leer(err);
    return salida;
  }

  fs::path dir_;
};

std::string Contadores(const std::string& distintos) {
  // The 31 counters, all 0 but those given as "NAME N" lines.
  const char* nombres[] = {
      "COLOR",      "NEGRITA",    "CURSIVA", "SUBRAYADO", "SALTOPAG", "TAMANO",     "TABULADOR",
      "COLORF",     "INTERLINEA", "SONIDO1", "SONIDO2",   "SONIDO3",  "EJESCRITO1", "EJESCRITO2",
      "EJESCRITO3", "EJESCRITO0", "HUECO",   "BITMAPF",   "BOTON1",   "BOTON2",     "BOTON3",
      "BOTON4",     "BOTON5",     "BOTON6",  "BOTON7",    "BOTON8",   "ROLPLAY",    "FSPEAK",
      "ASPEAK",     "INVISIBLE",  "FONT"};
  std::string out;
  for (const char* nombre : nombres) {
    const std::string clave = std::string(nombre) + " ";
    const size_t at = distintos.find(clave);
    const bool exacto = at != std::string::npos && (at == 0 || distintos[at - 1] == '\n');
    out +=
        "count " + clave +
        (exacto ? distintos.substr(at + clave.size(), distintos.find('\n', at) - at - clave.size())
                : "0") +
        "\n";
  }
  return out;
}

TEST_F(Herramienta, ParsePrintsElementsCountersAndNumbers) {
  const std::string bytes =
      "Hi <NEGRITA:1>\"x\\\"\r\n\t<SONIDO:1,7,S1>s<SONIDO:1,0><QQ<FONT:CHINO>\x01\xFF";
  const std::string path = Escribir("DOC.TAE", bytes);
  const Salida s = Correr("parse " + path);
  EXPECT_EQ(s.codigo, 0);
  EXPECT_EQ(s.err, "lectoria-tae: AE desconocido al preformatear el texto TAE\n");
  EXPECT_EQ(s.out, "size " + std::to_string(bytes.size()) +
                       "\n"
                       "0 text 3 \"Hi \"\n"
                       "1 tag NEGRITA \"1\"\n"
                       "2 text 4 \"\\\"x\\\\\\\"\"\n"
                       "3 lf\n"
                       "4 tab\n"
                       "5 tag SONIDO \"1,7,S1\"\n"
                       "6 text 1 \"s\"\n"
                       "7 tag SONIDO \"1,0\"\n"
                       "8 unknown\n"
                       "9 text 2 \"QQ\"\n"
                       "10 tag FONT \"CHINO\"\n"
                       "11 text2 2 \"\\x01\\xFF\"\n"
                       "elements 12\n" +
                       Contadores("NEGRITA 1\nSONIDO1 2\nFONT 1\n") +
                       "sounds 7 7 1 0\n"
                       "exercises 9999 0 0 0\n");
}

TEST_F(Herramienta, PagesPrintsEachPageAsDrawn) {
  std::string texto = "one\n<INTERLINEA:30>two\n<SALTOPAG:><NEGRITA:1>three<SALTOPAG:>";
  for (int i = 0; i < 30; ++i) texto += "l\n";
  const Salida s = Correr("pages " + Escribir("P.TAE", texto));
  EXPECT_EQ(s.codigo, 0);
  EXPECT_EQ(s.err, "");
  EXPECT_EQ(s.out,
            "pages 3\n"
            "page 1 first 0 style 0 lines 3 drawn 3 end break ys 0,20,50\n"
            "page 2 first 6 style 1 lines 1 drawn 1 end break ys 0\n"
            "page 3 first 9 style 2 lines 30 drawn 17 end full "
            "ys 0,30,60,90,120,150,180,210,240,270,300,330,360,390,420,450,480\n");
  // An empty text is one page with no lines and no element.
  EXPECT_EQ(Correr("pages " + Escribir("E.TAE", "")).out,
            "pages 1\npage 1 first 0 style 0 lines 0 drawn 0 end text ys -\n");
}

TEST_F(Herramienta, LinesAndRoleplayPrintWhatWasRead) {
  const Salida l = Correr("lines " + Escribir("L.TXT", "title\r\n\"q\"\\\x01\r\n\r\nlast"));
  EXPECT_EQ(l.codigo, 0);
  EXPECT_EQ(l.out, "count 4\n0 5 \"title\"\n1 5 \"\\\"q\\\"\\\\\\x01\"\n2 0 \"\"\n3 4 \"last\"\n");

  const Salida r = Correr(
      "roleplay " + Escribir("R.RLP", "2\r\n3\r\n40\r\nRP01\r\nRP02\r\nRP03\r\n0,2,\r\n1,\r\n"));
  EXPECT_EQ(r.codigo, 0);
  EXPECT_EQ(r.out,
            "characters 2\nlines 3\nwidth 40\nfinished 1\n"
            "name 0 \"RP01\" 0\nname 1 \"RP02\" 0\nname 2 \"RP03\" 0\n"
            "row 0 0,2,255\nrow 1 1,255\n");
  // A refused count: the command ran, and prints what was read.
  const Salida refused = Correr("roleplay " + Escribir("X.RLP", "7\r\n"));
  EXPECT_EQ(refused.codigo, 0);
  EXPECT_EQ(refused.err,
            "lectoria-tae: Error excedido el numero maximo de personajes de ROLEPLAY.\n");
  EXPECT_EQ(refused.out, "characters 0\nlines 0\nwidth 0\nfinished 1\n");
}

TEST_F(Herramienta, VirtualPathsUseTheStoreOptions) {
  Escribir("root/data/unit/DOC.TAE", "a<SALTOPAG:>b");
  const Salida s = Correr("--local-root " + (dir_ / "root").string() +
                          "/ --local U --mount 'U=data\\unit' pages 'U:\\DOC.TAE'");
  EXPECT_EQ(s.codigo, 0);
  EXPECT_EQ(s.out,
            "pages 2\npage 1 first 0 style 0 lines 1 drawn 1 end break ys 0\n"
            "page 2 first 2 style 0 lines 1 drawn 1 end text ys 0\n");
}

TEST_F(Herramienta, UnreadableFilesExit1AndBadUsageExit2) {
  const std::string none = (dir_ / "NONE.TAE").string();
  Salida s = Correr("parse " + none);
  EXPECT_EQ(s.codigo, 1);
  EXPECT_EQ(s.err, "lectoria-tae: Error al abrir el fichero TAE.\n");
  EXPECT_EQ(s.out, "");
  EXPECT_EQ(Correr("pages " + none).codigo, 1);
  s = Correr("roleplay " + none);
  EXPECT_EQ(s.codigo, 1);
  EXPECT_EQ(s.err, "lectoria-tae: No se ha podido abrir el fichero de ROLEPLAY\n");
  s = Correr("lines " + none);
  EXPECT_EQ(s.codigo, 1);
  EXPECT_EQ(s.err, "lectoria-tae: cannot open " + none + "\n");

  EXPECT_EQ(Correr("").codigo, 2);
  EXPECT_EQ(Correr("parse").codigo, 2);
  EXPECT_EQ(Correr("render " + none).codigo, 2);
  EXPECT_EQ(Correr("parse a b").codigo, 2);
  s = Correr("--server x parse " + none);
  EXPECT_EQ(s.codigo, 2);
  EXPECT_NE(s.err.find("usage: lectoria-tae"), std::string::npos);
  EXPECT_EQ(Correr("--mount U parse " + none).codigo, 2);
}

// Lines of the output, one string each.
std::vector<std::string> Lineas(const std::string& texto) {
  std::vector<std::string> lineas;
  std::istringstream in(texto);
  for (std::string l; std::getline(in, l);) lineas.push_back(l);
  return lineas;
}

TEST_F(Herramienta, RenderClicksTypesAndPrintsThePage) {
  const std::string doc = Escribir("DOCSI.TAE",
                                   "<SONIDO:1,5,S00005>Hello<SONIDO:1,0>\n"
                                   "<EJESCRITO:1,3,A0003><HUECO:1>cat<HUECO:0><EJESCRITO:0>\n"
                                   "<BOTON:1,10,100><FSPEAK:4>");
  const std::string png = (dir_ / "page.png").string();
  const Salida s = Correr("render " + doc + " --page 1 --out " + png +
                          " --click 4,8 --click 2,28 --type 'cx\\bxt\\n' --regions");
  ASSERT_EQ(s.codigo, 0) << s.err;
  const std::vector<std::string> l = Lineas(s.out);
  ASSERT_EQ(l.size(), 15u) << s.out;
  EXPECT_EQ(l[0], "page 1 of 1");
  EXPECT_EQ(l[1].rfind("region 1 1 0 1 ", 0), 0u) << l[1];
  EXPECT_NE(l[1].find(" 15 -1 5 \"S00005\""), std::string::npos) << l[1];
  EXPECT_EQ(l[2].rfind("region 2 2 0 21 ", 0), 0u) << l[2];
  EXPECT_NE(l[2].find(" 35 -1 3 entry=1"), std::string::npos) << l[2];
  EXPECT_EQ(l[3].rfind("region 3 11 0 21 ", 0), 0u) << l[3];
  EXPECT_NE(l[3].find(" 35 -1 3 entry=1 start=0 length=3 width="), std::string::npos) << l[3];
  EXPECT_EQ(l[4], "region 4 3 10 100 40 130 -1 0 -");
  EXPECT_EQ(l[5], "region 5 10 0 41 10 50 -1 4 -");
  EXPECT_EQ(l[6], "exercise 1 3 1 1 wrong \"cat}\" \"---}\" \"cxt\"");
  EXPECT_EQ(l[7].rfind("caret ", 0), 0u);
  EXPECT_NE(l[7].find(" 21 shown"), std::string::npos) << l[7];
  EXPECT_EQ(l[8], "cursor 32513");
  EXPECT_EQ(l[9], "counters errors=1 answers=0");
  EXPECT_EQ(l[10], "call StopAudio");
  EXPECT_EQ(l[11], "call StopAudio");
  EXPECT_EQ(l[12], "call PlayAudio \"S00005\" 1");
  EXPECT_EQ(l[13], "message \"X:\\\\HDD\\\\DATOS\\\\SKIN\\\\COMUN\\\\BTNSOLN.PNG\"");
  EXPECT_EQ(l[14], "message \"X:\\\\HDD\\\\DATOS\\\\SKIN\\\\COMUN\\\\SIGMAL.PNG\"");
  EXPECT_EQ(s.err,
            "lectoria-tae: X:\\HDD\\DATOS\\SKIN\\COMUN\\BTNSOLN.PNG\n"
            "lectoria-tae: X:\\HDD\\DATOS\\SKIN\\COMUN\\SIGMAL.PNG\n");
  // The picture is the 687 x 534 page.
  const std::string bytes = Leer(png);
  ASSERT_GT(bytes.size(), 24u);
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
  EXPECT_EQ(static_cast<unsigned char>(bytes[18]) * 256 + static_cast<unsigned char>(bytes[19]),
            687);
  EXPECT_EQ(static_cast<unsigned char>(bytes[22]) * 256 + static_cast<unsigned char>(bytes[23]),
            534);
  // Without --regions nothing is printed.
  EXPECT_EQ(Correr("render " + doc + " --page 1 --out " + png).out, "");
}

TEST_F(Herramienta, RenderOfASoundClosingAtALineStartPlaysOnlyFromItsText) {
  // The sound goes on past its paragraph's end: its closing tag opens line 2.
  const std::string doc =
      Escribir("PHSI.TAE", "<SONIDO:1,1,S1>hello there\n<SONIDO:1,0>tail words here");
  const std::string png = (dir_ / "ph.png").string();
  const std::string orden = "render " + doc + " --page 1 --out " + png + " --regions";
  Salida s = Correr(orden);
  ASSERT_EQ(s.codigo, 0) << s.err;
  const std::vector<std::string> l = Lineas(s.out);
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ(l[1].rfind("region 1 1 0 1 ", 0), 0u) << l[1];
  EXPECT_EQ(l[2], "region 2 1 0 21 0 35 0 1 \"S1\"");  // empty
  // Blank space right of the text, and "tail": nothing plays; "hello" plays.
  for (const char* clic : {"300,28", "4,28"}) {
    s = Correr(orden + " --click " + clic);
    EXPECT_EQ(s.out.find("PlayAudio"), std::string::npos) << clic << "\n" << s.out;
  }
  s = Correr(orden + " --click 10,8");
  EXPECT_NE(s.out.find("call PlayAudio \"S1\" 1"), std::string::npos) << s.out;
}

TEST_F(Herramienta, RenderRefusesPagesEventsAndPicturesItCannotHave) {
  const std::string doc = Escribir("R.TAE", "a<SALTOPAG:>b");
  const std::string png = (dir_ / "p.png").string();
  EXPECT_EQ(Correr("render " + doc + " --page 2 --out " + png).codigo, 0);
  Salida s = Correr("render " + doc + " --page 3 --out " + png);
  EXPECT_EQ(s.codigo, 1);
  EXPECT_EQ(s.err, "lectoria-tae: page 3: the document has 2 pages\n");
  EXPECT_EQ(Correr("render " + doc + " --page 0 --out " + png).codigo, 1);
  s = Correr("render " + doc + " --page 1 --out " + (dir_ / "no" / "p.png").string());
  EXPECT_EQ(s.codigo, 1);
  EXPECT_EQ(s.err.rfind("lectoria-tae: cannot write ", 0), 0u) << s.err;
  EXPECT_EQ(Correr("render " + (dir_ / "NONE.TAE").string() + " --page 1 --out " + png).codigo, 1);
  for (const std::string& malo :
       {std::string("--click '1;2'"), std::string("--click 1,70000"), std::string("--type '\\q'"),
        std::string("--type '\xF0\x9F\x98\x80'"), std::string("--page x"),
        std::string("--regions")}) {
    const std::string orden = "render " + doc + " --page 1 --out " + png + " " + malo;
    EXPECT_EQ(Correr(malo == "--regions" ? "render " + doc + " --regions" : orden).codigo, 2)
        << malo;
  }
  // Every key sequence is accepted, and a character as high as U+FFFF.
  EXPECT_EQ(Correr("render " + doc + " --page 1 --out " + png +
                   " --type '\\n\\t\\b\\e\\x\\L\\R\\U\\D\\\\\xEF\xBF\xBF'")
                .codigo,
            0);
}

}  // namespace
