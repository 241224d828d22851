// TAudio on the real PortAudio backend over two real device paths the test
// makes itself: ALSA's null PCM (it calls back from inside the stream's
// start and asks for buffers faster than real time) and a private
// PulseAudio daemon's null sink through ALSA's pulse plugin (real time). A
// device that cannot be made on this machine skips the test with the reason.
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "media/PortAudioDevice.h"
#include "tests/media/audio_support.h"
#include "tests/media/real_device.h"
#include "tests/support/OggFixture.h"

namespace {

using audio_test::Banco;
using audio_test::EsperarQue;
using real_device::Tipo;
using Reloj = std::chrono::steady_clock;

long MsDesde(Reloj::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - t).count());
}

// A position read, with the wall time since the first real buffer.
struct Muestra {
  long wall;
  uint32_t posicion;
};

class AudioRealTest : public testing::TestWithParam<Tipo> {
 protected:
  void SetUp() override {
    PREPARAR_DISPOSITIVO_REAL(dispositivo_);
    banco_ = std::make_unique<Banco>(NullAudioDevice::Pacing::kRealTime, false);
    banco_->audio.SetDispositivo(&pa_);
    banco_->Iniciar();
  }
  void TearDown() override { banco_.reset(); }

  Banco& banco() { return *banco_; }

  // Samples the position every paso_ms from the first real buffer to the
  // end; each sample with the wall time since that buffer.
  std::vector<Muestra> Muestrear(int paso_ms, int maximo_ms) {
    std::vector<Muestra> out;
    EXPECT_TRUE(EsperarQue([&] { return banco().audio.Empezado(); }, 3000));
    const auto inicio = Reloj::now();
    while (banco().audio.Estado() == TAudio::kReproduciendo && MsDesde(inicio) < maximo_ms) {
      const uint32_t p = banco().audio.PosicionAudio();
      const long w = MsDesde(inicio);
      if (banco().audio.Estado() != TAudio::kReproduciendo) break;
      out.push_back({w, p});
      std::this_thread::sleep_for(std::chrono::milliseconds(paso_ms));
    }
    return out;
  }

  PortAudioDevice pa_;
  real_device::Dispositivo dispositivo_{GetParam()};
  std::unique_ptr<Banco> banco_;
};

// Where the position has left the device's start behind (PulseAudio through
// ALSA takes its first buffers, then stalls about a second before it plays
// them): the first sample past the device's queue.
size_t Arrancado(const std::vector<Muestra>& muestras) {
  for (size_t i = 0; i < muestras.size(); ++i) {
    if (muestras[i].posicion >= 400) return i;
  }
  return muestras.size();
}

TEST_P(AudioRealTest, APlaybackKeepsTimeWithTheWallAndEndsOnce) {
  const std::string ruta = banco().Escribir("tres.ogg", ogg_fixture::Mono22050(3.0));
  const auto inicio = Reloj::now();
  banco().audio.PlayAudioOGG(ruta.c_str());
  const std::vector<Muestra> muestras = Muestrear(50, 6000);
  ASSERT_TRUE(banco().EsperarAviso(TAudio::kFinOGG, 3000));
  const long duracion = MsDesde(inicio);
  // 3 s of sound, and at most the device's start (1.5 s) beside it.
  EXPECT_GE(duracion, 3000);
  EXPECT_LE(duracion, 4500);
  ASSERT_GE(muestras.size(), 40u);
  const size_t r = Arrancado(muestras);
  ASSERT_LT(r, muestras.size());
  for (size_t i = 0; i < muestras.size(); ++i) {
    const Muestra& m = muestras[i];
    EXPECT_NE(m.posicion, 0xFFFFFFFFu) << i;
    // A device that plays at once has left 0 behind after its first buffer
    // (PulseAudio's start stall is covered by the pace check below).
    if (GetParam() == Tipo::kAlsaNull && m.wall >= 150) {
      EXPECT_GT(m.posicion, 0u) << "at " << m.wall << " ms";
    }
    if (i > 0) {
      EXPECT_GE(m.posicion, muestras[i - 1].posicion) << i;
    }
    // From there on the position keeps the wall's pace.
    if (i >= r) {
      const long avance = static_cast<long>(m.posicion) - static_cast<long>(muestras[r].posicion);
      EXPECT_LE(std::labs(avance - (m.wall - muestras[r].wall)), 200)
          << m.posicion << " ms reported at " << m.wall << " ms";
    }
  }
  // The last position read is the sound's end, give or take the queue.
  EXPECT_GE(muestras.back().posicion, 2700u);
  EXPECT_LE(muestras.back().posicion, 3100u);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(banco().Avisos(TAudio::kFinOGG), 1);
  EXPECT_EQ(banco().Fines(), std::vector<uint32_t>{banco().audio.Generacion()});
  EXPECT_TRUE(banco().Mensajes().empty());
}

