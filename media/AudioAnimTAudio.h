// The dialogue animation's sound on the engine's audio streams: the
// animation player's IAudioAnim over TAudio.
#pragma once

#include "media/IAudioAnim.h"

class TAudio;

class AudioAnimTAudio : public IAudioAnim {
 public:
  explicit AudioAnimTAudio(TAudio* audio) : audio_(audio) {}

  void PlayAudioOGGPosicion(const char* path, uint32_t ms) override;
  // The streams' started flag: the first real buffer has been played.
  bool Empezado() override;
  uint32_t PosicionAudio() override;
  void CloseAudio() override;

 private:
  TAudio* audio_;
};
