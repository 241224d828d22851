#include "player/GestorAudioPagina.h"

#include "media/TAudio.h"
#include "media/TGestorAudio.h"

void GestorAudioPagina::StopAudio() {
  if (gestor_) gestor_->StopAudio();
}

void GestorAudioPagina::PlayAudio(const char* nombre, uint8_t carpeta) {
  if (gestor_) gestor_->PlayAudio(nombre, carpeta);
}

void GestorAudioPagina::IniciarComparar() {
  if (gestor_) gestor_->IniciarComparar();
}

void GestorAudioPagina::FinAudio() {
  if (gestor_) gestor_->FinAudio();
}

void GestorAudioPagina::PlayRolePlayGrabar() {
  if (gestor_) gestor_->PlayRolePlayGrabar();
}

void GestorAudioPagina::PlayRolePlayAlumno() {
  if (gestor_) gestor_->PlayRolePlayAlumno();
}

void GestorAudioPagina::GrabarAudioSTR(const char* path) {
  if (audio_) audio_->GrabarAudioSTR(path);
}

void GestorAudioPagina::FinGrabarFraseSTR() {
  if (audio_) audio_->FinGrabarFraseSTR();
}

uint8_t GestorAudioPagina::Estado() {
  return gestor_ ? gestor_->Estado() : 0;
}

void GestorAudioPagina::SetEstado(uint8_t estado) {
  if (gestor_) gestor_->SetEstado(estado);
}

bool GestorAudioPagina::Grabando() {
  return gestor_ && gestor_->Grabando();
}

void GestorAudioPagina::SetGrabando(bool grabando) {
  if (gestor_) gestor_->SetGrabando(grabando);
}

uint16_t GestorAudioPagina::IdFrase() {
  return gestor_ ? gestor_->IdFrase() : 0;
}

void GestorAudioPagina::SetIdFrase(uint16_t id) {
  if (gestor_) gestor_->SetIdFrase(id);
}

uint8_t GestorAudioPagina::TipoFrase() {
  return gestor_ ? gestor_->TipoFrase() : 0;
}

void GestorAudioPagina::SetTipoFrase(uint8_t tipo) {
  if (gestor_) gestor_->SetTipoFrase(tipo);
}

std::string GestorAudioPagina::NombreFrase() {
  return gestor_ ? gestor_->NombreFrase() : std::string();
}

void GestorAudioPagina::SetNombreFrase(const char* nombre) {
  if (gestor_) gestor_->SetNombreFrase(nombre);
}

std::string GestorAudioPagina::CarpetaAlumno() {
  return gestor_ ? gestor_->CarpetaAlumno() : std::string();
}
