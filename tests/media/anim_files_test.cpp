// The three description readers: DEFANIM.TXT's blocks, texts, lines and
// bounds; SCORE.VM's two versions and its refusals; JUMPS.TXT's lines.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/media/anim_fixture.h"

namespace {

using anim_test::CarpetaAnim;
using anim_test::Descripcion;
using anim_test::Mensajes;
using anim_test::Score;

const std::string kCabecera = "[CABECERA]\r\nversion=eVM01.00\r\nancho=550\r\nalto=412\r\n";

class AnimFilesTest : public testing::Test {
 protected:
  AnimFilesTest() {
    anim_.SetEHDDClient(&carpeta_.cliente);
    anim_.SetOSAL(&osal_);
  }

  int Def(const std::string& texto) {
    carpeta_.Escribir("DEFANIM.TXT", texto);
    return anim_.LeerDefAnim("U:\\ANIM\\DEFANIM.TXT");
  }
  int Vm(const std::string& bytes) {
    carpeta_.Escribir("SCORE.VM", bytes);
    return anim_.LeerScore("U:\\ANIM\\SCORE.VM");
  }
  std::vector<uint16_t> Jumps(const std::string& texto) {
    carpeta_.Escribir("JUMPS.TXT", texto);
    EXPECT_EQ(anim_.LeerJumps("U:\\ANIM\\JUMPS.TXT"), 0);
    std::vector<uint16_t> v;
    for (uint16_t i = 0; i < anim_.NumJumps(); ++i) v.push_back(anim_.Jump(i));
    return v;
  }
  // A refusal: its line and text, one box with that text, no exit.
  void ExpectRefused(const std::string& texto, uint32_t linea, const std::string& mensaje) {
    const size_t cajas = mensajes_.Cajas().size();
    EXPECT_EQ(Def(texto), -1) << texto;
    EXPECT_EQ(anim_.Error().fichero, "DEFANIM.TXT");
    EXPECT_EQ(anim_.Error().linea, linea) << texto;
    EXPECT_EQ(anim_.Error().texto, mensaje) << texto;
    ASSERT_EQ(mensajes_.Cajas().size(), cajas + 1);
    EXPECT_EQ(mensajes_.Cajas().back(), mensaje);
    EXPECT_TRUE(mensajes_.Salidas().empty());
  }

