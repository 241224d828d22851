// What the animation player needs of the dialogue sound: start a file at a
// position, know when its first real buffer has been played, read the
// position of the playback, and stop it. The session's audio streams
// implement it; tests and tools use FakeAudioAnim.
#pragma once

#include <cstdint>

class IAudioAnim {
 public:
  virtual ~IAudioAnim() = default;

  // Starts the OGG file at the position (ms), cancelling whatever plays.
  virtual void PlayAudioOGGPosicion(const char* path, uint32_t ms) = 0;
  // True once the playback's first real buffer has been played.
  virtual bool Empezado() = 0;
  // Position of the running playback in ms; 0 when nothing plays.
  virtual uint32_t PosicionAudio() = 0;
  // Stops whatever plays.
  virtual void CloseAudio() = 0;
};
