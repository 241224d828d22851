// The one file of the engine that includes PortAudio.
#include "media/PortAudioDevice.h"

#include <dlfcn.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "base/OSAL.h"
#include "platform/Clock.h"

// The host libraries under PortAudio write their own lines to stderr while
// they look for devices; without a sound card that is a page of noise. Both
// take a handler for them. ALSA is linked; JACK is reached through the
// process's symbols, as PortAudio loads it (a PortAudio built without it
// leaves nothing to silence).
extern "C" {
using AlsaErrorHandler = void (*)(const char* file, int line, const char* function, int err,
                                  const char* fmt, ...);
int snd_lib_error_set_handler(AlsaErrorHandler handler) __attribute__((weak));
}

namespace {

void SinAlsa(const char*, int, const char*, int, const char*, ...) {}
void SinJack(const char*) {}

void CallarBibliotecas() {
  if (snd_lib_error_set_handler != nullptr) snd_lib_error_set_handler(&SinAlsa);
  using JackHandler = void (*)(void (*)(const char*));
  for (const char* nombre : {"jack_set_error_function", "jack_set_info_function"}) {
    if (auto poner = reinterpret_cast<JackHandler>(dlsym(RTLD_DEFAULT, nombre))) poner(&SinJack);
  }
}

// Pa_Initialize once per process, Pa_Terminate when the process ends.
class Library {
 public:
  static Library& Instance() {
    static Library library;
    return library;
  }
  bool Ready(std::string* reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!tried_) {
      tried_ = true;
      CallarBibliotecas();
      error_ = Pa_Initialize();
    }
    if (error_ != paNoError && reason) *reason = Pa_GetErrorText(error_);
    return error_ == paNoError;
  }
  void Reiniciar() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (tried_ && error_ == paNoError) Pa_Terminate();
    tried_ = false;
    error_ = paNoError;
  }
  ~Library() {
    if (tried_ && error_ == paNoError) Pa_Terminate();
  }

 private:
  std::mutex mutex_;
  bool tried_ = false;
  PaError error_ = paNoError;
};

std::atomic<bool> g_fallback_reported{false};

double Monotonico() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
             .count() +
         1.0;  // never 0, which means no clock
}

// One PortAudio stream on the default devices.
class HostPortAudio : public PortAudioHostStream {
 public:
  ~HostPortAudio() override {
    if (stream_ != nullptr) Pa_CloseStream(stream_);
  }
  bool Open(const AudioStreamParams& params, Buffer buffer, void* wrapper,
            std::string* reason) override {
    buffer_ = buffer;
    wrapper_ = wrapper;
    salida_ = params.output_channels > 0;
    const PaError error = Pa_OpenDefaultStream(
        &stream_, params.input_channels, params.output_channels, paInt16, params.sample_rate,
        params.frames_per_buffer, &HostPortAudio::OnPa, this);
    if (error != paNoError) {
      stream_ = nullptr;
      if (reason) *reason = Pa_GetErrorText(error);
      return false;
    }
    return true;
  }
  bool Start(std::string* reason) override {
    const PaError error = Pa_StartStream(stream_);
    if (error != paNoError && reason) *reason = Pa_GetErrorText(error);
    return error == paNoError;
  }
  void Stop() override { Pa_StopStream(stream_); }
  // The stream's clock. Pa_GetStreamTime asks the device's status, which on
  // some hosts (ALSA's pulse plugin) is a round trip to the sound server
  // under the lock the callback thread writes under: asked every buffer and
  // by every position, it slows the stream. The monotonic clock is what
  // the hosts' times are read against anyway.
  double Now() override { return Monotonico(); }
  double Latency() override {
    const PaStreamInfo* info = Pa_GetStreamInfo(stream_);
    if (info == nullptr) return 0;
    return salida_ ? info->outputLatency : info->inputLatency;
  }

 private:
  static int OnPa(const void* input, void* output, unsigned long frames,
                  const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<HostPortAudio*>(user);
    self->buffer_(static_cast<const int16_t*>(input), static_cast<int16_t*>(output),
                  static_cast<uint32_t>(frames), Monotonico(), self->wrapper_);
    return paContinue;
  }

  PaStream* stream_ = nullptr;
  Buffer buffer_ = nullptr;
  void* wrapper_ = nullptr;
  bool salida_ = false;
};

// The engine's stream over a host stream. Its time is the host's clock since
// a base taken before the host may call back, held to the samples handed
// over: a device that stalls (PulseAudio's start through ALSA, an underrun)
// moves the time on only as it takes samples again, so the time never runs
// ahead of what the device can have played by more than its queue.
class PaStreamWrapper : public AudioStream {
 public:
  PaStreamWrapper(std::unique_ptr<PortAudioHostStream> host, const AudioStreamParams& params,
                  AudioCallback callback, void* user)
      : host_(std::move(host)),
        callback_(callback),
        user_(user),
        rate_(params.sample_rate > 0 ? params.sample_rate : 1),
        buffer_ms_(params.frames_per_buffer * 1000.0 / rate_) {}
  ~PaStreamWrapper() override {
    Stop();
    host_.reset();
  }

  // The time base is taken before the host is started: PortAudio calls
  // back from inside Pa_StartStream, and those buffers are timed like any.
  bool Start(std::string* reason) override {
    if (running_.load()) return true;
    frames_.store(0);
    desfase_ms_.store(0);
    const double now = host_->Now();
    base_s_.store(now > 0 ? now : kSinBase);
    // How far ahead of its clock the host may ask: its latency (PortAudio
    // keeps that much queued beyond the buffer being played).
    adelanto_ms_ = std::max(0.0, host_->Latency() * 1000.0);
    running_.store(true);
    if (!host_->Start(reason)) {
      running_.store(false);
      return false;
    }
    return true;
  }

