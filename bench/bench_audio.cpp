// The audio paths against bare library loops over the same data:
// - playback buffers from a 30 s OGG on a local folder store, through the
//   eHDD client and the loader's path (2048-byte scratch, carry, 2205-sample
//   buffers), beside a bare ov_fopen + ov_read loop;
// - the compressor's frame path (floats, the four settings, Codificar, the
//   length byte and the frame into memory) over 30 s of speech, beside a bare
//   speex_encode loop with the settings made once, and the same path writing
//   the .STR through the eHDD client;
// - the CPU a started, idle TAudio takes over 2 s, and the CPU per second of
//   a .STR playback on the null device beside a bare decode of its frames;
// - the position error of the real backend on a PulseAudio null sink over a
//   10 s playback, sampled every 50 ms, beside the buffer length.
#include <benchmark/benchmark.h>
#include <speex/speex.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ehdd/TEHDDClient.h"
#include "media/FicheroSTR.h"
#include "media/LectorOGG.h"
#include "media/NullAudioDevice.h"
#include "media/PortAudioDevice.h"
#include "media/TAudio.h"
#include "media/TCodecSpeex.h"
#include "tests/media/real_device.h"
#include "tests/support/OggFixture.h"

namespace {

constexpr size_t kFrames30s = 30 * 8000 / 160;

double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

std::vector<int16_t> Habla(size_t n) {
  std::vector<int16_t> out(n);
  uint32_t seed = 99;
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    const double envolvente = 0.5 + 0.5 * std::sin(i * 2 * M_PI / 4000.0);
    out[i] =
        static_cast<int16_t>(envolvente * (5000 * std::sin(i * 0.09) + 2000 * std::sin(i * 0.31)) +
                             ((seed >> 20) & 0x1FF) - 256);
  }
  return out;
}

struct Datos {
  Datos() {
    char pattern[] = "/tmp/lectoria-bench-audio-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    dir = pattern;
    std::ofstream(dir + "/treinta.ogg", std::ios::binary) << ogg_fixture::Mono22050(30.0, 0.3f);
    habla = Habla(kFrames30s * 160);
    TCodecSpeex codec;
    std::string str;
    uint8_t trama[1 + formato_str::kMaxTrama];
    for (size_t i = 0; i < kFrames30s; ++i) {
      const uint32_t n = CodificarTramaSTR(codec, habla.data() + i * 160, trama);
      str.append(reinterpret_cast<char*>(trama), n);
    }
    std::ofstream(dir + "/treinta.STR", std::ios::binary) << str;
    client.Mount(dir.c_str(), 'Q');
    client.AddLocalLetter('Q', "");
  }
  ~Datos() { std::filesystem::remove_all(dir); }
  std::string dir;
  std::vector<int16_t> habla;
  TEHDDClient client;
};

Datos& D() {
  static Datos datos;
  return datos;
}

void BM_OggBareVorbisfile(benchmark::State& state) {
  const std::string path = D().dir + "/treinta.ogg";
  char buffer[4096];
  for (auto _ : state) {
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0) std::abort();
    long total = 0;
    for (;;) {
      int link = 0;
      const long n = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &link);
      if (n <= 0) break;
      total += n;
    }
    ov_clear(&vf);
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_OggBareVorbisfile)->Unit(benchmark::kMillisecond);

void BM_OggLoaderBuffersThroughEHDD(benchmark::State& state) {
  Datos& d = D();
  static int16_t buffer[TAudio::kMuestrasBuffer];
  for (auto _ : state) {
    FuenteEHDD fuente{&d.client, d.client.Abrir("Q:\\treinta.ogg", 0), false};
    LectorOGG lector;
    if (fuente.file == nullptr || !lector.Abrir(&fuente, LectorOGG::CallbacksEHDD(), 0))
      std::abort();
    int buffers = 0;
    while (lector.Llenar(buffer, TAudio::kFramesOGG) == LectorOGG::kLleno) ++buffers;
    benchmark::DoNotOptimize(buffers);
  }
}
BENCHMARK(BM_OggLoaderBuffersThroughEHDD)->Unit(benchmark::kMillisecond);

