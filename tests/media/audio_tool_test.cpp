// lectoria-audio as a program: its commands, outputs and exit codes.
#include <sys/wait.h>

#include "tests/media/audio_support.h"
#include "tests/media/real_device.h"
#include "tests/support/OggFixture.h"

namespace {

using audio_test::CodificarSTR;
using audio_test::EscribirFichero;
using audio_test::LeerFichero;
using audio_test::SinSilencios;
using audio_test::Voz;

struct Resultado {
  int codigo = -1;
  std::string salida;
  std::string errores;
};

class Herramienta : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-audio-tool-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string F(const std::string& name) const { return dir_ + "/" + name; }

  Resultado Correr(const std::string& args, const std::string& audio = "null") {
    const std::string comando = "LECTORIA_AUDIO=" + audio + " " + LECTORIA_BIN_DIR +
                                "/lectoria-audio " + args + " > " + F("out.txt") + " 2> " +
                                F("err.txt");
    const int status = std::system(comando.c_str());
    Resultado r;
    r.codigo = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.salida = LeerFichero(F("out.txt"));
    r.errores = LeerFichero(F("err.txt"));
    return r;
  }
  std::string dir_;
};

TEST_F(Herramienta, StrInfoCountsFramesAndRefusesDamage) {
  const std::string str = CodificarSTR(Voz(160 * 12));
  EscribirFichero(F("a.STR"), str);
  size_t minimo = 255, maximo = 0, total = 0;
  for (size_t pos = 0; pos < str.size(); pos += 1 + static_cast<uint8_t>(str[pos])) {
    const size_t n = static_cast<uint8_t>(str[pos]);
    minimo = std::min(minimo, n);
    maximo = std::max(maximo, n);
    total += n;
  }
  Resultado r = Correr("str-info " + F("a.STR"));
  EXPECT_EQ(r.codigo, 0) << r.errores;
  EXPECT_EQ(r.salida, "frames=12\nframe_bytes_min=" + std::to_string(minimo) +
                          "\nframe_bytes_max=" + std::to_string(maximo) +
                          "\nframe_bytes_total=" + std::to_string(total) + "\nduration_ms=240\n");
  EscribirFichero(F("vacio.STR"), "");
  r = Correr("str-info " + F("vacio.STR"));
  EXPECT_EQ(r.codigo, 0);
  EXPECT_EQ(r.salida,
            "frames=0\nframe_bytes_min=0\nframe_bytes_max=0\nframe_bytes_total=0\nduration_ms=0\n");
  EscribirFichero(F("mal.STR"), str + std::string(1, char(201)));
  r = Correr("str-info " + F("mal.STR"));
  EXPECT_EQ(r.codigo, 1);
  EXPECT_EQ(r.salida, "");
  EXPECT_EQ(r.errores,
            "lectoria-audio: " + F("mal.STR") + ": Error de integridad en el fichero .STR\n");
  r = Correr("str-info " + F("falta.STR"));
  EXPECT_EQ(r.codigo, 1);
  EXPECT_EQ(r.errores, "lectoria-audio: " + F("falta.STR") + ": cannot open\n");
}

TEST_F(Herramienta, Str2WavDecodesEachFrameAndLeavesNothingOnFailure) {
  const std::string str = CodificarSTR(Voz(160 * 9));
  EscribirFichero(F("b.STR"), str);
  Resultado r = Correr("str2wav " + F("b.STR") + " " + F("b.wav"));
  ASSERT_EQ(r.codigo, 0) << r.errores;
  Wav16 wav;
  std::string error;
  ASSERT_TRUE(ReadWav16(F("b.wav"), &wav, &error));
  EXPECT_EQ(wav.sample_rate, 8000u);
  EXPECT_EQ(wav.channels, 1);
  ASSERT_EQ(wav.samples.size(), 9u * 160);
  TCodecSpeex codec;
  std::vector<int16_t> esperado(160);
  std::string trama = str.substr(1, static_cast<uint8_t>(str[0]));
  DecodificarTramaSTR(codec, reinterpret_cast<uint8_t*>(trama.data()),
                      static_cast<uint8_t>(trama.size()), esperado.data());
  EXPECT_TRUE(std::equal(esperado.begin(), esperado.end(), wav.samples.begin()));

  EscribirFichero(F("c.STR"), str.substr(0, str.size() - 1));  // its last frame cut short
  r = Correr("str2wav " + F("c.STR") + " " + F("c.wav"));
  EXPECT_EQ(r.codigo, 1);
  EXPECT_FALSE(std::filesystem::exists(F("c.wav")));
}

