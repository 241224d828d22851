// What the page asks of the dialogue animation, on the animation player:
// IAnimPagina over TGestorAnim, one call per member.
#pragma once

#include "player/IAnimPagina.h"

class TGestorAnim;

class AnimPaginaGestorAnim : public IAnimPagina {
 public:
  explicit AnimPaginaGestorAnim(TGestorAnim* anim) : anim_(anim) {}

  void PlayAnim(uint16_t frame) override;
  void PauseAnim() override;
  void RecapAnim() override;
  void CloseAnim() override;
  void CambiarSubtitulos() override;
  bool Cargada() override;
  bool Parada() override;
  uint16_t NumFrames() override;
  uint16_t Seccion(uint16_t frame) override;
  // The dialogue sound's load, and the load of the pictures after the first
  // backgrounds: the two bars under the animation.
  uint8_t PorcentajeAudio() override;
  uint8_t PorcentajeImagenes() override;
  void PintarFondo(uint16_t slot, uint16_t x, uint16_t y) override;

 private:
  TGestorAnim* anim_;
};
