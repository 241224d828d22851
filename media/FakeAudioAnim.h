// A dialogue sound for tests and tools: nothing is heard; the position moves
// only when the caller ticks it, and the start of a playback can be put off
// for a number of ticks (or for ever) to stand for a slow device.
#pragma once

#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "media/IAudioAnim.h"

class FakeAudioAnim : public IAudioAnim {
 public:
  // Never starts.
  static constexpr uint32_t kNunca = std::numeric_limits<uint32_t>::max();

  // A playback counts as started after ticks_hasta_empezar calls of Tic
  // (0: at once).
  explicit FakeAudioAnim(uint32_t ticks_hasta_empezar = 0)
      : ticks_hasta_empezar_(ticks_hasta_empezar) {}

  void PlayAudioOGGPosicion(const char* path, uint32_t ms) override;
  bool Empezado() override;
  uint32_t PosicionAudio() override;
  void CloseAudio() override;

  // One timer tick: a started playback moves on by avance_ms; one not yet
  // started counts the tick towards its start.
  void Tic(uint32_t avance_ms);
  // Moves the running playback to ms (a device ahead of or behind the player).
  void SetPosicion(uint32_t ms);
  void SetTicksHastaEmpezar(uint32_t ticks);
  bool Sonando() const;

  struct Llamada {
    std::string operacion;  // "PlayAudioOGGPosicion" or "CloseAudio"
    std::string path;
    uint32_t ms = 0;
  };
  std::vector<Llamada> Llamadas() const;
  void BorrarLlamadas();

 private:
  mutable std::mutex mutex_;
  uint32_t ticks_hasta_empezar_;
  uint32_t ticks_esperados_ = 0;
  bool sonando_ = false;
  bool empezado_ = false;
  uint32_t posicion_ms_ = 0;
  std::vector<Llamada> llamadas_;
};
