// The hit regions of the page on screen: a table of 100 RECT_VIRTUAL
// records (slot 0 is never a region) that each page render refills, the
// mouse events of the control window, the region under the pointer, the
// cursor and the buttons' hover and pressed images, and the action of each
// kind of region (TRectangulosVirtuales_handlers.cpp). It also keeps the
// long-press clock the 50 ms timer starts a recording with.
//
// Threads. Every mouse event takes the session's page lock: a move or a
// button-down is dropped while another thread holds it (a render) or while
// the busy byte is set; a button-up waits for it, so a release always ends
// what its press began. The table itself is only touched under that lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "player/RECT_VIRTUAL.h"

class OSAL;
class TFormatae;
class TGestorGDI;
class TGestorTAE;
class IAudioPagina;
class IAnimPagina;

class TRectangulosVirtuales {
 public:
  static constexpr uint16_t kNumRegiones = 100;
  // A left button held this long on a sentence starts its recording.
  static constexpr uint32_t kMsPulsacionLarga = 400;

  // Mouse events.
  enum Evento : uint8_t {
    kMover = 1,
    kIzquierdoAbajo = 2,
    kIzquierdoArriba = 3,
    kDerechoAbajo = 4,
    kDerechoArriba = 5
  };

  TRectangulosVirtuales() = default;
  ~TRectangulosVirtuales();
  TRectangulosVirtuales(const TRectangulosVirtuales&) = delete;
  TRectangulosVirtuales& operator=(const TRectangulosVirtuales&) = delete;

  // Set by the session before Iniciar.
  void SetOSAL(OSAL* osal) { osal_ = osal; }
  void SetGestorTAE(TGestorTAE* tae) { tae_ = tae; }
  // The formatter whose page the table holds (unit load, part changes).
  void SetFormatae(TFormatae* formatae) { formatae_.store(formatae); }
  TFormatae* Formatae() const { return formatae_.load(); }

  // Takes the table; false (after its message) when it cannot be allocated.
  bool Iniciar();
  bool Usable() const { return bufrectvirt_ != nullptr; }
  // Frees slots 1 to 99, forgets the pointer and the press.
  void Reset();

  // A free slot for a new region (the caller fills it), or 0 when the table
  // is full: reported once per page, and nothing must be written there.
  uint16_t NuevoRectangulo();
  // Frees, from the highest counted slot down, every record whose in-use
  // byte equals the value.
  void BorrarRectangulos(uint8_t valor);

  void EventoRaton(uint16_t x, uint16_t y, uint8_t evento);

  // The long-press clock, on the platform tick.
  void MarcarPulsacion();
  // Milliseconds since the press; 0 when none is pending.
  uint32_t TiempoPulsado() const;
  void LimpiarPulsacion() { pulsacion_pendiente_.store(false); }
  // Starts the recording of the armed sentence (the 50 ms timer, after a
  // press of kMsPulsacionLarga).
  void ActivarGrabacion();

  // The role-play buttons and the animation buttons drawn as their state says.
  void ActualizarBotones();
  void ActualizarBotonesAnim();

  // The left-button-up handlers of a sentence and of a written exercise;
  // without a region they end the running recording.
  void TratarCIUFraseAudioNormal(RECT_VIRTUAL* rv);
  void TratarCIUEjercicioEscrito(RECT_VIRTUAL* rv, uint16_t x, uint16_t y);

  // The table.
  uint16_t Cuenta() const { return cuenta_; }
  RECT_VIRTUAL* Region(uint16_t slot);
  const RECT_VIRTUAL* Region(uint16_t slot) const;
  // The slot of a record of the table (0 for none).
  uint16_t Slot(const RECT_VIRTUAL* rv) const;
  uint16_t Hover() const { return hover_; }
  uint16_t Pulsado() const { return pulsado_; }

 private:
  void Accion(RECT_VIRTUAL* rv, uint8_t evento, uint16_t x, uint16_t y, bool encima);
  void Sale(RECT_VIRTUAL* rv);
  // anterior: the slot the pointer was over before (0: none).
  void Entra(RECT_VIRTUAL* rv, uint16_t anterior);
  void IzquierdoAbajo(RECT_VIRTUAL* rv);
  void IzquierdoArriba(RECT_VIRTUAL* rv, uint16_t x, uint16_t y);
  void DerechoArriba(RECT_VIRTUAL* rv);

  // Handlers (TRectangulosVirtuales_handlers.cpp).
  void TratarCIDFraseAudio(RECT_VIRTUAL* rv, bool privado);
  void TratarCIUFraseAudioPrivado(RECT_VIRTUAL* rv);
  void TratarCDUFraseAudio(RECT_VIRTUAL* rv, bool privado);
  void TratarCIDEjercicioEscrito(RECT_VIRTUAL* rv);
  void TratarCDUEjercicioEscrito(RECT_VIRTUAL* rv);
  void HuecoProximo(RECT_VIRTUAL* rv, uint16_t x);
  void TratarCIUBotonSolucion(RECT_VIRTUAL* rv);
  void TratarCIUPlayDictado(RECT_VIRTUAL* rv);
  void TratarCIUHueco(RECT_VIRTUAL* rv, uint16_t x);
  void TratarCIUDificultad(RECT_VIRTUAL* rv);
  void TratarCIUAnswerSpeaking(RECT_VIRTUAL* rv);
  void TratarCIURolePlay(RECT_VIRTUAL* rv, bool grabar);
  void TratarCIUAnim(RECT_VIRTUAL* rv, uint16_t x);
  // The exercise record and page entry of a kind 2 region (null: none).
  struct EjercicioRegion;
  bool Ejercicio(const RECT_VIRTUAL* rv, EjercicioRegion& e);
  bool Resuelto(const RECT_VIRTUAL* rv);
  // A skin image drawn at the region's corner and presented.
  void Imagen(const RECT_VIRTUAL* rv, const char* imagen, bool presentar);
  void Repintar(const RECT_VIRTUAL* rv);
  void RepintarTodo();
  void Cursor(uint32_t id);
  // A role play runs; runs for the character of a button.
  bool RolePlayActivo() const;
  bool RolePlayDe(const RECT_VIRTUAL* rv) const;

  IAudioPagina& Audio() const;
  IAnimPagina& Anim() const;
  void Error(const char* texto);

  RECT_VIRTUAL* bufrectvirt_ = nullptr;
  uint16_t cuenta_ = 1;
  uint16_t hover_ = 0;
  uint16_t pulsado_ = 0;
  std::atomic<uint32_t> pulsacion_{0};
  std::atomic<bool> pulsacion_pendiente_{false};
  // Bumped whenever the table is cleared, so an action that redrew the page
  // leaves the pointer indices at 0.
  uint32_t generacion_ = 0;
  bool lleno_informado_ = false;

  OSAL* osal_ = nullptr;
  TGestorTAE* tae_ = nullptr;
  std::atomic<TFormatae*> formatae_{nullptr};
};
