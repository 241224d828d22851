// What the session's workers need of the lesson manager and what it owns
// (the formatter on screen, keys and mouse, the role-play file and its line
// slots, the subtitle dictionaries, the animation, the study time and the
// bitmap manager).
//
// CambiarFormateador, TeclaPulsada, EventoRaton and SoltarFormateador are
// called with the session's page lock held.
#pragma once

#include <cstdint>

class IDocumentoParte;
class TGestorBMP;
class TRectangulosVirtuales;

class ILeccion {
 public:
  // The role-play line slots: 60 slots of 16 bytes (name, recorded flag).
  static constexpr uint32_t kBytesLineasRolePlay = 960;

  virtual ~ILeccion() = default;

  // Makes the document the one on screen (nothing when it already is); the
  // hit regions take it as theirs.
  virtual void CambiarFormateador(IDocumentoParte* documento, TRectangulosVirtuales* regiones) = 0;
  // True while a page or a click is being handled.
  virtual bool Ocupado() = 0;
  virtual void TeclaPulsada(uint32_t tecla) = 0;
  virtual void EventoRaton(uint16_t x, uint16_t y, uint8_t tipo,
                           TRectangulosVirtuales* regiones) = 0;
  // No formatter on screen: closes the animation and stops the sounds.
  virtual void SoltarFormateador() = 0;

  virtual void LeerRolePlay(const char* path) = 0;
  virtual void CargarDiccionarios(const char* carpeta) = 0;
  // Reads the animation's description and starts its loader: 0 when the
  // animation will be loaded, -1 when it never will.
  virtual int CargarAnim(const char* carpeta) = 0;
  // Waits until the animation is loaded or its loader has stopped; true
  // when loaded.
  virtual bool EsperarAnimacion() = 0;
  virtual uint16_t FramesAnimacion() = 0;

  // The role-play line slots (kBytesLineasRolePlay bytes; null when there
  // are none) and the number of lines the role-play file gave.
  virtual uint8_t* LineasRolePlay() = 0;
  virtual uint8_t NumeroLineasRolePlay() = 0;

  // Study time: earlier sessions' (from the audit) and this session's.
  virtual uint32_t TiempoAlmacenado() = 0;
  virtual void SetTiempoAlmacenado(uint32_t ms) = 0;
  virtual uint32_t TiempoActivo() = 0;

  virtual TGestorBMP* GestorBMP() = 0;
};
