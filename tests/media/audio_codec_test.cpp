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

TEST(CodecSpeex, SpeechAndSilenceCodeToFramesOf1To200Bytes) {
  TCodecSpeex codec;
  EXPECT_EQ(codec.frame_size(), 160);
  std::vector<int16_t> muestras = Voz(160 * 50);
  muestras.resize(muestras.size() + 160 * 5, 0);
  for (size_t i = 0; i < muestras.size(); i += 160) {
    uint8_t trama[1 + formato_str::kMaxTrama];
    const uint32_t n = CodificarTramaSTR(codec, muestras.data() + i, trama);
    ASSERT_GE(trama[0], 1u);  // a length byte of 0 would read as damage
    ASSERT_LE(trama[0], formato_str::kMaxTrama);
    ASSERT_EQ(n, 1u + trama[0]);
  }
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
  EXPECT_TRUE(
      std::all_of(std::begin(muestras), std::end(muestras), [](int16_t v) { return v == 0; }));
}

}  // namespace