void BM_SpeexBareEncode(benchmark::State& state) {
  Datos& d = D();
  std::vector<float> floats(d.habla.begin(), d.habla.end());
  void* encoder = speex_encoder_init(&speex_nb_mode);
  int quality = 10, dtx = 1, vad = 1, complexity = 3;
  speex_encoder_ctl(encoder, SPEEX_SET_QUALITY, &quality);
  speex_encoder_ctl(encoder, SPEEX_SET_DTX, &dtx);
  speex_encoder_ctl(encoder, SPEEX_SET_VAD, &vad);
  speex_encoder_ctl(encoder, SPEEX_SET_COMPLEXITY, &complexity);
  SpeexBits bits;
  speex_bits_init(&bits);
  char out[200];
  for (auto _ : state) {
    size_t bytes = 0;
    for (size_t i = 0; i < kFrames30s; ++i) {
      speex_bits_reset(&bits);
      speex_encode(encoder, floats.data() + i * 160, &bits);
      bytes += speex_bits_write(&bits, out, sizeof out);
    }
    benchmark::DoNotOptimize(bytes);
  }
  speex_bits_destroy(&bits);
  speex_encoder_destroy(encoder);
}
BENCHMARK(BM_SpeexBareEncode)->Unit(benchmark::kMillisecond);

void BM_CompressorFramesToMemory(benchmark::State& state) {
  Datos& d = D();
  TCodecSpeex codec;
  std::vector<uint8_t> memoria(kFrames30s * (1 + formato_str::kMaxTrama));
  for (auto _ : state) {
    size_t pos = 0;
    for (size_t i = 0; i < kFrames30s; ++i)
      pos += CodificarTramaSTR(codec, d.habla.data() + i * 160, &memoria[pos]);
    benchmark::DoNotOptimize(pos);
  }
}
BENCHMARK(BM_CompressorFramesToMemory)->Unit(benchmark::kMillisecond);

void BM_CompressorFramesThroughEHDD(benchmark::State& state) {
  Datos& d = D();
  TCodecSpeex codec;
  for (auto _ : state) {
    EscritorSTR escritor;
    escritor.Iniciar(&d.client, "Q:\\grabado.STR", &codec);
    for (size_t i = 0; i < kFrames30s; ++i) escritor.EscribirTrama(d.habla.data() + i * 160);
    escritor.Cerrar();
  }
}
BENCHMARK(BM_CompressorFramesThroughEHDD)->Unit(benchmark::kMillisecond);

