// What the page (its tag handlers, hit regions and written exercises) asks
// of the sound side: stop, play a sentence, compare, end a sound, run the
// two role-play modes, record a sentence and end the recording, and the
// sentence state the click handlers set and read.
//
// The lesson manager holds one; without one every call is skipped and every
// flag reads 0. Members are called with the session's page lock held.
#pragma once

#include <cstdint>
#include <string>

class IAudioPagina {
 public:
  virtual ~IAudioPagina() = default;

  virtual void StopAudio() = 0;
  // Plays "NAME.OGG" of folder 1 (native) or 2 (private).
  virtual void PlayAudio(const char* nombre, uint8_t carpeta) = 0;
  virtual void IniciarComparar() = 0;
  virtual void FinAudio() = 0;
  virtual void PlayRolePlayGrabar() = 0;
  virtual void PlayRolePlayAlumno() = 0;
  virtual void GrabarAudioSTR(const char* path) = 0;
  virtual void FinGrabarFraseSTR() = 0;

  // The sentence state.
  virtual uint8_t Estado() = 0;
  virtual void SetEstado(uint8_t estado) = 0;
  virtual bool Grabando() = 0;
  virtual void SetGrabando(bool grabando) = 0;
  virtual uint16_t IdFrase() = 0;
  virtual void SetIdFrase(uint16_t id) = 0;
  // 1 sentence, 3 private sentence, 4 written exercise.
  virtual uint8_t TipoFrase() = 0;
  virtual void SetTipoFrase(uint8_t tipo) = 0;
  virtual std::string NombreFrase() = 0;
  virtual void SetNombreFrase(const char* nombre) = 0;
  // The student's folder recordings are written to ("S:\..." with its '\').
  virtual std::string CarpetaAlumno() = 0;
};

// The sentence states the handlers set and test.
namespace estado_audio {
constexpr uint8_t kInactivo = 0;
constexpr uint8_t kFraseNativa = 1;
constexpr uint8_t kFraseArmada = 2;
constexpr uint8_t kEjercicio = 5;
constexpr uint8_t kEjercicioArmado = 6;
constexpr uint8_t kDictado = 7;
constexpr uint8_t kRolePlayEspera = 8;
constexpr uint8_t kRolePlayAlumno = 10;
constexpr uint8_t kRespuesta = 11;
constexpr uint8_t kTipoFrase = 1;
constexpr uint8_t kTipoFrasePrivada = 3;
constexpr uint8_t kTipoEjercicio = 4;
}  // namespace estado_audio
