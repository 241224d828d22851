// Recording sentences into .STR files through the pumped capture, and
// playing .STR files back: damaged, empty and missing ones included.
#include <speex/speex.h>

#include <stdexcept>

#include "media/ThreadGrabaAudio.h"
#include "tests/media/audio_support.h"

namespace {

using audio_test::Banco;
using audio_test::CodificarSTR;
using audio_test::EsperarQue;
using audio_test::LeerFichero;
using audio_test::SinSilencios;
using audio_test::Voz;

int ContarTramas(const std::string& bytes) {
  size_t pos = 0;
  int n = 0;
  while (pos < bytes.size()) {
    const uint8_t longitud = static_cast<uint8_t>(bytes[pos]);
    if (longitud == 0 || longitud > 200 || pos + 1 + longitud > bytes.size()) return -1;
    pos += 1 + longitud;
    ++n;
  }
  return n;
}

// The samples the loader gives for a .STR: frames decoded by a fresh codec.
std::vector<int16_t> Decodificar(const std::string& str) {
  TCodecSpeex codec;
  std::vector<int16_t> out;
  size_t pos = 0;
  while (pos < str.size()) {
    uint8_t n = static_cast<uint8_t>(str[pos]);
    std::string trama = str.substr(pos + 1, n);
    out.resize(out.size() + 160);
    DecodificarTramaSTR(codec, reinterpret_cast<uint8_t*>(trama.data()), n,
                        out.data() + out.size() - 160);
    pos += 1 + n;
  }
  return out;
}

class Grabacion : public testing::Test {
 protected:
  void SetUp() override {
    banco_.Iniciar();
    voz_ = Voz(160 * 40 + 37);  // 41 packets, the last padded
    std::string error;
    ASSERT_TRUE(WriteWav16(banco_.Local("mic.wav"), 8000, voz_.data(), voz_.size(), &error));
    banco_.device().SetCaptureFile(banco_.Local("mic.wav"), false);
  }
  Banco banco_;
  std::vector<int16_t> voz_;
};

TEST_F(Grabacion, AnEndedRecordingWritesEveryQueuedPacketBeforeItsEnd) {
  const std::string ruta = banco_.Ruta("frase.STR");
  banco_.audio.GrabarAudioSTR(ruta.c_str());
  EXPECT_EQ(banco_.audio.Estado(), TAudio::kGrabando);
  int paquetes = 0;
  while (banco_.device().Pump()) ++paquetes;  // faster than the compressor drains them
  EXPECT_EQ(paquetes, 41);
  banco_.audio.FinGrabarFraseSTR();
  EXPECT_EQ(banco_.audio.Estado(), TAudio::kInactivo);
  ASSERT_TRUE(banco_.EsperarAviso(TAudio::kFinGrabacion));
  const std::string bytes = LeerFichero(banco_.Local("frase.STR"));
  EXPECT_EQ(ContarTramas(bytes), 41);
  // It plays back as its frames decode, in 20 ms buffers.
  banco_.audio.PlayAudioSTR(ruta.c_str());
  banco_.BombearHastaElFin();
  ASSERT_TRUE(banco_.EsperarAviso(TAudio::kFinSTR));
  EXPECT_EQ(SinSilencios(banco_.LeerSalida(1), 160), SinSilencios(Decodificar(bytes), 160));
  EXPECT_TRUE(banco_.Mensajes().empty());
}

TEST_F(Grabacion, ACancelClosesThePartFileAndSendsNoEnd) {
  // A microphone that runs on as long as the cancel takes.
  const std::vector<int16_t> larga = Voz(160 * 5000);
  std::string error;
  ASSERT_TRUE(WriteWav16(banco_.Local("mic.wav"), 8000, larga.data(), larga.size(), &error));
  banco_.audio.GrabarAudioSTR(banco_.Ruta("cancelada.STR").c_str());
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(banco_.device().Pump());
  ASSERT_TRUE(EsperarQue([&] { return std::filesystem::exists(banco_.Local("cancelada.STR")); }));
  const int durante = banco_.MientrasBombea([&] { banco_.audio.CloseAudio(); });
  ASSERT_TRUE(banco_.EsperarAviso(TAudio::kCancelGrabacion));
  EXPECT_EQ(banco_.Avisos(TAudio::kCancelGrabacion), 1);
  EXPECT_EQ(banco_.Avisos(TAudio::kFinGrabacion), 0);
  const int tramas = ContarTramas(LeerFichero(banco_.Local("cancelada.STR")));
  EXPECT_GE(tramas, 1);
  EXPECT_LE(tramas, 10 + durante);
  // The next recording starts a file of its own.
  banco_.audio.GrabarAudioSTR(banco_.Ruta("otra.STR").c_str());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(banco_.device().Pump());
  banco_.audio.FinGrabarFraseSTR();
  ASSERT_TRUE(banco_.EsperarAviso(TAudio::kFinGrabacion));
  EXPECT_EQ(ContarTramas(LeerFichero(banco_.Local("otra.STR"))), 3);
}

TEST_F(Grabacion, EndingRightAfterTheStartWaitsForTheFirstFrame) {
  banco_.audio.GrabarAudioSTR(banco_.Ruta("pronto.STR").c_str());
  banco_.MientrasBombea([&] { banco_.audio.FinGrabarFraseSTR(); });
  ASSERT_TRUE(banco_.EsperarAviso(TAudio::kFinGrabacion));
  EXPECT_GE(ContarTramas(LeerFichero(banco_.Local("pronto.STR"))), 1);
}

TEST_F(Grabacion, ACaptureThatDidNotStartEndsAtOnceWithNoFile) {
  banco_.device().FailNextStart("no microphone");
  banco_.audio.GrabarAudioSTR(banco_.Ruta("nunca.STR").c_str());
  EXPECT_EQ(banco_.audio.Estado(), TAudio::kInactivo);
  EXPECT_EQ(banco_.Mensajes(),
            std::vector<std::string>{"No se ha podido empezar el record del audio."});
  const auto inicio = std::chrono::steady_clock::now();
  banco_.audio.FinGrabarFraseSTR();
  EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(1));
  banco_.device().FailNextOpen("no microphone");
  banco_.audio.GrabarAudioSTR(banco_.Ruta("nunca.STR").c_str());
  EXPECT_EQ(banco_.Mensajes().back(), "No se ha podido crear el stream de grabacion de audio.");
  EXPECT_FALSE(std::filesystem::exists(banco_.Local("nunca.STR")));
}

