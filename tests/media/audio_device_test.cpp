// The device backends without sound hardware: the null device's time and
// hooks, the file backend's WAV output and capture, LECTORIA_AUDIO, and the
// WAV reader's refusals.
#include "media/AudioDevice.h"

#include "tests/media/audio_support.h"

namespace {

using audio_test::EsperarQue;
using audio_test::LeerFichero;

struct Registro {
  std::vector<uint32_t> tiempos;
  std::vector<std::vector<int16_t>> entradas;
  int16_t valor = 0;
};

int Callback(const int16_t* input, int16_t* output, uint32_t frames, uint32_t time_ms, void* user) {
  auto* r = static_cast<Registro*>(user);
  r->tiempos.push_back(time_ms);
  if (input != nullptr) r->entradas.emplace_back(input, input + frames);
  if (output != nullptr) std::fill(output, output + frames, ++r->valor);
  return 0;
}

AudioStreamParams Salida(uint32_t rate, uint32_t frames) {
  AudioStreamParams p;
  p.output_channels = 1;
  p.sample_rate = rate;
  p.frames_per_buffer = frames;
  return p;
}

AudioStreamParams Captura() {
  AudioStreamParams p;
  p.input_channels = 1;
  p.sample_rate = 8000;
  p.frames_per_buffer = 160;
  return p;
}

class Carpeta : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-device-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST(NullDevice, PumpedStreamsRunOnlyWhenStartedAndCountTheirFrames) {
  NullAudioDevice device(NullAudioDevice::Pacing::kPumped);
  Registro r;
  std::string reason;
  auto stream = device.OpenDefaultStream(Salida(22050, 2205), &Callback, &r, &reason);
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(device.Pump());
  ASSERT_TRUE(stream->Start(&reason));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(device.Pump());
  EXPECT_EQ(r.tiempos, (std::vector<uint32_t>{0, 100, 200}));
  EXPECT_EQ(stream->TimeMs(), 300u);
  device.StopCallbacks(true);
  EXPECT_FALSE(device.Pump());
  EXPECT_EQ(stream->TimeMs(), 300u);  // a stalled device keeps its time
  device.StopCallbacks(false);
  stream->Stop();
  EXPECT_FALSE(device.Pump());
  EXPECT_FALSE(device.Running());

