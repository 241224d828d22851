// The animation against the session's real audio streams (TAudio, not the
// fake), ticked every 50 ms of real time: on the null backend, on ALSA's
// null PCM and on a PulseAudio null sink. The frames follow the sound, and a
// sound shorter than one buffer still lets the animation end.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "media/AudioAnimTAudio.h"
#include "media/NullAudioDevice.h"
#include "media/PortAudioDevice.h"
#include "media/TAudio.h"
#include "tests/media/anim_fixture.h"
#include "tests/media/real_device.h"
#include "tests/support/OggFixture.h"

namespace {

using anim_test::CarpetaAnim;
using anim_test::Descripcion;
using anim_test::Reproductor;
using anim_test::Score;
using Reloj = std::chrono::steady_clock;

enum class Backend { kNull, kAlsaNull, kPulse };

class AnimRealAudioTest : public testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() != Backend::kNull) {
      dispositivo_ = std::make_unique<real_device::Dispositivo>(GetParam() == Backend::kAlsaNull
                                                                    ? real_device::Tipo::kAlsaNull
                                                                    : real_device::Tipo::kPulse);
      PREPARAR_DISPOSITIVO_REAL(*dispositivo_);
    }
  }

  // 60 frames (12 s) of one background, and a dialogue of the given length.
  void Preparar(double segundos_dialogo) {
    Descripcion d;
    d.fondos = {{"PL", 1, {}}};
    Score s(60);
    s.pistas[0][0] = 1;
    carpeta_.Todo(d, s);
    carpeta_.Escribir("DIALOGO.OGG", ogg_fixture::Mono22050(segundos_dialogo));
  }

  // The player over a TAudio on this backend.
  void Montar() {
    r_ = std::make_unique<Reproductor>(carpeta_);
    audio_.SetEHDDClient(&carpeta_.cliente);
    audio_.SetDispositivo(GetParam() == Backend::kNull ? static_cast<AudioDevice*>(&nulo_)
                                                       : static_cast<AudioDevice*>(&pa_));
    audio_.Iniciar();
    r_->anim.SetAudio(&adaptador_);
    r_->anim.SetPintarBarraAnim([this](uint16_t, uint16_t) { ++mostrados_; });
  }

  void TearDown() override {
    if (r_) r_->anim.CloseAnim();
    audio_.Terminar();
  }

  // Ticks every 50 ms of real time for ms.
  void Tics(int ms) {
    const auto hasta = Reloj::now() + std::chrono::milliseconds(ms);
    auto siguiente = Reloj::now();
    while (Reloj::now() < hasta) {
      r_->anim.TimerTicAnim();
      siguiente += std::chrono::milliseconds(50);
      std::this_thread::sleep_until(siguiente);
    }
  }

  NullAudioDevice nulo_{NullAudioDevice::Pacing::kRealTime};
  PortAudioDevice pa_;
  std::unique_ptr<real_device::Dispositivo> dispositivo_;
  CarpetaAnim carpeta_;
  TAudio audio_;
  AudioAnimTAudio adaptador_{&audio_};
  std::unique_ptr<Reproductor> r_;
  int mostrados_ = 0;
};

TEST_P(AnimRealAudioTest, FramesKeepTimeWithTheSound) {
  Preparar(12.0);
  Montar();
  ASSERT_TRUE(r_->Cargar());
  r_->anim.PlayAnim(0);
  Tics(1500);
  const int a_mitad = mostrados_;
  Tics(1500);
  // The frame shown is the sound's (200 ms each), give or take two: 3 s of
  // sound, frame 15, where the device plays as soon as it takes the sound;
  // PulseAudio through ALSA plays it a second or two later on a busy
  // machine.
  const int frame = r_->anim.FrameActual() - 1;
  const int del_sonido = static_cast<int>(audio_.PosicionAudio() / 200);
  EXPECT_LE(std::abs(frame - del_sonido), 2) << del_sonido;
  EXPECT_GE(frame, GetParam() == Backend::kPulse ? 5 : 13);
  EXPECT_LE(frame, 17);
  // The frames counted grow with the ones shown.
  EXPECT_EQ(mostrados_, r_->anim.FrameActual());
  EXPECT_GE(a_mitad, 1);
  EXPECT_GT(mostrados_, a_mitad + 4);
  EXPECT_FALSE(r_->anim.Parada());
}

TEST_P(AnimRealAudioTest, ASoundShorterThanOneBufferStillLetsTheAnimationEnd) {
  Preparar(0.05);
  Montar();
  ASSERT_TRUE(r_->Cargar());
  r_->anim.PlayAnim(0);
  // The first buffer is the last: the sound never counts as started, and
  // the guard of 100 ticks ends the animation.
  const auto hasta = Reloj::now() + std::chrono::seconds(10);
  while (!r_->anim.Parada() && Reloj::now() < hasta) {
    r_->anim.TimerTicAnim();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(r_->anim.Parada());
  EXPECT_TRUE(r_->mensajes.Cajas().empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, AnimRealAudioTest,
                         testing::Values(Backend::kNull, Backend::kAlsaNull, Backend::kPulse),
                         [](const testing::TestParamInfo<Backend>& info) {
                           switch (info.param) {
                             case Backend::kNull:
                               return "Null";
                             case Backend::kAlsaNull:
                               return "AlsaNull";
                             default:
                               return "Pulse";
                           }
                         });

}  // namespace
