#include "media/AudioAnimTAudio.h"

#include "media/TAudio.h"

void AudioAnimTAudio::PlayAudioOGGPosicion(const char* path, uint32_t ms) {
  if (audio_ != nullptr) audio_->PlayAudioOGGPosicion(path, ms);
}

bool AudioAnimTAudio::Empezado() {
  return audio_ != nullptr && audio_->Empezado();
}

uint32_t AudioAnimTAudio::PosicionAudio() {
  return audio_ != nullptr ? audio_->PosicionAudio() : 0;
}

void AudioAnimTAudio::CloseAudio() {
  if (audio_ != nullptr) audio_->CloseAudio();
}