// Process CPU over 2 s of a TAudio whose workers have run once and sleep.
void BM_IdleTAudioCpu(benchmark::State& state) {
  NullAudioDevice device(NullAudioDevice::Pacing::kPumped);
  TAudio audio;
  audio.SetEHDDClient(&D().client);
  audio.SetDispositivo(&device);
  audio.Iniciar();
  audio.PlayAudioSTR("Q:\\treinta.STR");
  audio.CloseAudio();
  for (auto _ : state) {
    const double antes = CpuMs();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    state.counters["cpu_ms_per_s"] = (CpuMs() - antes) / 2.0;
  }
  audio.Terminar();
}
BENCHMARK(BM_IdleTAudioCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

// Process CPU per second of a .STR playing on the null device in real time.
void BM_StrPlaybackCpu(benchmark::State& state) {
  NullAudioDevice device(NullAudioDevice::Pacing::kRealTime);
  TAudio audio;
  audio.SetEHDDClient(&D().client);
  audio.SetDispositivo(&device);
  audio.Iniciar();
  for (auto _ : state) {
    audio.PlayAudioSTR("Q:\\treinta.STR");
    const double antes = CpuMs();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    state.counters["cpu_ms_per_s"] = (CpuMs() - antes) / 2.0;
    audio.CloseAudio();
  }
  audio.Terminar();
}
BENCHMARK(BM_StrPlaybackCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

// A bare decode of the frames of one second, per second of audio.
void BM_StrBareDecodeCpu(benchmark::State& state) {
  const std::string str = [] {
    std::ifstream in(D().dir + "/treinta.STR", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }();
  void* decoder = speex_decoder_init(&speex_nb_mode);
  int enh = 1;
  speex_decoder_ctl(decoder, SPEEX_SET_ENH, &enh);
  SpeexBits bits;
  speex_bits_init(&bits);
  float out[160];
  for (auto _ : state) {
    const double antes = CpuMs();
    size_t pos = 0;
    for (size_t i = 0; i < kFrames30s && pos < str.size(); ++i) {
      const uint8_t n = static_cast<uint8_t>(str[pos]);
      speex_bits_read_from(&bits, str.data() + pos + 1, n);
      speex_decode(decoder, &bits, out);
      pos += 1 + n;
    }
    benchmark::DoNotOptimize(out[0]);
    state.counters["cpu_ms_per_s"] = (CpuMs() - antes) / 30.0;
  }
  speex_bits_destroy(&bits);
  speex_decoder_destroy(decoder);
}
BENCHMARK(BM_StrBareDecodeCpu)->Unit(benchmark::kMillisecond);

// |reported - wall| of PosicionAudio over 10 s of the 30 s OGG through the
// real backend on a private PulseAudio daemon's null sink, sampled every
// 50 ms. The wall is counted from the first sample where the device plays
// (PulseAudio through ALSA takes its first buffers, then stalls about a
// second before it plays them; that stall is its own figure). Goal: the
// median under one buffer (100 ms).
void BM_PositionErrorPulse(benchmark::State& state) {
  real_device::Dispositivo pulse(real_device::Tipo::kPulse);
  std::string motivo;
  if (!pulse.Preparar(&motivo)) {
    state.SkipWithError(("PulseAudio null sink unavailable: " + motivo).c_str());
    return;
  }
  PortAudioDevice device;
  TAudio audio;
  audio.SetEHDDClient(&D().client);
  audio.SetDispositivo(&device);
  audio.Iniciar();
  using Reloj = std::chrono::steady_clock;
  for (auto _ : state) {
    audio.PlayAudioOGG("Q:\\treinta.ogg");
    const auto hasta = Reloj::now() + std::chrono::seconds(3);
    while (!audio.Empezado() && Reloj::now() < hasta) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto inicio = Reloj::now();
    std::vector<std::pair<double, double>> muestras;  // wall, reported
    while (Reloj::now() - inicio < std::chrono::seconds(10)) {
      const double posicion = audio.PosicionAudio();
      muestras.emplace_back(
          std::chrono::duration<double, std::milli>(Reloj::now() - inicio).count(), posicion);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    audio.CloseAudio();
    size_t r = 0;
    while (r < muestras.size() && muestras[r].second < 400) ++r;
    if (r == muestras.size()) {
      state.SkipWithError("the position never passed the device's start");
      break;
    }
    std::vector<double> errores;
    for (size_t i = r; i < muestras.size(); ++i) {
      errores.push_back(std::abs((muestras[i].second - muestras[r].second) -
                                 (muestras[i].first - muestras[r].first)));
    }
    std::sort(errores.begin(), errores.end());
    state.counters["err_max_ms"] = errores.back();
    state.counters["err_median_ms"] = errores[errores.size() / 2];
    state.counters["buffer_ms"] = 100;
    state.counters["start_stall_ms"] = muestras[r].first - muestras[r].second;
    state.counters["samples"] = static_cast<double>(errores.size());
  }
  audio.Terminar();
}
BENCHMARK(BM_PositionErrorPulse)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