TEST_F(Herramienta, RecordWritesOneFramePerPacketOfTheWav) {
  const std::vector<int16_t> voz = Voz(160 * 15 + 37);  // 16 packets, the last padded
  std::string error;
  ASSERT_TRUE(WriteWav16(F("in.wav"), 8000, voz.data(), voz.size(), &error));
  Resultado r = Correr("record " + F("r.STR") + " --from " + F("in.wav"));
  ASSERT_EQ(r.codigo, 0) << r.errores;
  r = Correr("str-info " + F("r.STR"));
  EXPECT_EQ(r.salida.substr(0, 10), "frames=16\n");

  ASSERT_TRUE(WriteWav16(F("rapido.wav"), 22050, voz.data(), voz.size(), &error));
  r = Correr("record " + F("x.STR") + " --from " + F("rapido.wav"));
  EXPECT_EQ(r.codigo, 1);
  EXPECT_EQ(r.errores, "lectoria-audio: " + F("rapido.wav") + ": not 16-bit mono 8000 Hz PCM\n");
  ASSERT_TRUE(WriteWav16(F("vacio.wav"), 8000, voz.data(), 0, &error));
  r = Correr("record " + F("x.STR") + " --from " + F("vacio.wav"));
  EXPECT_EQ(r.codigo, 1);
  EXPECT_EQ(r.errores, "lectoria-audio: " + F("vacio.wav") + ": holds no samples\n");
  r = Correr("record " + F("x.STR") + " --from " + F("nada.wav"));
  EXPECT_EQ(r.codigo, 1);
  EXPECT_FALSE(std::filesystem::exists(F("x.STR")));
}

TEST_F(Herramienta, PlayIntoAWavHandsOverEveryBuffer) {
  const std::string bytes = ogg_fixture::Mono22050(0.6);
  EscribirFichero(F("p.ogg"), bytes);
  Resultado r = Correr("play " + F("p.ogg") + " --wav " + F("p.wav"));
  ASSERT_EQ(r.codigo, 0) << r.errores;
  Wav16 wav;
  std::string error;
  ASSERT_TRUE(ReadWav16(F("p.wav"), &wav, &error));
  EXPECT_EQ(wav.sample_rate, 22050u);
  EXPECT_EQ(wav.samples.size() % TAudio::kFramesOGG, 0u);
  std::vector<int16_t> esperado = ogg_fixture::Decodificar(bytes);
  esperado.resize(
      (esperado.size() + TAudio::kFramesOGG - 1) / TAudio::kFramesOGG * TAudio::kFramesOGG, 0);
  EXPECT_EQ(SinSilencios(wav.samples, TAudio::kFramesOGG), esperado);

  // A .STR through a mounted letter, and on the null device.
  EscribirFichero(F("s.STR"), CodificarSTR(Voz(160 * 10)));
  r = Correr("--local Q --mount Q=" + dir_ + " play Q:\\\\s.STR --wav " + F("s.wav"));
  ASSERT_EQ(r.codigo, 0) << r.errores;
  ASSERT_TRUE(ReadWav16(F("s.wav"), &wav, &error));
  EXPECT_EQ(wav.sample_rate, 8000u);
  r = Correr("play " + F("s.STR"));
  EXPECT_EQ(r.codigo, 0) << r.errores;
}