TEST_F(Grabacion, AFileThatCannotBeCreatedEndsTheWaitAtOnce) {
  banco_.audio.GrabarAudioSTR(banco_.Ruta("no\\such\\folder.STR").c_str());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(banco_.device().Pump());
  const auto inicio = std::chrono::steady_clock::now();
  banco_.audio.FinGrabarFraseSTR();
  EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(1));
  EXPECT_EQ(banco_.audio.Estado(), TAudio::kInactivo);
}

// The encoder's settings pinned apart from the code under test: a bare
// libspeex narrowband encoder set to quality 10, DTX, VAD and complexity 3
// before every frame writes the same frames, byte for byte.
TEST_F(Grabacion, TheFramesAreThoseOfABareEncoderWithTheRecordingSettings) {
  std::string esperado;
  {
    void* encoder = speex_encoder_init(&speex_nb_mode);
    SpeexBits bits;
    speex_bits_init(&bits);
    std::vector<int16_t> relleno = voz_;
    relleno.resize(160 * 41, 0);
    for (size_t i = 0; i < relleno.size(); i += 160) {
      float entrada[160];
      for (int k = 0; k < 160; ++k) entrada[k] = relleno[i + k];
      int calidad = 10, dtx = 1, vad = 1, complejidad = 3;
      speex_encoder_ctl(encoder, SPEEX_SET_QUALITY, &calidad);
      speex_encoder_ctl(encoder, SPEEX_SET_DTX, &dtx);
      speex_encoder_ctl(encoder, SPEEX_SET_VAD, &vad);
      speex_encoder_ctl(encoder, SPEEX_SET_COMPLEXITY, &complejidad);
      speex_bits_reset(&bits);
      speex_encode(encoder, entrada, &bits);
      char trama[200];
      const int n = speex_bits_write(&bits, trama, 200);
      esperado += static_cast<char>(n);
      esperado.append(trama, n);
    }
    speex_bits_destroy(&bits);
    speex_encoder_destroy(encoder);
  }
  banco_.audio.GrabarAudioSTR(banco_.Ruta("frase.STR").c_str());
  while (banco_.device().Pump()) {
  }
  banco_.audio.FinGrabarFraseSTR();
  ASSERT_TRUE(banco_.EsperarAviso(TAudio::kFinGrabacion));
  EXPECT_EQ(LeerFichero(banco_.Local("frase.STR")), esperado);
}

