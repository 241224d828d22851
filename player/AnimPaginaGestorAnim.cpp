#include "player/AnimPaginaGestorAnim.h"

#include "media/TGestorAnim.h"

void AnimPaginaGestorAnim::PlayAnim(uint16_t frame) {
  anim_->PlayAnim(frame);
}
void AnimPaginaGestorAnim::PauseAnim() {
  anim_->PauseAnim();
}
void AnimPaginaGestorAnim::RecapAnim() {
  anim_->RecapAnim();
}
void AnimPaginaGestorAnim::CloseAnim() {
  anim_->CloseAnim();
}
void AnimPaginaGestorAnim::CambiarSubtitulos() {
  anim_->CambiarSubtitulos();
}
bool AnimPaginaGestorAnim::Cargada() {
  return anim_->Cargada();
}
bool AnimPaginaGestorAnim::Parada() {
  return anim_->Parada();
}
uint16_t AnimPaginaGestorAnim::NumFrames() {
  return anim_->NumFrames();
}
uint16_t AnimPaginaGestorAnim::Seccion(uint16_t frame) {
  return anim_->Seccion(frame);
}
uint8_t AnimPaginaGestorAnim::PorcentajeAudio() {
  return anim_->ActualizarPorcentajeAudio();
}
uint8_t AnimPaginaGestorAnim::PorcentajeImagenes() {
  return anim_->PorcentajeCarga();
}
void AnimPaginaGestorAnim::PintarFondo(uint16_t slot, uint16_t x, uint16_t y) {
  anim_->PintarFondo(slot, x, y);
}