  // Stop before close, so the last buffer handed over is heard.
  void Stop() override {
    if (!running_.load()) return;
    host_->Stop();
    running_.store(false);
  }

  uint32_t TimeMs() override {
    if (!running_.load()) return 0;
    return Ms(host_->Now(), EntregadoMs(frames_.load()));
  }

  static void OnBuffer(const int16_t* input, int16_t* output, uint32_t frames, double now_s,
                       void* wrapper) {
    auto* self = static_cast<PaStreamWrapper*>(wrapper);
    try {
      self->Buffer(input, output, frames, now_s);
    } catch (...) {
      // Nothing may escape into the host's thread: the buffer is silence,
      // and the failure is reported once per stream.
      if (output != nullptr) std::fill_n(output, frames, int16_t{0});
      if (!self->fallo_reportado_.exchange(true)) {
        OSAL::Trace(kTraceError, "Fallo en el callback del stream de audio.");
      }
    }
  }

 private:
  static constexpr double kSinBase = -1;

  double EntregadoMs(uint64_t frames) const { return static_cast<double>(frames) * 1000.0 / rate_; }

  void Buffer(const int16_t* input, int16_t* output, uint32_t frames, double now_s) {
    // A host without a clock before its start: the first buffer's own.
    double sin_base = kSinBase;
    if (now_s > 0) base_s_.compare_exchange_strong(sin_base, now_s);
    const double antes_ms = EntregadoMs(frames_.load());
    if (Contener(antes_ms)) now_s = host_->Now();
    // A device that asks for this buffer later than its samples last: it
    // stalled, and its time resumes from the samples it had.
    const double reloj = RelojMs(now_s);
    if (reloj >= 0 && reloj - desfase_ms_.load() > antes_ms) desfase_ms_.store(reloj - antes_ms);
    const uint32_t time_ms = Ms(now_s, antes_ms);
    frames_.fetch_add(frames);
    callback_(input, output, frames, time_ms, user_);
  }

  // A device that asks for buffers faster than real time (beyond the
  // latency it queues) waits here for its clock, at most one buffer's time:
  // no device consumes faster than it plays.
  bool Contener(double antes_ms) {
    const double reloj = RelojMs(host_->Now());
    if (reloj < 0) return false;
    const double sobra = antes_ms - (reloj - desfase_ms_.load()) - adelanto_ms_;
    if (sobra <= 0) return false;
    platform::SleepMs(static_cast<uint32_t>(std::min(sobra, buffer_ms_)) + 1);
    return true;
  }

  // ms on the host's clock since the base; -1 when either is unknown.
  double RelojMs(double now_s) const {
    const double base = base_s_.load();
    if (base <= 0 || !(now_s > 0)) return -1;
    return (now_s - base) * 1000.0;
  }

  // The stream's time: its clock since the base, less its stalls, never
  // past the samples handed over (tope_ms); without a clock, those samples.
  uint32_t Ms(double now_s, double tope_ms) const {
    const double reloj = RelojMs(now_s);
    const double ms = reloj < 0 ? tope_ms : std::min(reloj - desfase_ms_.load(), tope_ms);
    if (!(ms > 0)) return 0;
    // The clock's seconds carry rounding below the microsecond.
    return ms >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(ms + 1e-3);
  }

  std::unique_ptr<PortAudioHostStream> host_;
  AudioCallback callback_;
  void* user_;
  const uint32_t rate_;
  const double buffer_ms_;
  double adelanto_ms_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<bool> fallo_reportado_{false};
  std::atomic<uint64_t> frames_{0};
  std::atomic<double> base_s_{kSinBase};
  std::atomic<double> desfase_ms_{0};
};

}  // namespace

std::unique_ptr<AudioStream> OpenPortAudioStream(std::unique_ptr<PortAudioHostStream> host,
                                                 const AudioStreamParams& params,
                                                 AudioCallback callback, void* user,
                                                 std::string* reason) {
  PortAudioHostStream* abierto = host.get();
  auto stream = std::make_unique<PaStreamWrapper>(std::move(host), params, callback, user);
  if (!abierto->Open(params, &PaStreamWrapper::OnBuffer, stream.get(), reason)) return nullptr;
  return stream;
}

PortAudioDevice::PortAudioDevice() = default;
PortAudioDevice::~PortAudioDevice() = default;

bool PortAudioDevice::Initialize(std::string* /*reason*/) {
  return true;
}

void PortAudioDevice::ReiniciarBibliotecaForTesting() {
  Library::Instance().Reiniciar();
}

std::unique_ptr<AudioStream> PortAudioDevice::Fallback(const AudioStreamParams& params,
                                                       AudioCallback callback, void* user,
                                                       const std::string& why,
                                                       std::string* reason) {
  if (!g_fallback_reported.exchange(true)) {
    std::fprintf(stderr, "audio: no sound device (%s); playing silently\n", why.c_str());
  }
  return silent_.OpenDefaultStream(params, callback, user, reason);
}

std::unique_ptr<AudioStream> PortAudioDevice::OpenDefaultStream(const AudioStreamParams& params,
                                                                AudioCallback callback, void* user,
                                                                std::string* reason) {
  std::string why;
  if (!Library::Instance().Ready(&why)) return Fallback(params, callback, user, why, reason);
  auto stream =
      OpenPortAudioStream(std::make_unique<HostPortAudio>(), params, callback, user, &why);
  if (!stream) return Fallback(params, callback, user, why, reason);
  return stream;
}