// Anything the compressor meets, not only the eHDD client's text: the
// recording fails, reported once, and the next one is written whole.
TEST_F(Grabacion, ACompressorExceptionIsReportedOnceAndTheNextRecordingWorks) {
  std::atomic<int> lanzados{0};
  banco_.audio.SetHookCompresorForTesting([&] {
    ++lanzados;
    throw std::runtime_error("codec");
  });
  banco_.audio.GrabarAudioSTR(banco_.Ruta("mala.STR").c_str());
  while (banco_.device().Pump()) {
  }
  banco_.audio.FinGrabarFraseSTR();
  EXPECT_EQ(banco_.audio.Estado(), TAudio::kInactivo);
  EXPECT_EQ(banco_.EsperarMensajes(1), std::vector<std::string>{ThreadGrabaAudio::kErrorGrabacion});
  EXPECT_EQ(lanzados.load(), 1);  // the failed recording's other packets are dropped
  EXPECT_EQ(banco_.Avisos(TAudio::kFinGrabacion), 0);

  banco_.audio.SetHookCompresorForTesting(nullptr);
  banco_.device().SetCaptureFile(banco_.Local("mic.wav"), false);
  banco_.audio.GrabarAudioSTR(banco_.Ruta("buena.STR").c_str());
  while (banco_.device().Pump()) {
  }
  banco_.audio.FinGrabarFraseSTR();
  ASSERT_TRUE(banco_.EsperarAviso(TAudio::kFinGrabacion));
  EXPECT_EQ(ContarTramas(LeerFichero(banco_.Local("buena.STR"))), 41);
  EXPECT_EQ(banco_.Mensajes().size(), 1u);
}

// The capture callback adds packets on its thread while the compressor
// takes them on its own (the queue under TSan): every packet is written.
TEST_F(Grabacion, PacketsAddedWhileTheCompressorTakesThemAreAllWritten) {
  const std::vector<int16_t> larga = Voz(160 * 400);
  std::string error;
  ASSERT_TRUE(WriteWav16(banco_.Local("mic.wav"), 8000, larga.data(), larga.size(), &error));
  banco_.audio.GrabarAudioSTR(banco_.Ruta("larga.STR").c_str());
  std::thread captura([&] {
    while (banco_.device().Pump()) std::this_thread::sleep_for(std::chrono::microseconds(100));
  });
  captura.join();
  banco_.audio.FinGrabarFraseSTR();
  ASSERT_TRUE(banco_.EsperarAviso(TAudio::kFinGrabacion));
  EXPECT_EQ(ContarTramas(LeerFichero(banco_.Local("larga.STR"))), 400);
}

