// The sound card through PortAudio v19 on its default host. When the library
// cannot start or no default device opens, the stream falls back to a null
// stream paced in real time, and the process writes one line to stderr, once:
// "audio: no sound device (REASON); playing silently".
//
// The host libraries' own chatter (ALSA's and JACK's error lines while they
// look for devices) goes to handlers that drop it; stderr itself is never
// pointed elsewhere, so no other thread's line is lost.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "media/AudioDevice.h"
#include "media/NullAudioDevice.h"

// The calls a stream makes of one PortAudio stream: the real one below, a
// test's fake elsewhere. Start may call the buffer function before it
// returns (PortAudio primes the device from inside Pa_StartStream).
class PortAudioHostStream {
 public:
  // One buffer: `now_s` is the host's clock at it (seconds; <= 0 unknown).
  using Buffer = void (*)(const int16_t* input, int16_t* output, uint32_t frames, double now_s,
                          void* wrapper);
  virtual ~PortAudioHostStream() = default;
  // False with the reason when no stream opens.
  virtual bool Open(const AudioStreamParams& params, Buffer buffer, void* wrapper,
                    std::string* reason) = 0;
  virtual bool Start(std::string* reason) = 0;
  // When it returns no buffer call runs or will run.
  virtual void Stop() = 0;
  // The host's clock for this stream in seconds; <= 0 when it has none.
  virtual double Now() = 0;
  // How far ahead of the sound the host asks for samples, in seconds.
  virtual double Latency() = 0;
};

// Opens the host stream and makes the engine's stream over it: times in ms
// from a base taken before the host can call back, and buffers never handed
// out faster than real time (a device that consumes faster, as ALSA's null
// PCM does, is held to its clock, so positions and the animation keep time
// on it). Null with the reason when the host stream does not open.
std::unique_ptr<AudioStream> OpenPortAudioStream(std::unique_ptr<PortAudioHostStream> host,
                                                 const AudioStreamParams& params,
                                                 AudioCallback callback, void* user,
                                                 std::string* reason);

class PortAudioDevice : public AudioDevice {
 public:
  PortAudioDevice();
  ~PortAudioDevice() override;

  // The library is started once per process and stopped when it ends; a
  // library that does not start is the fallback's business, so this is true.
  bool Initialize(std::string* reason) override;
  std::unique_ptr<AudioStream> OpenDefaultStream(const AudioStreamParams& params,
                                                 AudioCallback callback, void* user,
                                                 std::string* reason) override;

  // For tests that change the host's configuration (ALSA_CONFIG_PATH): the
  // library is stopped and starts afresh at the next open. No stream may be
  // open.
  static void ReiniciarBibliotecaForTesting();

 private:
  std::unique_ptr<AudioStream> Fallback(const AudioStreamParams& params, AudioCallback callback,
                                        void* user, const std::string& why, std::string* reason);

  NullAudioDevice silent_{NullAudioDevice::Pacing::kRealTime};
};
