// The Speex wrapper and the .STR frames: coding, reading with its limits,
// decoding to samples, and the loader's buffer filling with carried samples.
#include "tests/media/audio_support.h"

namespace {

using audio_test::Banco;
using audio_test::CodificarSTR;
using audio_test::Voz;

TEST(SampleFromFloat, ClampsThenTruncatesTowardZero) {
  EXPECT_EQ(MuestraDesdeFloat(40000.7f), 32767);
  EXPECT_EQ(MuestraDesdeFloat(-40000.7f), -32768);
  EXPECT_EQ(MuestraDesdeFloat(32767.0f), 32767);
  EXPECT_EQ(MuestraDesdeFloat(32767.9f), 32767);
  EXPECT_EQ(MuestraDesdeFloat(-32768.0f), -32768);
  EXPECT_EQ(MuestraDesdeFloat(-32768.9f), -32768);
  EXPECT_EQ(MuestraDesdeFloat(-1.9f), -1);
  EXPECT_EQ(MuestraDesdeFloat(1.9f), 1);
  EXPECT_EQ(MuestraDesdeFloat(-0.5f), 0);
  EXPECT_EQ(MuestraDesdeFloat(std::nanf("")), 0);
}

TEST(CodecSpeex, FramesAreCodedWithinTheLimitAndDecodeBack) {
  TCodecSpeex codec;
  EXPECT_EQ(codec.frame_size(), 160);
  const std::vector<int16_t> voz = Voz(160 * 50);
  const std::vector<int16_t> silencio(160 * 5, 0);
  TCodecSpeex decodificador;
  for (const auto* muestras : {&voz, &silencio}) {
    for (size_t i = 0; i < muestras->size(); i += 160) {
      uint8_t trama[1 + formato_str::kMaxTrama];
      const uint32_t n = CodificarTramaSTR(codec, muestras->data() + i, trama);
      ASSERT_GE(trama[0], 1u);  // a length byte of 0 would read as damage
      ASSERT_LE(trama[0], formato_str::kMaxTrama);
      ASSERT_EQ(n, 1u + trama[0]);
      int16_t salida[160];
      DecodificarTramaSTR(decodificador, trama + 1, trama[0], salida);
    }
  }
  // Speech comes back close to what went in (a lossy coder: energy, not bits).
  const std::string str = CodificarSTR(voz);
  Banco banco;
  const std::string ruta = banco.Escribir("voz.STR", str);
  TFicheroEHDD* file = banco.client.Abrir(ruta.c_str(), 0);
  ASSERT_NE(file, nullptr);
  TCodecSpeex otro;
  LectorSTR lector;
  lector.Iniciar(&banco.client, file, &otro);
  std::vector<int16_t> decodificado(voz.size());
  for (size_t i = 0; i < voz.size(); i += 160) {
    ASSERT_EQ(lector.Llenar(decodificado.data() + i, 160), LectorSTR::kLleno);
  }
  int16_t resto[160];
  EXPECT_EQ(lector.Llenar(resto, 160), LectorSTR::kFin);
  banco.client.Cerrar(file);
  double energia = 0;
  double error = 0;
  for (size_t i = 400; i < voz.size(); ++i) {
    energia += double(voz[i]) * voz[i];
  }
  for (size_t i = 400; i < voz.size(); ++i) {
    error += double(decodificado[i]) * decodificado[i];
  }
  EXPECT_GT(error, energia * 0.2);
  EXPECT_LT(error, energia * 5);
}

class TramasSTR : public testing::Test {
 protected:
  ResultadoTrama Leer(const std::string& bytes, uint8_t* n, int veces = 1) {
    const std::string ruta = banco_.Escribir("t.STR", bytes);
    TFicheroEHDD* file = banco_.client.Abrir(ruta.c_str(), 0);
    EXPECT_NE(file, nullptr);
    ResultadoTrama r = ResultadoTrama::kFin;
    uint8_t trama[formato_str::kMaxTrama];
    for (int i = 0; i < veces; ++i) r = LeerTramaSTR(banco_.client, file, trama, n);
    banco_.client.Cerrar(file);
    return r;
  }
  Banco banco_;
};

TEST_F(TramasSTR, LengthsAtTheirLimitsAndPastThem) {
  uint8_t n = 0;
  EXPECT_EQ(Leer(std::string(1, char(200)) + std::string(200, 'a'), &n), ResultadoTrama::kTrama);
  EXPECT_EQ(n, 200);
  EXPECT_EQ(Leer(std::string(1, char(1)) + "a", &n), ResultadoTrama::kTrama);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(Leer(std::string(1, char(201)) + std::string(201, 'a'), &n), ResultadoTrama::kDanada);
  EXPECT_EQ(n, 201);
  EXPECT_EQ(Leer(std::string(1, char(255)) + std::string(255, 'a'), &n), ResultadoTrama::kDanada);
  EXPECT_EQ(Leer(std::string(1, char(0)) + "abc", &n), ResultadoTrama::kDanada);
  EXPECT_EQ(n, 0);
  // A frame cut short: 10 bytes promised, 9 there.
  EXPECT_EQ(Leer(std::string(1, char(10)) + std::string(9, 'a'), &n), ResultadoTrama::kDanada);
  EXPECT_EQ(Leer(std::string(1, char(10)) + std::string(10, 'a'), &n), ResultadoTrama::kTrama);
  // The end of the file before a length byte is no damage.
  EXPECT_EQ(Leer("", &n), ResultadoTrama::kFin);
  EXPECT_EQ(Leer(std::string(1, char(1)) + "a", &n, 2), ResultadoTrama::kFin);
}

TEST_F(TramasSTR, TheReaderCarriesPartFramesAndEndsWithSilence) {
  const std::vector<int16_t> voz = Voz(160 * 6);
  const std::string str = CodificarSTR(voz);
  // Reference: whole frames, a fresh decoder.
  std::vector<int16_t> referencia(voz.size());
  {
    const std::string ruta = banco_.Escribir("r.STR", str);
    TFicheroEHDD* file = banco_.client.Abrir(ruta.c_str(), 0);
    TCodecSpeex codec;
    uint8_t trama[formato_str::kMaxTrama];
    uint8_t n = 0;
    for (size_t i = 0; i < voz.size(); i += 160) {
      ASSERT_EQ(LeerTramaSTR(banco_.client, file, trama, &n), ResultadoTrama::kTrama);
      DecodificarTramaSTR(codec, trama, n, referencia.data() + i);
    }
    banco_.client.Cerrar(file);
  }
  // Buffers of 100 samples: frames split across buffers, the last padded.
  const std::string ruta = banco_.Escribir("p.STR", str);
  TFicheroEHDD* file = banco_.client.Abrir(ruta.c_str(), 0);
  TCodecSpeex codec;
  LectorSTR lector;
  lector.Iniciar(&banco_.client, file, &codec);
  std::vector<int16_t> leido;
  int16_t buffer[100];
  LectorSTR::Resultado r = LectorSTR::kLleno;
  while (r == LectorSTR::kLleno) {
    std::fill(std::begin(buffer), std::end(buffer), int16_t{7});
    r = lector.Llenar(buffer, 100);
    leido.insert(leido.end(), std::begin(buffer), std::end(buffer));
  }
  banco_.client.Cerrar(file);
  EXPECT_EQ(r, LectorSTR::kFin);
  ASSERT_EQ(leido.size(), 1000u);  // 960 samples, then 40 of silence
  EXPECT_TRUE(std::equal(referencia.begin(), referencia.end(), leido.begin()));
  EXPECT_TRUE(std::all_of(leido.begin() + 960, leido.end(), [](int16_t v) { return v == 0; }));
}

TEST_F(TramasSTR, AFrameTheDecoderRefusesIsSilence) {
  // A terminator code (the wideband bit set, mode 15) decodes to "end of
  // stream": its frame plays as silence, not as stale samples.
  TCodecSpeex codec;
  int16_t muestras[160];
  std::fill(std::begin(muestras), std::end(muestras), int16_t{99});
  uint8_t terminador[2] = {0xFF, 0xFF};
  DecodificarTramaSTR(codec, terminador, 2, muestras);
  EXPECT_TRUE(std::all_of(std::begin(muestras), std::end(muestras), [](int16_t v) { return v == 0; }));
}

TEST(EscritorSTR, NPacketsMakeNFramesAndNothingBeforeTheFirst) {
  Banco banco;
  TCodecSpeex codec;
  EscritorSTR escritor;
  escritor.Iniciar(&banco.client, banco.Ruta("w.STR"), &codec);
  EXPECT_FALSE(std::filesystem::exists(banco.Local("w.STR")));
  const std::vector<int16_t> voz = Voz(160 * 7);
  for (size_t i = 0; i < voz.size(); i += 160) ASSERT_TRUE(escritor.EscribirTrama(voz.data() + i));
  escritor.Cerrar();
  EXPECT_EQ(escritor.tramas(), 7u);
  const std::string bytes = audio_test::LeerFichero(banco.Local("w.STR"));
  size_t pos = 0;
  int tramas = 0;
  while (pos < bytes.size()) {
    const uint8_t n = static_cast<uint8_t>(bytes[pos]);
    ASSERT_GE(n, 1);
    ASSERT_LE(n, 200);
    pos += 1 + n;
    ++tramas;
  }
  EXPECT_EQ(pos, bytes.size());
  EXPECT_EQ(tramas, 7);

  EscritorSTR sin_carpeta;
  sin_carpeta.Iniciar(&banco.client, banco.Ruta("no/such/folder/x.STR"), &codec);
  EXPECT_FALSE(sin_carpeta.EscribirTrama(voz.data()));
  EXPECT_FALSE(sin_carpeta.creado());
}

}  // namespace
