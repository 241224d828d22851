// The sound device under TAudio: callback-driven streams of 16-bit mono
// samples, one output or one input channel, opened on the default device.
//
// Backends: PortAudio (the real device; when none opens, the stream falls
// back to the null backend with one line on stderr), null (silence, paced in
// real time on the platform clock or pumped by a test) and file (the null
// backend writing every output stream to a WAV file and feeding capture from
// one). LECTORIA_AUDIO chooses the process's default: "portaudio" (default),
// "null" or "file:DIR".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AudioStreamParams {
  int input_channels = 0;   // 1 for a capture stream
  int output_channels = 0;  // 1 for a playback stream
  uint32_t sample_rate = 0;
  uint32_t frames_per_buffer = 0;
};

// Called on the device's thread once per buffer. `input` holds the captured
// samples of a capture stream (null otherwise), `output` takes the samples of
// a playback stream (null otherwise); both hold `frames` samples. `time_ms` is
// the stream's time at the start of this buffer. Returns 0 to go on. It must
// not throw, and must not wait for anything a Stop waits under.
using AudioCallback = int (*)(const int16_t* input, int16_t* output, uint32_t frames,
                              uint32_t time_ms, void* user);

class AudioStream {
 public:
  // Closes the stream (Stop first when it runs).
  virtual ~AudioStream() = default;
  virtual bool Start(std::string* reason) = 0;
  // Stops the callbacks: when it returns no callback runs or will run, and a
  // playback's last buffer has been handed to the device.
  virtual void Stop() = 0;
  // The stream's time in ms since it started (0 before).
  virtual uint32_t TimeMs() = 0;
};

class AudioDevice {
 public:
  virtual ~AudioDevice() = default;
  // Makes the sound library ready; false with the reason when it cannot be.
  virtual bool Initialize(std::string* reason) { return true; }
  // A stream on the default device, stopped; null with the reason when it
  // cannot be opened.
  virtual std::unique_ptr<AudioStream> OpenDefaultStream(const AudioStreamParams& params,
                                                         AudioCallback callback, void* user,
                                                         std::string* reason) = 0;
};

// Builds the device a LECTORIA_AUDIO text names: "" or "portaudio", "null",
// "file:DIR" (output streams to DIR/play0001.wav, play0002.wav, ... in opening
// order; capture from DIR/mic.wav, silence when it is absent). Null with the
// reason for any other text.
std::unique_ptr<AudioDevice> MakeAudioDevice(const std::string& setting, std::string* error);

// The process's device, made at first use from LECTORIA_AUDIO (an unknown
// value falls back to the default, PortAudio). Lives until the process ends.
AudioDevice& DefaultAudioDevice();
