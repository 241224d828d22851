// The PortAudio layer over a fake host stream as unkind as PortAudio: it
// calls back from inside Start, keeps a clock of its own in seconds since
// some far epoch, may have no clock, and may ask for buffers faster than
// real time. Then stderr kept whole while the real library looks for
// devices.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "media/PortAudioDevice.h"
#include "tests/media/audio_support.h"

namespace {

using audio_test::LeerFichero;

// A host stream whose clock the test sets (or the steady clock when
// reloj_real), calling back `primados` buffers from inside Start.
class HostFalso : public PortAudioHostStream {
 public:
  std::atomic<double> reloj{1.8e9};
  bool reloj_real = false;
  bool sin_reloj = false;
  int primados = 3;
  double latencia = 0.3;
  uint32_t frames = 2205;
  AudioStreamParams params;

  bool Open(const AudioStreamParams& p, Buffer buffer, void* wrapper, std::string*) override {
    params = p;
    buffer_ = buffer;
    wrapper_ = wrapper;
    return true;
  }
  bool Start(std::string*) override {
    for (int i = 0; i < primados; ++i) Llamar();
    return true;
  }
  void Stop() override {}
  double Now() override {
    if (sin_reloj) return 0;
    if (reloj_real) {
      return 1.8e9 +
             std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
                 .count();
    }
    return reloj.load();
  }
  double Latency() override { return latencia; }

  void Llamar() {
    std::vector<int16_t> salida(frames, 7);
    buffer_(nullptr, salida.data(), frames, Now(), wrapper_);
    ultima_salida = salida;
  }
  std::vector<int16_t> ultima_salida;

 private:
  Buffer buffer_ = nullptr;
  void* wrapper_ = nullptr;
};

struct Registro {
  AudioStream* stream = nullptr;
  std::vector<uint32_t> tiempos;
  std::vector<uint32_t> tiempos_stream;  // the stream's TimeMs inside each callback
  int lanzar_en = -1;
};

int Callback(const int16_t*, int16_t* output, uint32_t frames, uint32_t time_ms, void* user) {
  auto* r = static_cast<Registro*>(user);
  r->tiempos.push_back(time_ms);
  r->tiempos_stream.push_back(r->stream != nullptr ? r->stream->TimeMs() : 0);
  if (output != nullptr) std::fill(output, output + frames, int16_t{1});
  if (static_cast<int>(r->tiempos.size()) - 1 == r->lanzar_en) throw std::runtime_error("x");
  return 0;
}

AudioStreamParams Ogg() {
  AudioStreamParams p;
  p.output_channels = 1;
  p.sample_rate = 22050;
  p.frames_per_buffer = 2205;
  return p;
}

// Opens a stream over the fake, as PortAudioDevice opens one over PortAudio.
std::unique_ptr<AudioStream> Abrir(std::unique_ptr<HostFalso> host, Registro* registro) {
  std::string reason;
  auto stream = OpenPortAudioStream(std::move(host), Ogg(), &Callback, registro, &reason);
  registro->stream = stream.get();
  return stream;
}

bool Sanos(const Registro& r) {
  for (size_t i = 0; i < r.tiempos.size(); ++i) {
    if (r.tiempos[i] == 0xFFFFFFFFu) return false;
    if (i > 0 && r.tiempos[i] < r.tiempos[i - 1]) return false;
    // Never later than the stream's own position at that moment.
    if (r.tiempos[i] > r.tiempos_stream[i]) return false;
  }
  return true;
}

TEST(PortAudioStream, CallbacksFromInsideStartAreTimedFromABaseTakenBeforeIt) {
  auto propio = std::make_unique<HostFalso>();
  HostFalso* host = propio.get();
  Registro r;
  auto stream = Abrir(std::move(propio), &r);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->TimeMs(), 0u);  // before the start
  std::string reason;
  ASSERT_TRUE(stream->Start(&reason));
  // Three buffers came from inside Start, before it returned: timed at 0,
  // not at 1.8e9 s past a base of 0.
  ASSERT_EQ(r.tiempos.size(), 3u);
  EXPECT_EQ(r.tiempos, (std::vector<uint32_t>{0, 0, 0}));
  EXPECT_TRUE(Sanos(r));
  host->reloj = host->reloj.load() + 0.25;
  EXPECT_EQ(stream->TimeMs(), 250u);
  host->Llamar();
  host->reloj = host->reloj.load() + 0.1;
  host->Llamar();
  EXPECT_NEAR(r.tiempos.back(), 350, 1);
  EXPECT_TRUE(Sanos(r));
  stream->Stop();
  EXPECT_EQ(stream->TimeMs(), 0u);
}