class ReproduccionSTR : public testing::Test {
 protected:
  void SetUp() override { banco_.Iniciar(); }
  // Plays the bytes; the samples handed to the device.
  std::vector<int16_t> Tocar(const std::string& bytes) {
    banco_.MientrasBombea(
        [&] { banco_.audio.PlayAudioSTR(banco_.Escribir("s.STR", bytes).c_str()); });
    banco_.BombearHastaElFin();
    ++fines_;
    EXPECT_TRUE(EsperarQue([&] { return banco_.Avisos(TAudio::kFinSTR) == fines_; }));
    return banco_.LeerSalida(fines_);
  }
  Banco banco_;
  int fines_ = 0;
};

TEST_F(ReproduccionSTR, AnEmptyOrMissingRecordingIsOneSilentBufferThenTheEnd) {
  std::vector<int16_t> vacio = Tocar("");
  EXPECT_TRUE(std::all_of(vacio.begin(), vacio.end(), [](int16_t v) { return v == 0; }));
  EXPECT_EQ(banco_.Fines().size(), 1u);
  banco_.audio.PlayAudioSTR(banco_.Ruta("falta.STR").c_str());  // no stream is open
  EXPECT_EQ(banco_.BombearHastaElFin(), 1);                     // one buffer, the last
  ASSERT_TRUE(EsperarQue([&] { return banco_.Fines().size() == 2; }));
  EXPECT_TRUE(banco_.Mensajes().empty());
}

TEST_F(ReproduccionSTR, DamageReportsOnceAndEndsNormallyWithoutStaleSamples) {
  const std::string buena = CodificarSTR(Voz(160 * 5));
  const std::vector<int16_t> referencia = Decodificar(buena);
  const struct {
    std::string bytes;
    size_t tramas_buenas;
  } casos[] = {
      {buena + std::string(1, char(20)) + std::string(7, 'x'), 5},  // the last frame cut short
      {buena + std::string(1, char(0)) + buena, 5},                 // a length of 0
      {buena + std::string(1, char(201)) + std::string(201, 'x'), 5},
      {buena.substr(0, 3), 0},  // the end inside the first frame
  };
  size_t mensajes = 0;
  for (const auto& caso : casos) {
    const std::vector<int16_t> tocado = Tocar(caso.bytes);
    ASSERT_EQ(banco_.Mensajes().size(), ++mensajes);
    EXPECT_EQ(banco_.Mensajes().back(), "Error de integridad en el fichero .STR");
    const std::vector<int16_t> esperado(referencia.begin(),
                                        referencia.begin() + caso.tramas_buenas * 160);
    EXPECT_EQ(SinSilencios(tocado, 160), SinSilencios(esperado, 160));
  }
  EXPECT_EQ(banco_.Avisos(TAudio::kCancelSTR), 0);
  EXPECT_EQ(banco_.Fines().size(), 4u);
}

TEST_F(ReproduccionSTR, ThePlaybackCountersReadTheSourceNotTheFile) {
  const std::string bytes = CodificarSTR(Voz(160 * 30));
  banco_.audio.PlayAudioSTR(banco_.Escribir("c.STR", bytes).c_str());
  ASSERT_TRUE(banco_.BombearListo());
  ASSERT_TRUE(banco_.BombearListo());
  EXPECT_EQ(banco_.audio.LongitudFuente(), bytes.size());
  EXPECT_GT(banco_.audio.BytesLeidos(), 0u);
  EXPECT_LT(banco_.audio.BytesLeidos(), bytes.size());
  banco_.BombearHastaElFin();
  ASSERT_TRUE(banco_.EsperarAviso(TAudio::kFinSTR));
  EXPECT_EQ(banco_.audio.BytesLeidos(), bytes.size());  // the file is closed; the figures stay
  banco_.audio.CloseAudio();
  EXPECT_EQ(banco_.audio.BytesLeidos(), 0u);
  EXPECT_EQ(banco_.audio.LongitudFuente(), 0u);
}

}  // namespace
