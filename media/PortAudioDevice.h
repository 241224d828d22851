// The sound card through PortAudio v19 on its default host. When the library
// cannot start or no default device opens, the stream falls back to a null
// stream paced in real time, and the process writes one line to stderr, once:
// "audio: no sound device (REASON); playing silently".
#pragma once

#include <memory>

#include "media/AudioDevice.h"
#include "media/NullAudioDevice.h"

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

 private:
  std::unique_ptr<AudioStream> Fallback(const AudioStreamParams& params, AudioCallback callback,
                                        void* user, const std::string& why, std::string* reason);

  NullAudioDevice silent_{NullAudioDevice::Pacing::kRealTime};
};