TEST_F(Herramienta, WithoutASoundCardTheDefaultDevicePlaysSilentlyWithOneLine) {
  EscribirFichero(F("n.STR"), CodificarSTR(Voz(160 * 5)));
  // ALSA without a default device: where the pulse plugin is installed the
  // stock configuration makes it the default, and it leaks when no server
  // answers.
  EscribirFichero(F("asound.conf"), "pcm.nada { type hw card 99 }\n");
  Resultado r = Correr("play " + F("n.STR"), "portaudio ALSA_CONFIG_PATH=" + F("asound.conf"));
  EXPECT_EQ(r.codigo, 0) << r.errores;
  // A machine with a device plays it and says nothing.
  if (!r.errores.empty()) {
    EXPECT_EQ(r.errores.rfind("audio: no sound device (", 0), 0u) << r.errores;
    EXPECT_EQ(r.errores.find('\n'), r.errores.size() - 1) << r.errores;
    EXPECT_NE(r.errores.find("); playing silently\n"), std::string::npos) << r.errores;
  }
}

TEST_F(Herramienta, PlayFailuresExitWithTheirMessage) {
  EscribirFichero(F("q.ogg"), ogg_fixture::Codificar(ogg_fixture::Senal(8000, 44100), 1, 44100));
  Resultado r = Correr("play " + F("q.ogg") + " --wav " + F("q.wav"));
  EXPECT_EQ(r.codigo, 1);
  EXPECT_EQ(r.errores, "lectoria-audio: El fichero OGG no tiene las caracteristicas correctas.\n");
  r = Correr("play " + F("falta.ogg"));
  EXPECT_EQ(r.codigo, 1);
  EXPECT_EQ(r.errores, "lectoria-audio: " + F("falta.ogg") + ": cannot open\n");
  EscribirFichero(F("d.STR"), std::string(1, char(0)));
  r = Correr("play " + F("d.STR") + " --wav " + F("d.wav"));
  EXPECT_EQ(r.codigo, 1);
  EXPECT_EQ(r.errores, "lectoria-audio: Error de integridad en el fichero .STR\n");
  EscribirFichero(F("t.txt"), "x");
  r = Correr("play " + F("t.txt"));
  EXPECT_EQ(r.codigo, 1);
}

TEST_F(Herramienta, BadArgumentsGiveUsage) {
  for (const std::string args :
       {"", "play", "play a b", "record x.STR", "record x.STR --in y.wav", "str-info", "str2wav a",
        "unknown x", "--mount Q play x.ogg", "--bogus 1 play x.ogg"}) {
    Resultado r = Correr(args);
    EXPECT_EQ(r.codigo, 2) << args;
    EXPECT_NE(r.errores.find("usage: lectoria-audio"), std::string::npos) << args;
  }
}

// The real backend, no LECTORIA_AUDIO: the tool plays through a private
// PulseAudio daemon's null sink and returns at the end of the sound.
TEST_F(Herramienta, PlayThroughThePulseSinkReturnsAtTheEndOfTheSound) {
  real_device::Dispositivo pulse(real_device::Tipo::kPulse);
  PREPARAR_DISPOSITIVO_REAL(pulse);
  EscribirFichero(F("dos.ogg"), ogg_fixture::Mono22050(2.0));
  // Under TSan, what it sees inside the uninstrumented PulseAudio client.
  const char* tsan = std::getenv("TSAN_OPTIONS");
  const std::string opciones = std::string(tsan != nullptr ? tsan : "") +
                               " suppressions=" LECTORIA_SOURCE_DIR "/tests/media/tsan_pulse.supp";
  const std::string comando = "env -u LECTORIA_AUDIO TSAN_OPTIONS='" + opciones + "' " +
                              std::string(LECTORIA_BIN_DIR) + "/lectoria-audio play " +
                              F("dos.ogg") + " > " + F("out.txt") + " 2> " + F("err.txt");
  const auto inicio = std::chrono::steady_clock::now();
  const int status = std::system(comando.c_str());
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - inicio)
                      .count();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << LeerFichero(F("err.txt"));
  // Played, not the silent fallback of a device that did not open.
  EXPECT_EQ(LeerFichero(F("err.txt")).find("no sound device"), std::string::npos);
  // Its length, the second allowed, and PulseAudio's own start through
  // ALSA (it takes the first buffers, then plays them a second or two later
  // on a busy machine).
  EXPECT_GE(ms, 2000);
  EXPECT_LE(ms, 5000);
}

}  // namespace
