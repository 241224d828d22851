// The one file of the engine that includes PortAudio.
#include "media/PortAudioDevice.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

// The host libraries under PortAudio (ALSA, JACK) write their own lines to
// stderr while they look for devices; without a sound card that is a page of
// noise. Their output goes to /dev/null while PortAudio starts and opens a
// stream; the engine says what happened in its one line.
class SinSalidaDeErrores {
 public:
  SinSalidaDeErrores() {
    std::fflush(stderr);
    guardada_ = dup(2);
    const int nula = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (guardada_ >= 0 && nula >= 0) dup2(nula, 2);
    if (nula >= 0) close(nula);
  }
  ~SinSalidaDeErrores() {
    std::fflush(stderr);
    if (guardada_ >= 0) {
      dup2(guardada_, 2);
      close(guardada_);
    }
  }
  SinSalidaDeErrores(const SinSalidaDeErrores&) = delete;
  SinSalidaDeErrores& operator=(const SinSalidaDeErrores&) = delete;

 private:
  int guardada_ = -1;
};

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
      SinSalidaDeErrores silencio;
      error_ = Pa_Initialize();
    }
    if (error_ != paNoError && reason) *reason = Pa_GetErrorText(error_);
    return error_ == paNoError;
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

class PaStreamWrapper : public AudioStream {
 public:
  PaStreamWrapper(AudioCallback callback, void* user, uint32_t frames)
      : callback_(callback), user_(user), frames_(frames) {}
  ~PaStreamWrapper() override {
    Stop();
    if (stream_ != nullptr) Pa_CloseStream(stream_);
  }

  PaError Open(const AudioStreamParams& params) {
    SinSalidaDeErrores silencio;
    return Pa_OpenDefaultStream(&stream_, params.input_channels, params.output_channels, paInt16,
                                params.sample_rate, params.frames_per_buffer,
                                &PaStreamWrapper::OnBuffer, this);
  }

  bool Start(std::string* reason) override {
    if (running_) return true;
    const PaError error = Pa_StartStream(stream_);
    if (error != paNoError) {
      if (reason) *reason = Pa_GetErrorText(error);
      return false;
    }
    start_s_.store(Pa_GetStreamTime(stream_));
    running_ = true;
    return true;
  }

  // Stop before close, so the last buffer handed over is heard.
  void Stop() override {
    if (!running_) return;
    Pa_StopStream(stream_);
    running_ = false;
  }

  uint32_t TimeMs() override {
    if (!running_) return 0;
    return Ms(Pa_GetStreamTime(stream_));
  }

 private:
  // v19 gives seconds on a clock of its own; the engine wants ms since start.
  uint32_t Ms(PaTime now) const {
    const double ms = (now - start_s_.load()) * 1000.0;
    if (!(ms > 0)) return 0;
    return ms >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
  }

  static int OnBuffer(const void* input, void* output, unsigned long frames,
                      const PaStreamCallbackTimeInfo* time_info, PaStreamCallbackFlags,
                      void* user) {
    auto* self = static_cast<PaStreamWrapper*>(user);
    const uint32_t time_ms = time_info != nullptr ? self->Ms(time_info->currentTime) : 0;
    const uint32_t n = static_cast<uint32_t>(frames);
    self->callback_(static_cast<const int16_t*>(input), static_cast<int16_t*>(output), n, time_ms,
                    self->user_);
    return paContinue;
  }

  AudioCallback callback_;
  void* user_;
  uint32_t frames_;
  PaStream* stream_ = nullptr;
  bool running_ = false;
  std::atomic<PaTime> start_s_{0};
};

}  // namespace

PortAudioDevice::PortAudioDevice() = default;
PortAudioDevice::~PortAudioDevice() = default;

bool PortAudioDevice::Initialize(std::string* /*reason*/) {
  return true;
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
  auto stream = std::make_unique<PaStreamWrapper>(callback, user, params.frames_per_buffer);
  const PaError error = stream->Open(params);
  if (error != paNoError) {
    return Fallback(params, callback, user, Pa_GetErrorText(error), reason);
  }
  return stream;
}
