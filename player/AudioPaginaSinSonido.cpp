#include "player/AudioPaginaSinSonido.h"

void AudioPaginaSinSonido::StopAudio() {
  Llamada("StopAudio", nullptr, -1);
  estado_ = 0;
  grabando_ = false;
}

void AudioPaginaSinSonido::PlayAudio(const char* nombre, uint8_t carpeta) {
  Llamada("PlayAudio", nombre ? nombre : "", carpeta);
}

void AudioPaginaSinSonido::FinAudio() {
  Llamada("FinAudio", nullptr, -1);
  estado_ = 0;
  grabando_ = false;
}
