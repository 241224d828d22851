// What the audio suites share: a TAudio over a pumped null device that
// writes each output stream to a WAV file, a local folder mounted on Q:, a
// recording message sink, and the notify codes TAudio handled.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ehdd/TEHDDClient.h"
#include "media/FicheroSTR.h"
#include "media/NullAudioDevice.h"
#include "media/TAudio.h"
#include "media/TCodecSpeex.h"
#include "media/WavFile.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"

namespace audio_test {

namespace fs = std::filesystem;

inline bool EsperarQue(const std::function<bool()>& pred, int ms = 5000) {
  const auto hasta = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > hasta) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

inline std::string LeerFichero(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void EscribirFichero(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A .STR of the frames of these samples, coded as a recording codes them.
inline std::string CodificarSTR(const std::vector<int16_t>& muestras) {
  TCodecSpeex codec;
  std::string out;
  uint8_t trama[1 + formato_str::kMaxTrama];
  for (size_t i = 0; i + 160 <= muestras.size(); i += 160) {
    const uint32_t n = CodificarTramaSTR(codec, muestras.data() + i, trama);
    out.append(reinterpret_cast<char*>(trama), n);
  }
  return out;
}

inline std::vector<int16_t> Voz(size_t n) {
  std::vector<int16_t> out(n);
  for (size_t i = 0; i < n; ++i) {
    out[i] = static_cast<int16_t>(6000 * std::sin(i * 0.07) * std::sin(i * 0.0011) +
                                  ((i * 7919) % 200) - 100);
  }
  return out;
}

class Banco {
 public:
  explicit Banco(NullAudioDevice::Pacing pacing = NullAudioDevice::Pacing::kPumped,
                 bool reloj_manual = true)
      : device_(pacing) {
    char pattern[] = "/tmp/lectoria-audio-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    dir_ = pattern;
    if (reloj_manual) platform::SetClock(&clock_);
    reloj_manual_ = reloj_manual;
    client.Mount(dir_.c_str(), 'Q');
    client.AddLocalLetter('Q', "");
    device_.SetOutputFiles([this](uint32_t n) { return Salida(n); });
    platform::SetMessageSink([this](const std::string& text, const std::string&, unsigned type) {
      std::lock_guard<std::mutex> lock(mutex_);
      mensajes_.push_back(text);
      return platform::DefaultButton(type);
    });
    audio.SetEHDDClient(&client);
    audio.SetDispositivo(&device_);
    audio.SetObservador([this](uint8_t codigo, uint32_t generacion) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        avisos_.push_back({codigo, generacion});
      }
      changed_.notify_all();
    });
    audio.SetFinAudio([this](uint32_t generacion) {
      std::lock_guard<std::mutex> lock(mutex_);
      fines_.push_back(generacion);
    });
  }
  ~Banco() {
    audio.Terminar();
    platform::SetMessageSink(nullptr);
    if (reloj_manual_) platform::SetClock(nullptr);
    std::error_code error;
    fs::remove_all(dir_, error);
  }

  void Iniciar() { audio.Iniciar(); }
  NullAudioDevice& device() { return device_; }
  platform::ManualClock& clock() { return clock_; }
  const std::string& dir() const { return dir_; }
  std::string Local(const std::string& name) const { return dir_ + "/" + name; }
  std::string Ruta(const std::string& name) const { return "Q:\\" + name; }
  std::string Escribir(const std::string& name, const std::string& bytes) {
    EscribirFichero(Local(name), bytes);
    return Ruta(name);
  }
  std::string Salida(uint32_t n) const { return Local("play" + std::to_string(n) + ".wav"); }
  std::vector<int16_t> LeerSalida(uint32_t n) const {
    Wav16 wav;
    std::string error;
    EXPECT_TRUE(ReadWav16(Salida(n), &wav, &error)) << error;
    return wav.samples;
  }

  // Pumps one callback once the loader has handed the buffer over (or the
  // playback is no longer running).
  bool BombearListo() {
    EsperarQue([this] { return audio.BufferListo() || audio.Estado() != TAudio::kReproduciendo; });
    return device_.Pump();
  }
  // Pumps ready buffers until the playback stops running; the callbacks run.
  int BombearHastaElFin(int maximo = 5000) {
    int n = 0;
    while (audio.Estado() == TAudio::kReproduciendo && n < maximo && BombearListo()) ++n;
    return n;
  }
  // Runs op on another thread, pumping a callback here every half
  // millisecond until it returns; the callbacks pumped.
  int MientrasBombea(const std::function<void()>& op) {
    std::atomic<bool> hecho{false};
    std::thread t([&] {
      op();
      hecho.store(true);
    });
    int n = 0;
    while (!hecho.load()) {
      if (device_.Pump()) ++n;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    t.join();
    return n;
  }

  bool EsperarAviso(uint8_t codigo, int ms = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return ContarLocked(codigo) > 0; });
  }
  int Avisos(uint8_t codigo) {
    std::lock_guard<std::mutex> lock(mutex_);
    return ContarLocked(codigo);
  }
  std::vector<NotificacionAudio> TodosLosAvisos() {
    std::lock_guard<std::mutex> lock(mutex_);
    return avisos_;
  }
  std::vector<uint32_t> Fines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return fines_;
  }
  std::vector<std::string> Mensajes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return mensajes_;
  }
  // The loader reports a failure beside the cancellation it makes of it, so
  // the box may come just after the notify code: wait for it.
  std::vector<std::string> EsperarMensajes(size_t n, int ms = 5000) {
    EsperarQue([&] { return Mensajes().size() >= n; }, ms);
    return Mensajes();
  }

  TEHDDClient client;
  TAudio audio;

 private:
  int ContarLocked(uint8_t codigo) const {
    return static_cast<int>(
        std::count_if(avisos_.begin(), avisos_.end(),
                      [&](const NotificacionAudio& a) { return a.codigo == codigo; }));
  }

  platform::ManualClock clock_{1000};
  bool reloj_manual_ = false;
  NullAudioDevice device_;
  std::string dir_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<NotificacionAudio> avisos_;
  std::vector<uint32_t> fines_;
  std::vector<std::string> mensajes_;
};

// Cuts samples into buffers of n and drops those that are all silence.
inline std::vector<int16_t> SinSilencios(const std::vector<int16_t>& muestras, size_t n) {
  std::vector<int16_t> out;
  for (size_t i = 0; i < muestras.size(); i += n) {
    const size_t fin = std::min(muestras.size(), i + n);
    if (std::any_of(muestras.begin() + i, muestras.begin() + fin,
                    [](int16_t v) { return v != 0; })) {
      out.insert(out.end(), muestras.begin() + i, muestras.begin() + fin);
    }
  }
  return out;
}

}  // namespace audio_test