  // The open and start hooks fail once, with their reason.
  device.FailNextOpen("no card");
  EXPECT_EQ(device.OpenDefaultStream(Salida(8000, 160), &Callback, &r, &reason), nullptr);
  EXPECT_EQ(reason, "no card");
  auto otro = device.OpenDefaultStream(Salida(8000, 160), &Callback, &r, &reason);
  ASSERT_NE(otro, nullptr);
  device.FailNextStart("busy");
  EXPECT_FALSE(otro->Start(&reason));
  EXPECT_EQ(reason, "busy");
  EXPECT_TRUE(otro->Start(&reason));
  // Neither an input and an output together nor none.
  AudioStreamParams ambos = Salida(8000, 160);
  ambos.input_channels = 1;
  EXPECT_EQ(device.OpenDefaultStream(ambos, &Callback, &r, &reason), nullptr);
}

TEST(NullDevice, RealTimePacingRunsOnTheClockAndStopsAtOnce) {
  NullAudioDevice device(NullAudioDevice::Pacing::kRealTime);
  Registro r;
  std::string reason;
  auto stream = device.OpenDefaultStream(Salida(8000, 160), &Callback, &r, &reason);
  ASSERT_TRUE(stream->Start(&reason));
  ASSERT_TRUE(EsperarQue([&] { return stream->TimeMs() >= 100; }));
  stream->Stop();
  const size_t n = r.tiempos.size();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(r.tiempos.size(), n);  // no callback after Stop
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(r.tiempos[i], i * 20);
}

TEST_F(Carpeta, TheFileBackendWritesEveryBufferOfEachOutputStream) {
  std::string error;
  auto device = MakeAudioDevice("file:" + dir_, &error);
  ASSERT_NE(device, nullptr) << error;
  Registro r;
  std::string reason;
  for (int n = 0; n < 2; ++n) {
    auto stream = device->OpenDefaultStream(Salida(8000, 160), &Callback, &r, &reason);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(stream->Start(&reason));
    ASSERT_TRUE(EsperarQue([&] { return stream->TimeMs() >= 60; }));
    stream.reset();
  }
  Wav16 uno, dos;
  ASSERT_TRUE(ReadWav16(dir_ + "/play0001.wav", &uno, &error)) << error;
  ASSERT_TRUE(ReadWav16(dir_ + "/play0002.wav", &dos, &error)) << error;
  EXPECT_EQ(uno.sample_rate, 8000u);
  EXPECT_EQ(uno.channels, 1);
  ASSERT_GE(uno.samples.size(), 480u);
  EXPECT_EQ(uno.samples.size() % 160, 0u);
  EXPECT_EQ(uno.samples[0], 1);
  EXPECT_EQ(uno.samples[160], 2);
  EXPECT_GT(dos.samples[0], uno.samples.back());
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/play0003.wav"));
}

TEST_F(Carpeta, CaptureFromAFileIsPaddedThenExhaustedAndAbsentMeansSilence) {
  std::vector<int16_t> voz(330);
  for (size_t i = 0; i < voz.size(); ++i) voz[i] = static_cast<int16_t>(i + 1);
  std::string error;
  ASSERT_TRUE(WriteWav16(dir_ + "/mic.wav", 8000, voz.data(), voz.size(), &error));
  NullAudioDevice device(NullAudioDevice::Pacing::kPumped);
  device.SetCaptureFile(dir_ + "/mic.wav", false);
  Registro r;
  std::string reason;
  auto stream = device.OpenDefaultStream(Captura(), &Callback, &r, &reason);
  ASSERT_NE(stream, nullptr) << reason;
  ASSERT_TRUE(stream->Start(&reason));
  EXPECT_FALSE(device.CaptureExhausted());
  while (device.Pump()) {
  }
  EXPECT_TRUE(device.CaptureExhausted());
  ASSERT_EQ(r.entradas.size(), 3u);  // ceil(330 / 160)
  EXPECT_EQ(r.entradas[0][0], 1);
  EXPECT_EQ(r.entradas[2][9], 330);
  EXPECT_TRUE(std::all_of(r.entradas[2].begin() + 10, r.entradas[2].end(),
                          [](int16_t v) { return v == 0; }));
  stream.reset();

  // No file: silence for as long as it runs.
  auto mudo = MakeAudioDevice("file:" + dir_ + "/nada", &error);
  Registro s;
  auto silencio = mudo->OpenDefaultStream(Captura(), &Callback, &s, &reason);
  ASSERT_NE(silencio, nullptr) << reason;
  ASSERT_TRUE(silencio->Start(&reason));
  ASSERT_TRUE(EsperarQue([&] { return silencio->TimeMs() >= 100; }));
  silencio.reset();
  ASSERT_FALSE(s.entradas.empty());
  EXPECT_TRUE(
      std::all_of(s.entradas[0].begin(), s.entradas[0].end(), [](int16_t v) { return v == 0; }));

  // A capture file that must exist and does not fails the open.
  NullAudioDevice exigente(NullAudioDevice::Pacing::kPumped);
  exigente.SetCaptureFile(dir_ + "/falta.wav", false);
  EXPECT_EQ(exigente.OpenDefaultStream(Captura(), &Callback, &r, &reason), nullptr);
}

TEST(AudioDeviceSetting, TheNamesLectoriaAudioTakes) {
  std::string error;
  EXPECT_NE(MakeAudioDevice("", &error), nullptr);
  EXPECT_NE(MakeAudioDevice("portaudio", &error), nullptr);
  EXPECT_NE(MakeAudioDevice("null", &error), nullptr);
  EXPECT_NE(MakeAudioDevice("file:/tmp", &error), nullptr);
  EXPECT_EQ(MakeAudioDevice("file:", &error), nullptr);
  EXPECT_EQ(MakeAudioDevice("alsa", &error), nullptr);
  EXPECT_EQ(error, "unknown audio device 'alsa'");
}

TEST_F(Carpeta, WavFilesOfOtherKindsAreRefusedWithTheirReason) {
  std::string error;
  const int16_t muestras[4] = {1, -2, 3, -4};
  ASSERT_TRUE(WriteWav16(dir_ + "/bien.wav", 22050, muestras, 4, &error));
  Wav16 wav;
  ASSERT_TRUE(ReadWav16(dir_ + "/bien.wav", &wav, &error));
  EXPECT_EQ(wav.samples, std::vector<int16_t>(muestras, muestras + 4));
  EXPECT_EQ(wav.sample_rate, 22050u);
  EXPECT_EQ(LeerFichero(dir_ + "/bien.wav").size(), 44u + 8);

  const std::string bytes = LeerFichero(dir_ + "/bien.wav");
  auto refused = [&](const std::string& contenido, const std::string& motivo) {
    audio_test::EscribirFichero(dir_ + "/mal.wav", contenido);
    Wav16 w;
    std::string e;
    EXPECT_FALSE(ReadWav16(dir_ + "/mal.wav", &w, &e));
    EXPECT_EQ(e, motivo);
  };
  refused("", "not a WAV file");
  refused(bytes.substr(0, 30), "damaged format chunk");
  std::string ocho_bits = bytes;
  ocho_bits[34] = 8;
  refused(ocho_bits, "not 16-bit PCM");
  refused(bytes.substr(0, 36), "no data chunk");
  // A data chunk claiming more than the file holds gives what is there.
  std::string largo = bytes;
  largo[41] = static_cast<char>(0xFF);
  audio_test::EscribirFichero(dir_ + "/largo.wav", largo);
  ASSERT_TRUE(ReadWav16(dir_ + "/largo.wav", &wav, &error)) << error;
  EXPECT_EQ(wav.samples.size(), 4u);
}

}  // namespace
