// The lesson manager as the session's workers see it, over TGestorTAE: the
// formatter on screen (handed to the hit regions too), keys, mouse, the
// role-play file and its line slots, the dictionaries, the animation, the
// study time and the bitmap manager.
#pragma once

#include "player/ILeccion.h"

class TGestorTAE;

class LeccionGestorTAE : public ILeccion {
 public:
  static constexpr uint32_t kEsperaAnimacionMs = 120000;

  // The manager stays the caller's; its animation player is asked for at
  // each use, so one it has ended is never reached (the unit then has no
  // animation).
  explicit LeccionGestorTAE(TGestorTAE* tae) : tae_(tae) {}

  void CambiarFormateador(IDocumentoParte* documento, TRectangulosVirtuales* regiones) override;
  bool Ocupado() override;
  void TeclaPulsada(uint32_t tecla) override;
  void EventoRaton(uint16_t x, uint16_t y, uint8_t tipo, TRectangulosVirtuales* regiones) override;
  void SoltarFormateador() override;
  void LeerRolePlay(const char* path) override;
  void CargarDiccionarios(const char* carpeta) override;
  int CargarAnim(const char* carpeta) override;
  bool EsperarAnimacion() override;
  uint16_t FramesAnimacion() override;
  uint8_t* LineasRolePlay() override;
  uint8_t NumeroLineasRolePlay() override;
  uint32_t TiempoAlmacenado() override;
  void SetTiempoAlmacenado(uint32_t ms) override;
  uint32_t TiempoActivo() override;
  TGestorBMP* GestorBMP() override;

  TGestorTAE* tae() const { return tae_; }

 private:
  TGestorTAE* tae_;
};