  Mensajes mensajes_;
  CarpetaAnim carpeta_;
  OSAL osal_;
  TGestorAnim anim_;
};

TEST_F(AnimFilesTest, AGoodDescriptionFillsItsRecords) {
  Descripcion d;
  d.fondos = {{"PCC", 1, {3, 2}}, {"PE", 0, {}}, {"PM", 7, {2}}};
  d.casts = {{10, 20, 30, 40, 3, 1}, {100, 120, 20, 25, 2, 2}};
  ASSERT_EQ(Def(d.Texto()), 0);
  EXPECT_EQ(anim_.AnchoFondo(), 550);
  EXPECT_EQ(anim_.AltoFondo(), 412);
  ASSERT_EQ(anim_.NumFondos(), 3);
  EXPECT_EQ(anim_.Fondo(1).tipo, 4);
  EXPECT_EQ(anim_.Fondo(1).num_casts, 2);
  EXPECT_EQ(anim_.Fondo(1).casts[0], 3);
  EXPECT_EQ(anim_.Fondo(2).tipo, 5);
  EXPECT_EQ(anim_.Fondo(3).prioridad, 7);
  ASSERT_EQ(anim_.NumCasts(), 2);
  const CastAnim& c3 = anim_.Cast(3);
  EXPECT_EQ(c3.x, 100);
  EXPECT_EQ(c3.y, 120);
  EXPECT_EQ(c3.ancho, 20);
  EXPECT_EQ(c3.alto, 25);
  EXPECT_EQ(c3.num_sprites, 2);
  EXPECT_EQ(c3.id_fondo, 2);
  // Background 3 (priority 7) is never loaded: its listing counts nothing.
  EXPECT_EQ(anim_.ContarImagenes(), 1u + 2 + 3 + 1);
  const std::vector<ImagenPlan> plan = anim_.PlanDeCarga();
  ASSERT_EQ(plan.size(), 4u);
  EXPECT_EQ(plan[0].nombre, "FONDO1.PNG");
  EXPECT_EQ(plan[1].nombre, "CAST2_03_02.PNG");
  EXPECT_EQ(plan[1].ancho, 40u);
  EXPECT_EQ(plan[1].alto, 25u);
  EXPECT_EQ(plan[2].nombre, "CAST1_02_03.PNG");
  EXPECT_EQ(plan[3].nombre, "FONDO2.PNG");
  EXPECT_TRUE(mensajes_.Cajas().empty());
}

TEST_F(AnimFilesTest, CountsOfZeroEndTheirBlocksAndCastEndFirstListsNone) {
  ASSERT_EQ(Def(kCabecera + "[FONDOS]\r\nnumfondos=0\r\n\r\n[CASTS]\r\nnumcasts=0\r\n"), 0);
  EXPECT_EQ(anim_.NumFondos(), 0);
  EXPECT_EQ(anim_.NumCasts(), 0);
  ASSERT_EQ(
      Def(kCabecera + "[FONDOS]\r\nnumfondos=1\r\nf=1\r\nt=PL\r\nprioridad=1\r\ncast=end\r\n"), 0);
  EXPECT_EQ(anim_.Fondo(1).num_casts, 0);
  // The last line needs no CR LF.
  ASSERT_EQ(Def("[CABECERA]\r\nv=eVM01.00\r\nancho=5\r\nalto=6"), 0);
  EXPECT_EQ(anim_.AltoFondo(), 6);
}

TEST_F(AnimFilesTest, AListedCastNeverDefinedLoadsNothing) {
  ASSERT_EQ(Def(kCabecera +
                "[FONDOS]\r\nnumfondos=1\r\nf=1\r\nt=PL\r\nprioridad=0\r\ncast=5\r\ncast=end\r\n"
                "[CASTS]\r\nnumcasts=1\r\nc=2\r\ncx=0\r\ncy=0\r\nancho=4\r\nalto=4\r\n"
                "numsprites=3\r\nidfondo=1\r\n"),
            0);
  EXPECT_EQ(anim_.ContarImagenes(), 1u);
  ASSERT_EQ(anim_.PlanDeCarga().size(), 1u);
}

TEST_F(AnimFilesTest, EachTextOfTheTableAtItsLine) {
  const std::string fondos = kCabecera + "[FONDOS]\r\nnumfondos=1\r\n";
  const std::string casts = kCabecera + "[CASTS]\r\nnumcasts=1\r\ncast=2\r\n";
  struct Caso {
    std::string texto;
    uint32_t linea;
    std::string mensaje;
  };
  const std::vector<Caso> casos = {
      {"[CABECERA]\r\nversion", 2, "Linea de atributo=valor incorrecta."},
      {"[CABECERA]\r\nversion\r\n", 3, "Linea de atributo=valor incorrecta."},
      {"[CABECERA]\r\nversion=eVM01.01\r\n", 2, "Version de DEFANIM.TXT no soportada."},
      {"[CABECERA]\r\nv=eVM01.00\r\nanch=550\r\n", 3, "Falta el atributo ancho."},
      {"[CABECERA]\r\nv=eVM01.00\r\nancho=550\r\nAlto=412\r\n", 4, "Falta el atributo alto."},
      // The name runs across the line end up to the next '='.
      {"[CABECERA]\r\nv=eVM01.00\r\nancho550\r\nalto=412\r\n", 4, "Falta el atributo ancho."},
      {kCabecera + "[FONDOS]\r\nfondos=1\r\n", 6, "Falta el atributo numfondos."},
      {fondos + "fondo=2\r\n", 7, "Falta la definicion de un fondo."},
      {fondos + "fondo=1\r\ntipo=PX\r\n", 8, "Atributo tipo incorrecto."},
      {fondos + "fondo=1\r\ntipo=pl\r\n", 8, "Atributo tipo incorrecto."},
      {fondos + "fondo=1\r\ntipo=PL\r\nprio=1\r\n", 9, "Falta el atributo prioridad."},
      {fondos + "fondo=1\r\ntipo=PL\r\nprioridad=1\r\ncasts=2\r\n", 10, "Falta el atributo cast."},
      {kCabecera + "[CASTS]\r\nnum=1\r\n", 6, "Falta el atributo numcasts."},
      {kCabecera + "[CASTS]\r\nnumcasts=1\r\ncast=3\r\n", 7, "Falta la definicion de un cast."},
      {casts + "x=0\r\n", 8, "Falta el atributo cx."},
      {casts + "cx=0\r\ny=0\r\n", 9, "Falta el atributo cy."},
      {casts + "cx=0\r\ncy=0\r\nw=1\r\n", 10, "Falta el atributo ancho."},
      {casts + "cx=0\r\ncy=0\r\nancho=1\r\nh=1\r\n", 11, "Falta el atributo alto."},
      {casts + "cx=0\r\ncy=0\r\nancho=1\r\nalto=1\r\nn=1\r\n", 12, "Falta el atributo numsprites."},
      {casts + "cx=0\r\ncy=0\r\nancho=1\r\nalto=1\r\nnumsprites=1\r\nid=1\r\n", 13,
       "Falta el atributo idfondo."},
      {"\r\n[OTRO]\r\n", 2, "Bloque de informacion no reconocido."},
      {"[cabecera]\r\nv=eVM01.00\r\n", 1, "Bloque de informacion no reconocido."},
      {kCabecera + "x\r\n", 5, "Error en el fichero DEFANIM.TXT"},
      {kCabecera + "\n", 5, "Error en el fichero DEFANIM.TXT"},
  };
  for (const Caso& caso : casos) ExpectRefused(caso.texto, caso.linea, caso.mensaje);
}

TEST_F(AnimFilesTest, WhatIsCheckedAfterTheFileHasNoLine) {
  ExpectRefused("[FONDOS]\r\nnumfondos=0\r\n", 0, "Version de DEFANIM.TXT no soportada.");
  ExpectRefused("", 0, "Version de DEFANIM.TXT no soportada.");
  carpeta_.Borrar("DEFANIM.TXT");
  EXPECT_EQ(anim_.LeerDefAnim("U:\\ANIM\\DEFANIM.TXT"), -1);
  EXPECT_EQ(anim_.Error().linea, 0u);
  EXPECT_EQ(anim_.Error().texto, "No se ha podido abrir el fichero DEFANIM.TXT");
  EXPECT_TRUE(mensajes_.Salidas().empty());

  // 499 image entries fit; 500 do not.
  Descripcion d;
  d.fondos = {{"PL", 1, {2, 3}}, {"PL", 0, {}}};
  d.casts = {{0, 0, 1, 1, 255, 1}, {0, 0, 1, 1, 242, 1}};
  ASSERT_EQ(Def(d.Texto()), 0);
  EXPECT_EQ(anim_.ContarImagenes(), 499u);
  d.casts[1].sprites = 243;
  ExpectRefused(d.Texto(), 0, "Demasiadas imagenes en la animacion.");
  EXPECT_EQ(anim_.NumFondos(), 0);  // nothing of a refused description stays
}

TEST_F(AnimFilesTest, EveryBoundAtItsLimitAndOnePast) {
  auto cabecera = [](const std::string& ancho, const std::string& alto) {
    return "[CABECERA]\r\nv=eVM01.00\r\nancho=" + ancho + "\r\nalto=" + alto + "\r\n";
  };
  for (const char* bien : {"1", "32767"}) {
    EXPECT_EQ(Def(cabecera(bien, bien)), 0) << bien;
  }
  for (const char* mal : {"0", "32768", "4294967296", "-4294967296"}) {
    ExpectRefused(cabecera(mal, "1"), 3, "Atributo ancho fuera de rango.");
    ExpectRefused(cabecera("1", mal), 4, "Atributo alto fuera de rango.");
  }
  EXPECT_EQ(Def(cabecera("2147483647", "1")), -1);

  Descripcion d;
  d.fondos.assign(14, {"PL", 255, {}});
  ASSERT_EQ(Def(d.Texto()), 0);
  EXPECT_EQ(anim_.NumFondos(), 14);
  d.fondos.push_back({"PL", 0, {}});
  ExpectRefused(d.Texto(), 7, "Atributo numfondos fuera de rango.");

  const std::string fondo = kCabecera + "[FONDOS]\r\nnumfondos=1\r\nf=1\r\nt=PL\r\n";
  ExpectRefused(fondo + "prioridad=256\r\n", 9, "Atributo prioridad fuera de rango.");
  ExpectRefused(fondo + "prioridad=-1\r\n", 9, "Atributo prioridad fuera de rango.");
  std::string trece = fondo + "prioridad=1\r\ncast=2\r\ncast=31\r\n";
  for (int i = 0; i < 11; ++i) trece += "cast=5\r\n";
  ASSERT_EQ(Def(trece + "cast=end\r\n"), 0);
  EXPECT_EQ(anim_.Fondo(1).num_casts, 13);
  ExpectRefused(trece + "cast=5\r\n", 23, "Atributo cast fuera de rango.");
  ExpectRefused(fondo + "prioridad=1\r\ncast=1\r\n", 10, "Atributo cast fuera de rango.");
  ExpectRefused(fondo + "prioridad=1\r\ncast=32\r\n", 10, "Atributo cast fuera de rango.");

  Descripcion c;
  c.casts.assign(30, {32767, 32767, 32767, 32767, 255, 255});
  ASSERT_EQ(Def(c.Texto()), 0);
  EXPECT_EQ(anim_.NumCasts(), 30);
  EXPECT_EQ(anim_.Cast(31).num_sprites, 255);
  c.casts.push_back({});
  ExpectRefused(c.Texto(), 10, "Atributo numcasts fuera de rango.");

  const std::string cast = kCabecera + "[CASTS]\r\nnumcasts=1\r\nc=2\r\n";
  struct Campo {
    std::string nombre;
    std::string minimo;
    std::string maximo;
    std::string por_debajo;
    std::string por_encima;
  };
  const std::vector<Campo> campos = {
      {"cx", "0", "32767", "-1", "32768"},    {"cy", "0", "32767", "-1", "32768"},
      {"ancho", "1", "32767", "0", "32768"},  {"alto", "1", "32767", "0", "32768"},
      {"numsprites", "1", "255", "0", "256"}, {"idfondo", "0", "255", "-1", "256"}};
  for (size_t i = 0; i < campos.size(); ++i) {
    auto con = [&](const std::string& valor) {
      std::string t = cast;
      for (size_t j = 0; j < campos.size(); ++j) {
        t += campos[j].nombre + "=" + (j == i ? valor : campos[j].minimo) + "\r\n";
      }
      return t;
    };
    EXPECT_EQ(Def(con(campos[i].minimo)), 0) << campos[i].nombre;
    EXPECT_EQ(Def(con(campos[i].maximo)), 0) << campos[i].nombre;
    const std::string texto = "Atributo " + campos[i].nombre + " fuera de rango.";
    ExpectRefused(con(campos[i].por_debajo), static_cast<uint32_t>(8 + i), texto);
    ExpectRefused(con(campos[i].por_encima), static_cast<uint32_t>(8 + i), texto);
    ExpectRefused(con("4294967296"), static_cast<uint32_t>(8 + i), texto);
  }
}

TEST_F(AnimFilesTest, NamesValuesAndBlockNamesAreBoundedAt63Bytes) {
  const std::string n63(63, 'n');
  ExpectRefused("[CABECERA]\r\nv=eVM01.00\r\n" + n63 + "=1\r\n", 3, "Falta el atributo ancho.");
  ExpectRefused("[CABECERA]\r\nv=eVM01.00\r\n" + n63 + "n=1\r\n", 3,
                "Linea de atributo=valor incorrecta.");
  const std::string v63(63, '7');
  ExpectRefused("[CABECERA]\r\nversion=" + v63 + "\r\n", 2, "Version de DEFANIM.TXT no soportada.");
  ExpectRefused("[CABECERA]\r\nversion=" + v63 + "7\r\n", 2, "Linea de atributo=valor incorrecta.");
  EXPECT_EQ(
      Def("[CABECERA]\r\nv=eVM01.00\r\nancho=" + std::string(58, '0') + "00550\r\nalto=1\r\n"), 0);
  EXPECT_EQ(anim_.AnchoFondo(), 550);
  ExpectRefused("\r\n[" + std::string(70, 'A') + "]\r\n", 2,
                "Bloque de informacion no reconocido.");
}

TEST_F(AnimFilesTest, ScoreVersionsAndWidening) {
  Score s(2030);
  s.pistas[0][0] = 1;
  s.pistas[31][2029] = 9;
  s.secciones[2029] = 0x1234;
  ASSERT_EQ(Vm(s.VM02()), 0);
  EXPECT_EQ(anim_.VersionScore(), "VM02.00");
  EXPECT_EQ(anim_.NumFrames(), 2030);
  EXPECT_EQ(anim_.Pista(0, 0), 1);
  EXPECT_EQ(anim_.Pista(31, 2029), 9);
  EXPECT_EQ(anim_.Seccion(2029), 0x1234);
  EXPECT_EQ(anim_.Seccion(2030), 0);

  // A 1500-frame VM01.10 score: frames 1500 to 2029 stay empty everywhere.
  Score v1(1500);
  for (auto& pista : v1.pistas) std::fill(pista.begin(), pista.end(), 3);
  std::fill(v1.secciones.begin(), v1.secciones.end(), 200);
  ASSERT_EQ(Vm(v1.VM01()), 0);
  EXPECT_EQ(anim_.VersionScore(), "VM01.10");
  EXPECT_EQ(anim_.NumFrames(), 1500);
  for (uint8_t t = 0; t < 32; ++t) {
    EXPECT_EQ(anim_.Pista(t, 1499), 3);
    for (uint16_t f = 1500; f < 2030; ++f) ASSERT_EQ(anim_.Pista(t, f), 0) << int{t} << " " << f;
  }
  EXPECT_EQ(anim_.Seccion(1499), 200);
  EXPECT_EQ(anim_.Seccion(1500), 0);

  // Bytes after the tables are ignored.
  EXPECT_EQ(Vm(s.VM02() + "more"), 0);
  EXPECT_TRUE(mensajes_.Cajas().empty());
}

TEST_F(AnimFilesTest, ScoreRefusalsInTheirOrderLeaveTheTracksZero) {
  Score s(10);
  s.pistas[0][0] = 1;
  s.secciones[0] = 4;
  auto expect_refused = [&](const std::string& bytes, ErrorAnim::Score causa) {
    ASSERT_EQ(Vm(s.VM02()), 0);
    EXPECT_EQ(Vm(bytes), -1);
    EXPECT_EQ(anim_.Error().fichero, "SCORE.VM");
    EXPECT_EQ(anim_.Error().score, causa);
    EXPECT_EQ(anim_.NumFrames(), 0);
    EXPECT_EQ(anim_.Pista(0, 0), 0);
    EXPECT_EQ(anim_.VersionScore(), "");
  };
  const std::string vm02 = s.VM02();
  ASSERT_EQ(vm02.size(), 69030u);
  expect_refused(vm02.substr(0, 69029), ErrorAnim::kScoreCorto);
  expect_refused(vm02.substr(0, 9), ErrorAnim::kScoreCorto);
  expect_refused("VM02.00X" + vm02.substr(8), ErrorAnim::kScoreVersion);
  expect_refused(std::string("VM03.00\0", 8) + vm02.substr(8), ErrorAnim::kScoreVersion);
  expect_refused(std::string("VM02.00\0", 8), ErrorAnim::kScoreCorto);
  // The frame count is refused before the length is looked at.
  expect_refused(std::string("VM02.00\0\xEF\x07", 10), ErrorAnim::kScoreFrames);
  const std::string vm01 = s.VM01();
  ASSERT_EQ(vm01.size(), 49510u);
  EXPECT_EQ(Vm(vm01), 0);
  expect_refused(vm01.substr(0, 49509), ErrorAnim::kScoreCorto);
  carpeta_.Borrar("SCORE.VM");
  EXPECT_EQ(anim_.LeerScore("U:\\ANIM\\SCORE.VM"), -1);
  EXPECT_EQ(anim_.Error().score, ErrorAnim::kScoreNoAbre);
  EXPECT_TRUE(mensajes_.Cajas().empty());  // the score is refused without a box
}

TEST_F(AnimFilesTest, JumpLines) {
  EXPECT_EQ(Jumps("1\r3"), std::vector<uint16_t>({1}));  // the byte after a CR is dropped
  EXPECT_EQ(Jumps("1\r\n3\r\n5\r\n"), std::vector<uint16_t>({1, 3, 5}));
  EXPECT_EQ(Jumps("1\r\n\r\n"), std::vector<uint16_t>({1}));  // a blank line adds no jump 0
  EXPECT_EQ(Jumps("abc\r\n70000\r\n-1\r\n4294967296\r\n65535\r\n 7\r\n0\r\n"),
            std::vector<uint16_t>({65535, 7, 0}));
  std::string lineas;
  for (int i = 0; i < 301; ++i) lineas += std::to_string(i) + "\r\n";
  const std::vector<uint16_t> primeros = Jumps(lineas);
  ASSERT_EQ(primeros.size(), 300u);
  EXPECT_EQ(primeros.back(), 299);
  carpeta_.Borrar("JUMPS.TXT");
  EXPECT_EQ(anim_.LeerJumps("U:\\ANIM\\JUMPS.TXT"), 0);
  EXPECT_EQ(anim_.NumJumps(), 0);
}

}  // namespace
