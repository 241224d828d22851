// The audit file's bytes: a hand-made golden file pins the layout; every
// block cut short, a tag or magic that differs, an empty file and one past
// the 64 MiB bound are refused with their reason and offset; the counts are
// compared in part order, N before M.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "player/AuditoriaUnit.h"

namespace {

std::string Golden() {
  std::ifstream in(std::string(LECTORIA_SOURCE_DIR) + "/tests/player/data/AUDIT_GOLDEN.ALU",
                   std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The record the golden file holds.
AuditoriaUnit GoldenRecord() {
  AuditoriaUnit a;
  a.cabecera.tiempo_estudio = 123456;
  a.cabecera.frames = 510;
  const uint8_t progreso[8] = {0, 33, 66, 100, 75, 50, 10, 7};
  const uint16_t errores[8] = {0, 0, 3, 0, 300, 2, 0, 0};
  const uint16_t respuestas[8] = {0, 0, 5, 0, 9, 4, 0, 12};
  std::memcpy(a.cabecera.progreso, progreso, 8);
  std::memcpy(a.cabecera.errores, errores, sizeof(errores));
  std::memcpy(a.cabecera.respuestas, respuestas, sizeof(respuestas));
  a.partes[1].n = 1;
  a.partes[1].sonidos = {0, 1, 2, 3, 0, 4, 5, 6};
  a.partes[5].m = 1;
  a.partes[5].ejercicios.assign(820, '*');
  for (int j = 0; j < 2; ++j) {
    uint8_t* e = a.partes[5].ejercicios.data() + j * 410;
    const int16_t tipo = j == 0 ? -1 : 1;
    std::memcpy(e, &tipo, 2);
    e[2] = 2;
    e[3] = 0;
    std::memcpy(e + 4, "a\"b\\\x01", 5);
    e[9] = 0;
    e[204] = 2;
    std::memcpy(e + 205, "\xe9ok", 3);
    e[405] = 1;
    e[406] = 3;
    e[407] = 4;
    e[408] = 5;
  }
  std::memcpy(a.rolplay, "A1", 2);
  a.rolplay[15] = 1;
  std::memcpy(a.rolplay + 16, "LONGNAME1234567", 15);
  return a;
}

void ExpectSame(const AuditoriaUnit& a, const AuditoriaUnit& b) {
  EXPECT_EQ(std::memcmp(&a.cabecera, &b.cabecera, sizeof(CabeceraAuditoria)), 0);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(a.partes[i].n, b.partes[i].n) << i;
    EXPECT_EQ(a.partes[i].sonidos, b.partes[i].sonidos) << i;
    EXPECT_EQ(a.partes[i].m, b.partes[i].m) << i;
    EXPECT_EQ(a.partes[i].ejercicios, b.partes[i].ejercicios) << i;
  }
  EXPECT_EQ(std::memcmp(a.rolplay, b.rolplay, sizeof(a.rolplay)), 0);
}

TEST(AuditFormat, TheGoldenFileIsWhatTheRecordWritesAndReads) {
  const std::string golden = Golden();
  ASSERT_EQ(golden.size(), 2159u);
  EXPECT_EQ(GoldenRecord().ABytes(), golden);
  AuditoriaUnit leida;
  const LecturaAuditoria lectura = AuditoriaUnit::DesdeBytes(golden, &leida);
  EXPECT_EQ(lectura.estado, LecturaAuditoria::kEntera) << lectura.motivo;
  ExpectSame(leida, GoldenRecord());
}

TEST(AuditFormat, TheSmallestFileHasNoRecordsAndBytesAfterItAreIgnored) {
  AuditoriaUnit vacia;
  const std::string bytes = vacia.ABytes();
  EXPECT_EQ(bytes.size(), 1331u);
  AuditoriaUnit leida;
  leida.cabecera.frames = 99;
  EXPECT_EQ(AuditoriaUnit::DesdeBytes(bytes + "trailing junk", &leida).estado,
            LecturaAuditoria::kEntera);
  EXPECT_EQ(leida.cabecera.frames, 0u);
}

TEST(AuditFormat, RecordBuffersAreWrittenAtTheirCountsLength) {
  AuditoriaUnit a;
  a.partes[0].n = 3;  // 16 bytes due, 2 given: padded
  a.partes[0].sonidos = {9, 9};
  a.partes[2].m = 1;  // 820 due, 900 given: cut
  a.partes[2].ejercicios.assign(900, 7);
  a.partes[3].n = 0;  // no records for a count of 0
  a.partes[3].sonidos = {1, 2, 3, 4};
  const std::string bytes = a.ABytes();
  EXPECT_EQ(bytes.size(), 1331u + 16 + 820);
  AuditoriaUnit leida;
  ASSERT_EQ(AuditoriaUnit::DesdeBytes(bytes, &leida).estado, LecturaAuditoria::kEntera);
  EXPECT_EQ(leida.partes[0].sonidos,
            (std::vector<uint8_t>{9, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(leida.partes[2].ejercicios, std::vector<uint8_t>(820, 7));
  EXPECT_TRUE(leida.partes[3].sonidos.empty());
}

TEST(AuditFormat, AnEmptyFileIsEmptyNotDamaged) {
  AuditoriaUnit leida = GoldenRecord();
  const LecturaAuditoria lectura = AuditoriaUnit::DesdeBytes("", &leida);
  EXPECT_EQ(lectura.estado, LecturaAuditoria::kVacia);
  EXPECT_EQ(lectura.motivo, "empty");
  ExpectSame(leida, GoldenRecord());  // untouched
}

TEST(AuditFormat, AFileCutShortAnywhereIsDamagedWithTheBlockItStopsIn) {
  const std::string golden = Golden();
  // Offsets: inside the magic, the head, a part tag, a sound tag, a count,
  // the sound records, an exercise tag, the exercise records, the role-play
  // tag and its last byte.
  const struct {
    size_t cut;
    const char* motivo;
    size_t offset;
  } casos[] = {{1, "magic cut short", 0},
               {40, "head cut short", 15},
               {66, "part 0 tag cut short", 63},
               {80, "part 0 sound tag cut short", 72},
               {85, "part 0 sound count cut short", 84},
               {125, "part 1 sound records cut short", 123},
               {140, "part 1 exercise tag cut short", 131},
               {500, "part 5 exercise records cut short", 293},
               {1190, "role-play tag cut short", 1187},
               {golden.size() - 1, "role-play lines cut short", 1199}};
  for (const auto& c : casos) {
    AuditoriaUnit leida;
    const LecturaAuditoria lectura = AuditoriaUnit::DesdeBytes(golden.substr(0, c.cut), &leida);
    EXPECT_EQ(lectura.estado, LecturaAuditoria::kDanada) << c.cut;
    EXPECT_EQ(lectura.motivo, c.motivo) << c.cut;
    EXPECT_EQ(lectura.offset, c.offset) << c.cut;
    EXPECT_EQ(leida.cabecera.tiempo_estudio, 0u) << "nothing applied at " << c.cut;
  }
}

TEST(AuditFormat, AMagicOrATagThatDiffersIsDamaged) {
  const std::string golden = Golden();
  const struct {
    size_t at;
    const char* motivo;
    size_t offset;
  } casos[] = {{3, "magic differs", 0},
               {14, "magic differs", 0},  // the last blank of the magic
               {68, "part 0 tag differs", 63},
               {90, "part 0 exercise tag differs", 86},
               {1190, "role-play tag differs", 1187}};
  for (const auto& c : casos) {
    std::string bytes = golden;
    bytes[c.at] ^= 0x20;
    const LecturaAuditoria lectura = AuditoriaUnit::DesdeBytes(bytes, nullptr);
    EXPECT_EQ(lectura.estado, LecturaAuditoria::kDanada) << c.at;
    EXPECT_EQ(lectura.motivo, c.motivo) << c.at;
    EXPECT_EQ(lectura.offset, c.offset) << c.at;
  }
  // A part tag of another part in its place.
  std::string bytes = golden;
  bytes.replace(63, 9, "<TAG:STU>");
  EXPECT_EQ(AuditoriaUnit::DesdeBytes(bytes, nullptr).motivo, "part 0 tag differs");
}

TEST(AuditFormat, SixtyFourMibReadsAndOneByteMoreIsDamaged) {
  std::string bytes = Golden();
  bytes.resize(AuditoriaUnit::kMaxBytes, 'x');  // padding after the role-play block
  AuditoriaUnit leida;
  EXPECT_EQ(AuditoriaUnit::DesdeBytes(bytes, &leida).estado, LecturaAuditoria::kEntera);
  EXPECT_EQ(leida.cabecera.tiempo_estudio, 123456u);
  bytes.push_back('x');
  const LecturaAuditoria lectura = AuditoriaUnit::DesdeBytes(bytes, nullptr);
  EXPECT_EQ(lectura.estado, LecturaAuditoria::kDanada);
  EXPECT_EQ(lectura.motivo, "larger than 64 MiB");
  EXPECT_EQ(lectura.offset, AuditoriaUnit::kMaxBytes);
}

TEST(AuditFormat, CountsAreComparedInPartOrderNBeforeM) {
  const AuditoriaUnit a = GoldenRecord();
  uint16_t n[8] = {0, 1, 0, 0, 0, 0, 0, 0};
  uint16_t m[8] = {0, 0, 0, 0, 0, 1, 0, 0};
  EXPECT_FALSE(a.CompararCuentas(n, m).hay);
  m[1] = 4;
  n[5] = 2;
  DiferenciaCuentas d = a.CompararCuentas(n, m);
  ASSERT_TRUE(d.hay);
  EXPECT_EQ(d.parte, 1);
  EXPECT_EQ(d.campo, 'M');
  EXPECT_EQ(d.encontrado, 0);
  EXPECT_EQ(d.esperado, 4);
  n[1] = 12;  // N of the same part comes first
  d = a.CompararCuentas(n, m);
  EXPECT_EQ(d.campo, 'N');
  EXPECT_EQ(d.encontrado, 1);
  EXPECT_EQ(d.esperado, 12);
}

}  // namespace
