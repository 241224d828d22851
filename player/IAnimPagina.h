// What the page asks of the dialogue animation: the buttons' operations,
// whether it is loaded and stopped, its frame count, the section of a frame,
// its two load percentages, and the background drawn into the panel.
//
// The lesson manager holds one; without one every call is skipped and every
// flag and figure reads 0.
#pragma once

#include <cstdint>

class IAnimPagina {
 public:
  virtual ~IAnimPagina() = default;

  virtual void PlayAnim(uint16_t frame) = 0;
  virtual void PauseAnim() = 0;
  virtual void RecapAnim() = 0;
  virtual void CloseAnim() = 0;
  virtual void CambiarSubtitulos() = 0;

  virtual bool Cargada() = 0;
  virtual bool Parada() = 0;
  virtual uint16_t NumFrames() = 0;
  // The section number of a frame; 0 past the frame count.
  virtual uint16_t Seccion(uint16_t frame) = 0;
  // Load percentages of the dialogue sound and of the pictures.
  virtual uint8_t PorcentajeAudio() = 0;
  virtual uint8_t PorcentajeImagenes() = 0;
  // Draws the current background into the drawing slot at (x, y).
  virtual void PintarFondo(uint16_t slot, uint16_t x, uint16_t y) = 0;
};