TEST_P(AudioRealTest, APlaybackAtAPositionStartsThere) {
  const std::string ruta = banco().Escribir("tres.ogg", ogg_fixture::Mono22050(3.0));
  banco().audio.PlayAudioOGGPosicion(ruta.c_str(), 1000);
  const std::vector<Muestra> muestras = Muestrear(50, 4000);
  ASSERT_GE(muestras.size(), 20u);
  // From the file's second 1 (less the buffers of silence a busy device may
  // take before the loader has the second one), to its end.
  for (const Muestra& m : muestras) EXPECT_GE(m.posicion, 700u);
  EXPECT_LE(muestras.front().posicion, 1400u);
  EXPECT_GE(muestras.back().posicion, 2700u);
  ASSERT_TRUE(banco().EsperarAviso(TAudio::kFinOGG, 3000));
  EXPECT_EQ(banco().Avisos(TAudio::kFinOGG), 1);
}

TEST_P(AudioRealTest, AStartDuringAPlaybackEndsItAndPlaysTheSecondWhole) {
  const std::string primero = banco().Escribir("tres.ogg", ogg_fixture::Mono22050(3.0));
  const std::string segundo = banco().Escribir("uno.ogg", ogg_fixture::Mono22050(1.0));
  banco().audio.PlayAudioOGG(primero.c_str());
  ASSERT_TRUE(EsperarQue([&] { return banco().audio.Empezado(); }, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const uint32_t gen_primero = banco().audio.Generacion();
  const auto inicio = Reloj::now();
  banco().audio.PlayAudioOGG(segundo.c_str());
  const uint32_t gen_segundo = banco().audio.Generacion();
  ASSERT_NE(gen_primero, gen_segundo);
  const std::vector<Muestra> muestras = Muestrear(50, 3000);
  ASSERT_TRUE(banco().EsperarAviso(TAudio::kFinOGG, 3000));
  EXPECT_GE(MsDesde(inicio), 1000);
  ASSERT_FALSE(muestras.empty());
  EXPECT_GE(muestras.back().posicion, 800u);  // the second played to its end
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(banco().Fines(), std::vector<uint32_t>{gen_segundo});
  EXPECT_EQ(banco().Avisos(TAudio::kFinOGG), 1);
  EXPECT_EQ(banco().Avisos(TAudio::kCancelOGG), 1);
}

INSTANTIATE_TEST_SUITE_P(Dispositivos, AudioRealTest,
                         testing::Values(Tipo::kAlsaNull, Tipo::kPulse),
                         [](const testing::TestParamInfo<Tipo>& info) {
                           return info.param == Tipo::kAlsaNull ? "AlsaNull" : "Pulse";
                         });

}  // namespace

// Under TSan: what it sees inside the PulseAudio client library, which it
// does not instrument (its own mutexes and atomics); the same list as the
// tool's child is given.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libpulsecommon\nrace:libpulse.so\n";
}