TEST(PortAudioStream, AHostWithoutAClockIsTimedByItsFirstBufferOrItsSamples) {
  // No clock before the start: the first buffer's own clock is the base.
  {
    auto propio = std::make_unique<HostFalso>();
    HostFalso* host = propio.get();
    host->primados = 0;
    Registro r;
    auto stream = Abrir(std::move(propio), &r);
    host->sin_reloj = true;
    std::string reason;
    ASSERT_TRUE(stream->Start(&reason));
    host->sin_reloj = false;
    host->Llamar();
    host->reloj = host->reloj.load() + 0.1;
    host->Llamar();
    EXPECT_EQ(r.tiempos, (std::vector<uint32_t>{0, 100}));
    EXPECT_EQ(stream->TimeMs(), 100u);
  }
  // No clock at all: the samples handed over.
  {
    auto propio = std::make_unique<HostFalso>();
    HostFalso* host = propio.get();
    host->sin_reloj = true;
    Registro r;
    auto stream = Abrir(std::move(propio), &r);
    std::string reason;
    ASSERT_TRUE(stream->Start(&reason));
    EXPECT_EQ(r.tiempos, (std::vector<uint32_t>{0, 100, 200}));
    EXPECT_EQ(stream->TimeMs(), 300u);
    EXPECT_TRUE(Sanos(r));
  }
}

// A device that takes its first buffers and then stalls (PulseAudio's start
// through ALSA does, for about a second): its time waits at the samples it
// took and goes on from there when it asks again, never reading the stall.
TEST(PortAudioStream, ADeviceThatStallsResumesItsTimeFromItsSamples) {
  auto propio = std::make_unique<HostFalso>();
  HostFalso* host = propio.get();
  Registro r;
  auto stream = Abrir(std::move(propio), &r);
  std::string reason;
  ASSERT_TRUE(stream->Start(&reason));  // three buffers taken: 300 ms
  host->reloj = host->reloj.load() + 0.2;
  EXPECT_EQ(stream->TimeMs(), 200u);
  host->reloj = host->reloj.load() + 1.0;
  EXPECT_EQ(stream->TimeMs(), 300u);  // stalled at the samples it has
  host->Llamar();
  EXPECT_EQ(r.tiempos.back(), 300u);
  host->reloj = host->reloj.load() + 0.05;
  EXPECT_EQ(stream->TimeMs(), 350u);
  host->reloj = host->reloj.load() + 0.05;
  host->Llamar();
  EXPECT_EQ(r.tiempos.back(), 400u);
  EXPECT_TRUE(Sanos(r));
}

