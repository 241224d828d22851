// What the sentence audio manager reaches of the lesson player: the current
// document (its sound and exercise records, page, hit regions and status
// icon), the region handlers it ends a recording through, the study time,
// the navigation mode, and the role-play and speaking contexts. The player
// implements it; the media engine links nothing of the player.
//
// Every member is called with the page lock held (BloqueoPagina), so none
// runs beside a click or a page render.
#pragma once

#include <cstdint>
#include <mutex>

#include "base/CriticalSection.h"

// A hit region of the current page, as the sentence audio manager reads it.
struct RegionPagina {
  uint8_t tipo = 0;    // kind, 1 to 20; 0 for a free slot
  uint8_t en_uso = 0;  // 1 in use
  uint16_t left = 0;
  uint16_t top = 0;
  uint16_t right = 0;
  uint16_t bottom = 0;
  uint16_t id = 0;
};

// The fields of the role-play context the manager reads and writes.
struct EstadoRolePlay {
  uint8_t modo = 0;  // 0 none, 1 playback with the student's lines, 2 performing
  uint8_t personaje = 0;
  uint8_t finalizado = 1;
  uint8_t linea_actual = 0;  // 0-based
  uint8_t posicion = 0;      // into the character's row
  int16_t left = 0;
  int16_t right = 0;  // 0: no line highlighted
  int16_t top = 0;
  int16_t bottom = 0;
  uint8_t microfono = 0;
  uint8_t num_lineas = 0;  // read only
};

class IPaginaAudio {
 public:
  static constexpr uint16_t kMaxLineasRolePlay = 60;
  static constexpr uint8_t kFinFila = 255;

  virtual ~IPaginaAudio() = default;

  // The session's recursive page lock, held by renders and mouse events.
  virtual CriticalSection& BloqueoPagina() = 0;

  // The current document's 4-byte sound record (byte 1 listens, 2
  // recordings, 3 comparisons) and 410-byte exercise record (406, 407, 408);
  // null for an identifier outside the document's records or no document.
  virtual uint8_t* SonidoTratado(uint16_t id) = 0;
  virtual uint8_t* EjercicioTratado(uint16_t id) = 0;
  // The document's current sound (what the last sentence click set).
  virtual uint16_t SonidoActual() = 0;

  // Status icon: 1 GGRA04, 2 ALT04, 3 MIC01, 4 MIC04.
  virtual void SeleccionarIcono(uint8_t icono) = 0;
  virtual void PosicionarIcono(int16_t x, int16_t y) = 0;
  virtual void MostrarIcono(bool mostrar) = 0;

  // Redraws the current page; copies a part (w 0: all) to the window.
  virtual void SolicitudActualizarPagina() = 0;
  virtual void SolicitudRepintar(uint16_t x, uint16_t y, uint16_t w, uint16_t h) = 0;
  // The page counter of the document, and drawing page n (0-based) as the
  // current one, without stopping anything.
  virtual uint16_t PaginaActual() = 0;
  virtual uint16_t NumPaginas() = 0;
  virtual void PintarPagina(uint16_t pagina) = 0;
  // Fills a rectangle of the document's page surface; draws a skin image
  // ("COMUN\BTNSOLN") at (x, y) on it.
  virtual void RellenarRect(int16_t x, int16_t y, uint16_t w, uint16_t h, uint32_t color) = 0;
  virtual void PintarPNG(const char* imagen, int16_t x, int16_t y) = 0;

  // Hit regions of the page: the counted slots (slot 0 is never a region).
  virtual uint16_t NumRegiones() = 0;
  virtual bool LeerRegion(uint16_t slot, RegionPagina* region) = 0;
  // Role-play buttons set to the role-play state.
  virtual void ActualizarBotones() = 0;
  // Clears the long-press clock of the hit regions.
  virtual void LimpiarPulsacion() = 0;
  // The left-button-up handlers of a sentence and of a written exercise,
  // called without a region (they end a running recording and compare).
  virtual void TratarCIUFraseAudioNormal() = 0;
  virtual void TratarCIUEjercicioEscrito() = 0;

  // A learner action for the study time.
  virtual void ActivarTiempo() = 0;
  virtual bool ModoNavegacion() = 0;

  // The role-play context.
  virtual EstadoRolePlay LeerRolePlay() = 0;
  virtual void EscribirRolePlay(const EstadoRolePlay& estado) = 0;
  // Line `linea`'s audio name (at most 15 characters and a NUL) into nombre.
  virtual void NombreLineaRolePlay(uint8_t linea, char* nombre, size_t capacidad) = 0;
  virtual bool LineaGrabada(uint8_t linea) = 0;
  virtual void MarcarLineaGrabada(uint8_t linea) = 0;
  // Entry `posicion` of the character's row of line indices; kFinFila past
  // its end.
  virtual uint8_t LineaDePersonaje(uint8_t personaje, uint8_t posicion) = 0;

  // The speaking context: the answer region clicked last (false when none)
  // and the end of its audio (the answer-shown flag cleared).
  virtual bool RegionRespuesta(RegionPagina* region) = 0;
  virtual void FinRespuesta() = 0;
};
