// The page's sound side over the session's sentence audio manager and its
// sound stream: each operation of IAudioPagina is the same-named one of
// TGestorAudio, the recording ones are TAudio's, and the sentence state is
// TGestorAudio's.
#pragma once

#include "player/IAudioPagina.h"

class TAudio;
class TGestorAudio;

class GestorAudioPagina : public IAudioPagina {
 public:
  GestorAudioPagina(TGestorAudio* gestor, TAudio* audio) : gestor_(gestor), audio_(audio) {}

  void StopAudio() override;
  void PlayAudio(const char* nombre, uint8_t carpeta) override;
  void IniciarComparar() override;
  void FinAudio() override;
  void PlayRolePlayGrabar() override;
  void PlayRolePlayAlumno() override;
  void GrabarAudioSTR(const char* path) override;
  void FinGrabarFraseSTR() override;

  uint8_t Estado() override;
  void SetEstado(uint8_t estado) override;
  bool Grabando() override;
  void SetGrabando(bool grabando) override;
  uint16_t IdFrase() override;
  void SetIdFrase(uint16_t id) override;
  uint8_t TipoFrase() override;
  void SetTipoFrase(uint8_t tipo) override;
  std::string NombreFrase() override;
  void SetNombreFrase(const char* nombre) override;
  std::string CarpetaAlumno() override;

 private:
  TGestorAudio* gestor_;
  TAudio* audio_;
};
