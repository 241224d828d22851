// Reading the unit's role-play file: counts at their limits, names, rows and
// what a refused file leaves in the context.
#include <string>
#include <vector>

#include "tests/player/tae_fixture.h"

namespace tae_test {
namespace {

using V = std::vector<std::string>;

class RolPlay : public TaeFixture {
 protected:
  bool Leer(const std::string& bytes) {
    return tae_.LeerRolePlay(almacen_.Escribir("CLA001.RLP", bytes).c_str());
  }
  std::vector<int> Fila(int i) const {
    std::vector<int> fila;
    for (uint8_t n : tae_.ConRolPlay()->filas[i]) {
      fila.push_back(n);
      if (n == 255) break;
    }
    return fila;
  }
  std::string Nombre(int j) const {
    const LINEA_ROLPLAY& slot = tae_.ConRolPlay()->lineas[j];
    return std::string(slot.nombre, strnlen(slot.nombre, sizeof slot.nombre));
  }
};

TEST_F(RolPlay, TwoCharactersThreeLines) {
  ASSERT_TRUE(Leer("2\r\n3\r\n40\r\nRP01\r\nRP02\r\nRP03\r\n0,2,\r\n1,\r\n"));
  const CON_ROLPLAY& r = *tae_.ConRolPlay();
  EXPECT_EQ(r.num_personajes, 2);
  EXPECT_EQ(r.num_lineas, 3);
  EXPECT_EQ(r.ancho_linea, 40);
  EXPECT_EQ(Nombre(0), "RP01");
  EXPECT_EQ(Nombre(2), "RP03");
  for (int j = 0; j < 3; ++j) EXPECT_EQ(r.lineas[j].grabada, 0);
  EXPECT_EQ(Fila(0), (std::vector<int>{0, 2, 255}));
  EXPECT_EQ(Fila(1), (std::vector<int>{1, 255}));
  EXPECT_EQ(r.terminado, 1);
  EXPECT_TRUE(mensajes_.Textos().empty());
}

TEST_F(RolPlay, CountsAreAcceptedUpTo4CharactersAnd59Lines) {
  std::string nombres;
  for (int j = 0; j < 59; ++j) nombres += "L" + std::to_string(j) + "\r\n";
  ASSERT_TRUE(Leer("4\r\n59\r\n10\r\n" + nombres + "58,\r\n\r\n\r\n0,\r\n"));
  EXPECT_EQ(tae_.ConRolPlay()->num_personajes, 4);
  EXPECT_EQ(tae_.ConRolPlay()->num_lineas, 59);
  EXPECT_EQ(Nombre(58), "L58");
  EXPECT_EQ(Fila(0), (std::vector<int>{58, 255}));
  EXPECT_EQ(Fila(3), (std::vector<int>{0, 255}));
  EXPECT_TRUE(mensajes_.Textos().empty());
}

TEST_F(RolPlay, CountsPastTheirLimitsAreRefusedAndNotStored) {
  tae_.ConRolPlay()->terminado = 0;
  ASSERT_TRUE(Leer("5\r\n3\r\n40\r\n"));
  EXPECT_EQ(mensajes_.Textos(), (V{"Error excedido el numero maximo de personajes de ROLEPLAY."}));
  EXPECT_EQ(tae_.ConRolPlay()->num_personajes, 0);
  EXPECT_EQ(tae_.ConRolPlay()->terminado, 0);  // a stopped read does not finish
  mensajes_.Limpiar();
  ASSERT_TRUE(Leer("-1\r\n3\r\n"));
  EXPECT_EQ(mensajes_.Textos(), (V{"Error excedido el numero maximo de personajes de ROLEPLAY."}));
  mensajes_.Limpiar();
  ASSERT_TRUE(Leer("2\r\n60\r\n40\r\n"));
  EXPECT_EQ(mensajes_.Textos(),
            (V{"Error excedido el numero maximo de intervenciones del ROLEPLAY."}));
  EXPECT_EQ(tae_.ConRolPlay()->num_personajes, 2);  // what was read before the refusal
  EXPECT_EQ(tae_.ConRolPlay()->num_lineas, 0);
  mensajes_.Limpiar();
  ASSERT_TRUE(Leer("2\r\n-1\r\n"));
  EXPECT_EQ(mensajes_.Textos(),
            (V{"Error excedido el numero maximo de intervenciones del ROLEPLAY."}));
}

TEST_F(RolPlay, NamesKeep15BytesAndTheRestOfTheLineIsSkipped) {
  ASSERT_TRUE(Leer("1\r\n2\r\n300\r\nABCDEFGHIJKLMNOPQRST\r\nSECOND\r\n1,0,\r\n"));
  EXPECT_EQ(Nombre(0), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(tae_.ConRolPlay()->lineas[0].grabada, 0);
  EXPECT_EQ(Nombre(1), "SECOND");
  EXPECT_EQ(tae_.ConRolPlay()->ancho_linea, 255);  // clamped
  EXPECT_EQ(Fila(0), (std::vector<int>{1, 0, 255}));
  ASSERT_TRUE(Leer("1\r\n0\r\n-7\r\n\r\n"));
  EXPECT_EQ(tae_.ConRolPlay()->ancho_linea, 0);
}

TEST_F(RolPlay, RowsKeepNumbersEndedByACommaThatNameALine) {
  // 3 is past the line count, -1 before it, 2 has no comma after it.
  ASSERT_TRUE(Leer("1\r\n3\r\n40\r\na\r\nb\r\nc\r\n 1, 3,-1,0,2"));
  EXPECT_EQ(Fila(0), (std::vector<int>{1, 0, 255}));
  // A row is read whole: 58 numbers after 300 blanks, and a number
  // written with 90 leading zeros, are all kept.
  std::string larga(300, ' ');
  for (int i = 0; i < 58; ++i) larga += "0,";
  ASSERT_TRUE(Leer("1\r\n2\r\n40\r\nn\r\nm\r\n" + larga + std::string(90, '0') + "1,\r\n"));
  ASSERT_EQ(Fila(0).size(), 60u);
  EXPECT_EQ(Fila(0)[58], 1);
  EXPECT_EQ(Fila(0)[59], 255);
  // The 60th number finds no room: 59 are kept and the row still ends.
  ASSERT_TRUE(Leer("1\r\n2\r\n40\r\nn\r\nm\r\n" + larga + "1,1,\r\n"));
  ASSERT_EQ(Fila(0).size(), 60u);
  EXPECT_EQ(Fila(0)[58], 1);
  // A count line longer than 80 bytes is read from its start and skipped to its CR.
  ASSERT_TRUE(Leer("1" + std::string(100, ' ') + "9\r\n1\r\n40\r\nname\r\n0,\r\n"));
  EXPECT_EQ(tae_.ConRolPlay()->num_personajes, 1);
  EXPECT_EQ(Nombre(0), "name");
}

TEST_F(RolPlay, A59LineRolePlayOfTwoCharactersKeepsEveryLineInARow) {
  // Rows of 85 and 82 bytes: the characters take turns over 59 lines.
  std::string texto = "2\r\n59\r\n40\r\n";
  for (int j = 0; j < 59; ++j) texto += "L" + std::to_string(j) + "\r\n";
  std::vector<int> filas[2];
  for (int i = 0; i < 2; ++i) {
    for (int j = i; j < 59; j += 2) {
      texto += std::to_string(j) + ",";
      filas[i].push_back(j);
    }
    filas[i].push_back(255);
    texto += "\r\n";
  }
  ASSERT_TRUE(Leer(texto));
  EXPECT_EQ(Fila(0), filas[0]);
  EXPECT_EQ(Fila(1), filas[1]);
  EXPECT_EQ(Fila(0)[29], 58);
  EXPECT_EQ(Fila(1)[28], 57);
  EXPECT_TRUE(mensajes_.Textos().empty());
}

TEST_F(RolPlay, AFileThatDoesNotOpenIsReported) {
  EXPECT_FALSE(tae_.LeerRolePlay("U:\\NONE.RLP"));
  EXPECT_EQ(mensajes_.Textos(), (V{"No se ha podido abrir el fichero de ROLEPLAY"}));
}

TEST_F(RolPlay, LinesEndAtCrAndTheByteAfterItIsSkipped) {
  // LF alone does not end a line; the byte after each CR is dropped unread.
  ASSERT_TRUE(Leer("1\rX2\rY5\rZone\rWtwo\rV1,0,"));
  EXPECT_EQ(tae_.ConRolPlay()->num_lineas, 2);
  EXPECT_EQ(tae_.ConRolPlay()->ancho_linea, 5);
  EXPECT_EQ(Nombre(1), "two");
  EXPECT_EQ(Fila(0), (std::vector<int>{1, 0, 255}));
}

}  // namespace
}  // namespace tae_test
