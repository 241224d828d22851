#include "media/FakeAudioAnim.h"

void FakeAudioAnim::PlayAudioOGGPosicion(const char* path, uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  llamadas_.push_back({"PlayAudioOGGPosicion", path != nullptr ? path : "", ms});
  sonando_ = true;
  ticks_esperados_ = 0;
  empezado_ = ticks_hasta_empezar_ == 0;
  posicion_ms_ = ms;
}

bool FakeAudioAnim::Empezado() {
  std::lock_guard<std::mutex> lock(mutex_);
  return sonando_ && empezado_;
}

uint32_t FakeAudioAnim::PosicionAudio() {
  std::lock_guard<std::mutex> lock(mutex_);
  return sonando_ ? posicion_ms_ : 0;
}

void FakeAudioAnim::CloseAudio() {
  std::lock_guard<std::mutex> lock(mutex_);
  llamadas_.push_back({"CloseAudio", "", 0});
  sonando_ = false;
  empezado_ = false;
  posicion_ms_ = 0;
}

void FakeAudioAnim::Tic(uint32_t avance_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!sonando_) return;
  if (empezado_) {
    posicion_ms_ += avance_ms;
    return;
  }
  if (ticks_hasta_empezar_ != kNunca && ++ticks_esperados_ >= ticks_hasta_empezar_)
    empezado_ = true;
}

void FakeAudioAnim::SetPosicion(uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sonando_) posicion_ms_ = ms;
}

void FakeAudioAnim::SetTicksHastaEmpezar(uint32_t ticks) {
  std::lock_guard<std::mutex> lock(mutex_);
  ticks_hasta_empezar_ = ticks;
}

bool FakeAudioAnim::Sonando() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sonando_;
}

std::vector<FakeAudioAnim::Llamada> FakeAudioAnim::Llamadas() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return llamadas_;
}

void FakeAudioAnim::BorrarLlamadas() {
  std::lock_guard<std::mutex> lock(mutex_);
  llamadas_.clear();
}
