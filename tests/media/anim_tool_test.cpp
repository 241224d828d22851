// lectoria-anim on folders and volumes: check's listing and problems, each
// refusal's one line, frames, render, and usage errors.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/media/anim_fixture.h"

namespace {

using anim_test::CarpetaAnim;
using anim_test::Descripcion;
using anim_test::Score;

struct Salida {
  int codigo = -1;
  std::string out;
  std::string err;
};

std::string Leer(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Descripcion Escena() {
  Descripcion d;
  d.fondos = {{"PL", 1, {2, 3}}, {"PM", 0, {}}};
  d.casts = {{10, 20, 30, 40, 3, 1}, {100, 120, 20, 20, 2, 1}};
  return d;
}

Score Partitura() {
  Score s(30);
  s.pistas[0][0] = 1;
  s.pistas[0][20] = 2;
  for (int f = 0; f < 30; ++f) {
    s.pistas[1][f] = static_cast<uint8_t>(f % 3 + 1);
    if (f % 5 == 0) s.pistas[2][f] = static_cast<uint8_t>((f / 5) % 2 + 1);
    s.secciones[f] = static_cast<uint16_t>(f / 5);
  }
  return s;
}

class AnimToolTest : public testing::Test {
 protected:
  AnimToolTest() { carpeta_.Todo(Escena(), Partitura(), "1\r\n3\r\n5\r\n"); }

  // Runs the tool with the arguments (shell words) after its name.
  Salida Correr(const std::string& argumentos) {
    const std::string out = (carpeta_.Raiz() / "out.txt").string();
    const std::string err = (carpeta_.Raiz() / "err.txt").string();
    const std::string comando =
        std::string(LECTORIA_BIN_DIR) + "/lectoria-anim " + argumentos + " >" + out + " 2>" + err;
    Salida s;
    const int estado = std::system(comando.c_str());
    s.codigo = WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
    s.out = Leer(out);
    s.err = Leer(err);
    return s;
  }
  std::string Dir() const { return carpeta_.Dir().string(); }
  // One refusal line and nothing else.
  void ExpectRefusal(const std::string& linea) {
    const Salida s = Correr("check " + Dir());
    EXPECT_EQ(s.codigo, 1);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.err, "lectoria-anim: " + linea + "\n");
  }

  CarpetaAnim carpeta_;
};

const char* const kListado =
    "size 550x412\n"
    "backgrounds 2\n"
    "background 1 PL priority 1 casts 2,3\n"
    "background 2 PM priority 0 casts none\n"
    "casts 2\n"
    "cast 2 at 10,20 size 30x40 sprites 3 picture CAST1_02_03.PNG\n"
    "cast 3 at 100,120 size 20x20 sprites 2 picture CAST1_03_02.PNG\n"
    "score VM02.00 frames 30 length 6000 ms entries 38 sections 5\n"
    "jumps 3: 1 3 5\n"
    "images 7\n";

TEST_F(AnimToolTest, CheckListsAGoodFolder) {
  const Salida s = Correr("check " + Dir());
  EXPECT_EQ(s.codigo, 0);
  EXPECT_EQ(s.out, kListado);
  EXPECT_EQ(s.err, "");
}

TEST_F(AnimToolTest, CheckReadsAVolumeThroughItsMount) {
  const std::filesystem::path datos = carpeta_.Raiz() / "data";
  std::filesystem::create_directories(datos);
  std::filesystem::create_directories(carpeta_.Raiz() / "src");
  std::filesystem::rename(carpeta_.Dir(), carpeta_.Raiz() / "src" / "ANIM");
  ASSERT_EQ(std::system((std::string(LECTORIA_BIN_DIR) + "/ehdd-volume build " +
                         (carpeta_.Raiz() / "src").string() + " " + (datos / "unit001").string() +
                         " >/dev/null")
                            .c_str()),
            0);
  const Salida s = Correr("--local-root " + carpeta_.Raiz().string() +
                          "/ --local U --mount 'U=data\\unit001.dat' check 'U:\\ANIM'");
  EXPECT_EQ(s.codigo, 0) << s.err;
  EXPECT_EQ(s.out, kListado);
  EXPECT_EQ(s.err, "");
}

TEST_F(AnimToolTest, CheckTellsWhatThePlayerToleratesInItsOrder) {
  Score s = Partitura();
  s.pistas[0][1] = 3;  // only two backgrounds
  s.pistas[1][2] = 4;  // cast 2 has three sprites
  s.pistas[2][2] = 9;
  s.pistas[5][2] = 9;  // track of an undefined cast: not looked at
  carpeta_.Escribir("SCORE.VM", s.VM02());
  carpeta_.Escribir("JUMPS.TXT", "1\r\n\r\nabc\r\n70000\r\n3\r\n2\r\n12x\r\n");
  carpeta_.Borrar("FONDO2.PNG");
  carpeta_.Imagen("CAST1_02_03.PNG", 30, 40, 2);
  carpeta_.Escribir("CAST1_03_02.PNG", "not a picture");
  carpeta_.Borrar("DIALOGO.OGG");
  const Salida r = Correr("check " + Dir());
  EXPECT_EQ(r.codigo, 1);
  EXPECT_EQ(r.out.substr(0, 13), "size 550x412\n");
  EXPECT_EQ(r.err,
            "lectoria-anim: SCORE.VM: frame 1: background 3 is not defined\n"
            "lectoria-anim: SCORE.VM: frame 2: cast 2 has no sprite 4\n"
            "lectoria-anim: SCORE.VM: frame 2: cast 3 has no sprite 9\n"
            "lectoria-anim: JUMPS.TXT:3: not a number\n"
            "lectoria-anim: JUMPS.TXT:4: out of range\n"
            "lectoria-anim: JUMPS.TXT:6: below the jump before it\n"
            "lectoria-anim: JUMPS.TXT:7: not a number\n"
            "lectoria-anim: CAST1_02_03.PNG: 60x40, expected 90x40\n"
            "lectoria-anim: CAST1_03_02.PNG: cannot be decoded\n"
            "lectoria-anim: FONDO2.PNG: missing\n"
            "lectoria-anim: DIALOGO.OGG: missing\n");

  std::string jumps;
  for (int i = 0; i < 302; ++i) jumps += std::to_string(i) + "\r\n";
  carpeta_.Escribir("JUMPS.TXT", jumps);
  const Salida muchos = Correr("check " + Dir());
  EXPECT_NE(muchos.err.find("lectoria-anim: JUMPS.TXT:301: more than 300 jumps\n"
                            "lectoria-anim: CAST1_02_03.PNG"),
            std::string::npos)
      << muchos.err;
}

TEST_F(AnimToolTest, EachRefusalIsOneLine) {
  carpeta_.Escribir("DEFANIM.TXT", "[CABECERA]\r\nv=eVM01.00\r\nancho550\r\nalto=412\r\n");
  ExpectRefusal("DEFANIM.TXT:4: Falta el atributo ancho.");
  carpeta_.Escribir("DEFANIM.TXT", "[CABECERA]\r\nv=eVM01.00\r\nancho=550\r\nalto");
  ExpectRefusal("DEFANIM.TXT:4: Linea de atributo=valor incorrecta.");
  carpeta_.Escribir("DEFANIM.TXT", "\r\n");
  ExpectRefusal("DEFANIM.TXT: Version de DEFANIM.TXT no soportada.");
  Descripcion grande;
  grande.fondos = {{"PL", 1, {2, 2}}};
  grande.casts = {{0, 0, 1, 1, 250, 1}};
  carpeta_.Escribir("DEFANIM.TXT", grande.Texto());
  ExpectRefusal("DEFANIM.TXT: Demasiadas imagenes en la animacion.");
  carpeta_.Borrar("DEFANIM.TXT");
  ExpectRefusal("DEFANIM.TXT: No se ha podido abrir el fichero DEFANIM.TXT");

  carpeta_.Escribir("DEFANIM.TXT", Escena().Texto());
  const std::string vm = Partitura().VM02();
  carpeta_.Escribir("SCORE.VM", vm.substr(0, vm.size() - 1));
  ExpectRefusal("SCORE.VM: too short");
  carpeta_.Escribir("SCORE.VM", "VM02.01" + vm.substr(7));
  ExpectRefusal("SCORE.VM: version not supported");
  carpeta_.Escribir("SCORE.VM", std::string("VM02.00\0\xEF\x07", 10));
  ExpectRefusal("SCORE.VM: more than 2030 frames");
  carpeta_.Borrar("SCORE.VM");
  ExpectRefusal("SCORE.VM: cannot be opened");
}

TEST_F(AnimToolTest, FramesListsWhatWasDrawnAtEachTime) {
  const Salida s = Correr("frames " + Dir() + " --at 0,1000,4100,99999");
  EXPECT_EQ(s.codigo, 0) << s.err;
  EXPECT_EQ(s.err, "");
  EXPECT_EQ(s.out,
            "0 frame 0 section 0 background 1\n"
            "0 cast 2 sprite 1 at 10,20\n"
            "0 cast 3 sprite 1 at 100,120\n"
            "1000 frame 5 section 1 background 1\n"
            "1000 cast 2 sprite 3 at 10,20\n"
            "1000 cast 3 sprite 2 at 100,120\n"
            "4100 frame 20 section 4 background 2\n"
            "4100 cast 2 sprite 3 at 10,20\n"
            "4100 cast 3 sprite 1 at 100,120\n"
            "99999 frame 29 section 5 background 2\n"
            "99999 cast 2 sprite 3 at 10,20\n"
            "99999 cast 3 sprite 2 at 100,120\n");
  // From frame 22: the scene of frame 20 is restored first.
  const Salida desde = Correr("frames " + Dir() + " --from 22 --at 4400");
  EXPECT_EQ(desde.out,
            "4400 frame 22 section 4 background 2\n"
            "4400 cast 2 sprite 2 at 10,20\n"
            "4400 cast 3 sprite 1 at 100,120\n");
  // The pictures are not needed.
  for (const char* nombre : {"FONDO1.PNG", "FONDO2.PNG", "CAST1_02_03.PNG", "CAST1_03_02.PNG"}) {
    carpeta_.Borrar(nombre);
  }
  EXPECT_EQ(Correr("frames " + Dir() + " --at 0,1000,4100,99999").out, s.out);

  Salida mal = Correr("frames " + Dir() + " --from 30 --at 7000");
  EXPECT_EQ(mal.codigo, 1);
  EXPECT_EQ(mal.out, "");
  EXPECT_EQ(mal.err, "lectoria-anim: --from 30: the score has 30 frames\n");
  EXPECT_EQ(Correr("frames " + Dir() + " --from 29 --at 5800").codigo, 0);
  mal = Correr("frames " + Dir() + " --from 5 --at 2000,999");
  EXPECT_EQ(mal.codigo, 1);
  EXPECT_EQ(mal.out, "");
  EXPECT_EQ(Correr("frames " + Dir() + " --from 5 --at 1000").codigo, 0);

  carpeta_.Escribir("SCORE.VM", Score(0).VM02());
  const Salida vacio = Correr("frames " + Dir() + " --at 0,400");
  EXPECT_EQ(vacio.codigo, 0);
  EXPECT_EQ(vacio.out, "0 frame none\n400 frame none\n");
}

// A background drawn again covers the casts drawn before it: frames lists
// only the casts drawn since (restored ones included), as render shows.
TEST_F(AnimToolTest, FramesListsOnlyTheCastsDrawnAfterTheLastBackground) {
  Score s(30);
  s.pistas[0][0] = 1;
  s.pistas[0][10] = 1;  // the same background again
  for (int f = 0; f < 30; ++f) {
    s.pistas[1][f] = static_cast<uint8_t>(f % 3 + 1);  // cast 2 in every frame
    s.secciones[f] = static_cast<uint16_t>(f / 5);
  }
  for (int f = 0; f < 5; ++f) s.pistas[2][f] = 1;  // cast 3 only before frame 10
  s.pistas[2][11] = 2;                              // and once after it
  carpeta_.Escribir("SCORE.VM", s.VM02());
  Salida r = Correr("frames " + Dir() + " --at 800,2000,2200");
  EXPECT_EQ(r.codigo, 0) << r.err;
  EXPECT_EQ(r.out,
            "800 frame 4 section 0 background 1\n"
            "800 cast 2 sprite 2 at 10,20\n"
            "800 cast 3 sprite 1 at 100,120\n"
            "2000 frame 10 section 2 background 1\n"
            "2000 cast 2 sprite 2 at 10,20\n"
            "2200 frame 11 section 2 background 1\n"
            "2200 cast 2 sprite 3 at 10,20\n"
            "2200 cast 3 sprite 2 at 100,120\n");
  // A play from inside the scene: the scene of frame 10 is restored, cast 3
  // with it only once it was drawn since that background.
  r = Correr("frames " + Dir() + " --from 11 --at 2200");
  EXPECT_EQ(r.out,
            "2200 frame 11 section 2 background 1\n"
            "2200 cast 2 sprite 3 at 10,20\n"
            "2200 cast 3 sprite 2 at 100,120\n");
  r = Correr("frames " + Dir() + " --from 12 --at 2400");
  EXPECT_EQ(r.out,
            "2400 frame 12 section 2 background 1\n"
            "2400 cast 2 sprite 1 at 10,20\n"
            "2400 cast 3 sprite 2 at 100,120\n");
  s.pistas[2][11] = 0;
  carpeta_.Escribir("SCORE.VM", s.VM02());
  r = Correr("frames " + Dir() + " --from 12 --at 2400");
  EXPECT_EQ(r.out,
            "2400 frame 12 section 2 background 1\n"
            "2400 cast 2 sprite 1 at 10,20\n");
  // What render shows at frame 10: the background where cast 3 stood.
  const std::string png = (carpeta_.Dir() / "AREA.PNG").string();
  ASSERT_EQ(Correr("render " + Dir() + " --at 2000 --out " + png).codigo, 0);
  TGestorGDI gdi;
  TGestorBMP bmp(nullptr, &gdi, &carpeta_.cliente);
  uint32_t ancho = 0;
  uint32_t alto = 0;
  uint8_t* rgb = bmp.LeerPNGToMemoryRGB("U:\\ANIM\\AREA.PNG", &ancho, &alto);
  ASSERT_NE(rgb, nullptr);
  const uint8_t* p = rgb + (static_cast<size_t>(125) * ancho + 105) * 3;
  EXPECT_EQ(platform::gfx::Rgb(p[0], p[1], p[2]), platform::gfx::Rgb(10, 0, 99));  // background 1
  OSAL::Free(rgb);
}

TEST_F(AnimToolTest, RenderWritesTheDrawingArea) {
  const std::string png = (carpeta_.Dir() / "AREA.PNG").string();
  const Salida s = Correr("render " + Dir() + " --at 4100 --out " + png);
  ASSERT_EQ(s.codigo, 0) << s.err;
  EXPECT_EQ(s.out, "");
  TGestorGDI gdi;
  TGestorBMP bmp(nullptr, &gdi, &carpeta_.cliente);
  uint32_t ancho = 0;
  uint32_t alto = 0;
  uint8_t* rgb = bmp.LeerPNGToMemoryRGB("U:\\ANIM\\AREA.PNG", &ancho, &alto);
  ASSERT_NE(rgb, nullptr);
  EXPECT_EQ(ancho, 550u);
  EXPECT_EQ(alto, 412u);
  auto pixel = [&](int x, int y) {
    const uint8_t* p = rgb + (static_cast<size_t>(y) * ancho + x) * 3;
    return platform::gfx::Rgb(p[0], p[1], p[2]);
  };
  EXPECT_EQ(pixel(300, 300), platform::gfx::Rgb(20, 0, 99));  // background 2
  EXPECT_EQ(pixel(15, 25), anim_test::Celda(0));              // cast 2, sprite 3
  EXPECT_EQ(pixel(105, 125), anim_test::Celda(1));            // cast 3, sprite 1
  OSAL::Free(rgb);

  std::filesystem::remove(png);
  carpeta_.Imagen("FONDO2.PNG", 550, 411);
  const Salida mal = Correr("render " + Dir() + " --at 4100 --out " + png);
  EXPECT_EQ(mal.codigo, 1);
  EXPECT_EQ(mal.err, "lectoria-anim: FONDO2.PNG: 550x411, expected 550x412\n");
  EXPECT_FALSE(std::filesystem::exists(png));
}

TEST_F(AnimToolTest, UsageErrorsExitWith2) {
  for (const std::string& argumentos :
       {std::string(""), std::string("check"), "check " + Dir() + " extra", "frames " + Dir(),
        "frames " + Dir() + " --at 1,x", "frames " + Dir() + " --at 1 --from -1",
        "render " + Dir() + " --at 1", "render " + Dir() + " --at 1,2 --out x.png",
        std::string("--bogus check x"), "dance " + Dir()}) {
    const Salida s = Correr(argumentos);
    EXPECT_EQ(s.codigo, 2) << argumentos;
    EXPECT_EQ(s.out, "") << argumentos;
    std::istringstream lineas(s.err);
    int n = 0;
    for (std::string linea; std::getline(lineas, linea); ++n) {
      EXPECT_EQ(linea.rfind("lectoria-anim: ", 0), 0u) << linea;
    }
    EXPECT_GT(n, 0) << argumentos;
  }
}

}  // namespace