TEST(PortAudioStream, ADeviceFasterThanRealTimeIsHeldToItsClock) {
  auto propio = std::make_unique<HostFalso>();
  HostFalso* host = propio.get();
  host->reloj_real = true;
  host->primados = 1;
  host->latencia = 0.1;  // it queues one buffer beyond the one playing
  Registro r;
  auto stream = Abrir(std::move(propio), &r);
  std::string reason;
  // The device's clock starts with the buffer it asks for inside Start: the
  // time is counted from before it, so a slow start cannot shorten it.
  const auto inicio = std::chrono::steady_clock::now();
  ASSERT_TRUE(stream->Start(&reason));
  // The host asks without pause, as ALSA's null PCM does.
  while (std::chrono::steady_clock::now() - inicio < std::chrono::milliseconds(450)) {
    host->Llamar();
  }
  const auto pasado = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - inicio)
                          .count();
  // One buffer per 100 ms of its clock and the one it queues, never more.
  EXPECT_LE(static_cast<long>(r.tiempos.size()), pasado / 100 + 2);
  EXPECT_GE(r.tiempos.size(), 4u);
  EXPECT_TRUE(Sanos(r));
  for (size_t i = 1; i < r.tiempos.size(); ++i) {
    EXPECT_GE(r.tiempos[i] + 100, i * 100) << i;  // each buffer at its own time
  }
}

TEST(PortAudioStream, ACallbackThatThrowsPlaysSilenceAndTheStreamGoesOn) {
  auto propio = std::make_unique<HostFalso>();
  HostFalso* host = propio.get();
  host->primados = 0;
  Registro r;
  r.lanzar_en = 0;
  auto stream = Abrir(std::move(propio), &r);
  std::string reason;
  ASSERT_TRUE(stream->Start(&reason));
  host->Llamar();
  EXPECT_EQ(host->ultima_salida, std::vector<int16_t>(2205, 0));
  host->reloj = host->reloj.load() + 0.1;
  host->Llamar();
  EXPECT_EQ(host->ultima_salida, std::vector<int16_t>(2205, 1));
  EXPECT_EQ(r.tiempos.size(), 2u);
}

// The real library looks for devices (ALSA, JACK) while another thread
// writes to stderr: every line of that thread arrives, and none of the
// libraries' chatter does.
TEST(PortAudioDevice, StderrStaysWholeWhileStreamsOpen) {
  char pattern[] = "/tmp/lectoria-stderr-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  // A configuration with no default device: ALSA complains on every open.
  std::ofstream(dir + "/asound.conf") << "pcm.nada { type hw card 99 }\n";
  const char* antes = std::getenv("ALSA_CONFIG_PATH");
  const std::string anterior = antes != nullptr ? antes : "";
  setenv("ALSA_CONFIG_PATH", (dir + "/asound.conf").c_str(), 1);
  PortAudioDevice::ReiniciarBibliotecaForTesting();

  std::fflush(stderr);
  const int guardado = dup(2);
  const int fichero = open((dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fichero, 0);
  dup2(fichero, 2);
  close(fichero);

  std::atomic<bool> fin{false};
  std::thread escritor([&] {
    for (int i = 0; i < 400; ++i) {
      std::fprintf(stderr, "linea %d\n", i);
      std::fflush(stderr);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    fin = true;
  });
  PortAudioDevice device;
  Registro r;
  while (!fin.load()) {
    std::string reason;
    AudioStreamParams p = Ogg();
    auto stream = device.OpenDefaultStream(p, &Callback, &r, &reason);
    PortAudioDevice::ReiniciarBibliotecaForTesting();
  }
  escritor.join();
  std::fflush(stderr);
  dup2(guardado, 2);
  close(guardado);
  if (anterior.empty()) {
    unsetenv("ALSA_CONFIG_PATH");
  } else {
    setenv("ALSA_CONFIG_PATH", anterior.c_str(), 1);
  }
  PortAudioDevice::ReiniciarBibliotecaForTesting();

  const std::string texto = LeerFichero(dir + "/stderr");
  std::filesystem::remove_all(dir);
  for (int i = 0; i < 400; ++i) {
    EXPECT_NE(texto.find("linea " + std::to_string(i) + "\n"), std::string::npos) << i;
  }
  EXPECT_EQ(texto.find("ALSA lib"), std::string::npos) << texto.substr(0, 400);
  EXPECT_EQ(texto.find("jack"), std::string::npos) << texto.substr(0, 400);
  EXPECT_EQ(texto.find("Cannot connect"), std::string::npos);
}

}  // namespace
