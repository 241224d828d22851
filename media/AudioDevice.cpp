#include "media/AudioDevice.h"

#include <cstdio>
#include <cstdlib>

#include "media/NullAudioDevice.h"
#include "media/PortAudioDevice.h"

std::unique_ptr<AudioDevice> MakeAudioDevice(const std::string& setting, std::string* error) {
  if (setting.empty() || setting == "portaudio") return std::make_unique<PortAudioDevice>();
  if (setting == "null")
    return std::make_unique<NullAudioDevice>(NullAudioDevice::Pacing::kRealTime);
  if (setting.rfind("file:", 0) == 0 && setting.size() > 5) {
    const std::string folder = setting.substr(5);
    auto device = std::make_unique<NullAudioDevice>(NullAudioDevice::Pacing::kRealTime);
    device->SetOutputFiles([folder](uint32_t n) {
      char name[32];
      std::snprintf(name, sizeof name, "/play%04u.wav", n);
      return folder + name;
    });
    device->SetCaptureFile(folder + "/mic.wav", true);
    return device;
  }
  if (error) *error = "unknown audio device '" + setting + "'";
  return nullptr;
}

AudioDevice& DefaultAudioDevice() {
  static AudioDevice* device = [] {
    const char* setting = std::getenv("LECTORIA_AUDIO");
    std::unique_ptr<AudioDevice> made = MakeAudioDevice(setting != nullptr ? setting : "", nullptr);
    if (!made) made = std::make_unique<PortAudioDevice>();
    return made.release();  // used until the process ends, by threads that may outlive main
  }();
  return *device;
}
