#include "media/AudioDevice.h"

#include <cstdio>
#include <cstdlib>

#include "media/NullAudioDevice.h"
#include "media/PortAudioDevice.h"

std::unique_ptr<AudioDevice> MakeAudioDevice(const std::string& spec, std::string* error) {
  if (spec.empty() || spec == "portaudio") return std::make_unique<PortAudioDevice>();
  if (spec == "null") return std::make_unique<NullAudioDevice>(NullAudioDevice::Pacing::kRealTime);
  if (spec.rfind("file:", 0) == 0 && spec.size() > 5) {
    const std::string folder = spec.substr(5);
    auto device = std::make_unique<NullAudioDevice>(NullAudioDevice::Pacing::kRealTime);
    device->SetOutputFiles([folder](uint32_t n) {
      char name[32];
      std::snprintf(name, sizeof name, "/play%04u.wav", n);
      return folder + name;
    });
    device->SetCaptureFile(folder + "/mic.wav", true);
    return device;
  }
  if (error) *error = "unknown audio device '" + spec + "'";
  return nullptr;
}

AudioDevice& DefaultAudioDevice() {
  static AudioDevice* device = [] {
    const char* spec = std::getenv("LECTORIA_AUDIO");
    std::unique_ptr<AudioDevice> made = MakeAudioDevice(spec != nullptr ? spec : "", nullptr);
    if (!made) made = std::make_unique<PortAudioDevice>();
    return made.release();  // used until the process ends, by threads that may outlive main
  }();
  return *device;
}
