// A sound side that plays nothing: it keeps the sentence state as the page's
// handlers set it (a stop or an end of sound puts it back to 0) and hands
// every operation to Llamada, which a tool or a test overrides to log it.
#pragma once

#include <cstdint>
#include <string>

#include "player/IAudioPagina.h"

class AudioPaginaSinSonido : public IAudioPagina {
 public:
  void StopAudio() override;
  void PlayAudio(const char* nombre, uint8_t carpeta) override;
  void IniciarComparar() override { Llamada("IniciarComparar", nullptr, -1); }
  void FinAudio() override;
  void PlayRolePlayGrabar() override { Llamada("PlayRolePlayGrabar", nullptr, -1); }
  void PlayRolePlayAlumno() override { Llamada("PlayRolePlayAlumno", nullptr, -1); }
  void GrabarAudioSTR(const char* path) override { Llamada("GrabarAudioSTR", path, -1); }
  void FinGrabarFraseSTR() override { Llamada("FinGrabarFraseSTR", nullptr, -1); }

  uint8_t Estado() override { return estado_; }
  void SetEstado(uint8_t estado) override { estado_ = estado; }
  bool Grabando() override { return grabando_; }
  void SetGrabando(bool grabando) override { grabando_ = grabando; }
  uint16_t IdFrase() override { return id_; }
  void SetIdFrase(uint16_t id) override { id_ = id; }
  uint8_t TipoFrase() override { return tipo_; }
  void SetTipoFrase(uint8_t tipo) override { tipo_ = tipo; }
  std::string NombreFrase() override { return nombre_; }
  void SetNombreFrase(const char* nombre) override { nombre_ = nombre ? nombre : ""; }
  std::string CarpetaAlumno() override { return "S:\\"; }

 protected:
  // An operation, with its text (name or path; null: none) and its number
  // (the folder; -1: none).
  virtual void Llamada(const char* /*operacion*/, const char* /*texto*/, int /*numero*/) {}

 private:
  uint8_t estado_ = 0;
  bool grabando_ = false;
  uint16_t id_ = 0;
  uint8_t tipo_ = 0;
  std::string nombre_;
};
