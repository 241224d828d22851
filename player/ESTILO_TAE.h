// The text style of the TAE layout: the font record, colours, indents, tab
// stops, character spacing and line pitch in force at a point of a page.
//
// Styles are stored in the lesson manager's style list and compared byte for
// byte, so the record has no padding and every byte of it is set: make one
// with EstiloVacio() (all zero) and change its fields, and set a face name
// only through PonerFuente, which clears all 32 bytes of the old one first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/gfx/Colour.h"
#include "platform/gfx/Font.h"

struct ESTILO_TAE {
  platform::gfx::LOGFONTA fuente;
  platform::gfx::COLORREF color_texto;
  platform::gfx::COLORREF color_fondo;
  int16_t sangria;           // hanging indent: where lines after a paragraph's first start
  int16_t sangria_primera;   // first-line indent (given as extra advance by TABULADOR)
  uint16_t tabuladores[15];  // tab stops, x offsets within the line
  int8_t espaciado;          // added to the advance of every character
  uint8_t interlinea;        // line pitch in pixels
};
static_assert(sizeof(ESTILO_TAE) == 104);
static_assert(offsetof(ESTILO_TAE, color_texto) == 60);
static_assert(offsetof(ESTILO_TAE, sangria) == 68);
static_assert(offsetof(ESTILO_TAE, tabuladores) == 72);
static_assert(offsetof(ESTILO_TAE, espaciado) == 102);
static_assert(offsetof(ESTILO_TAE, interlinea) == 103);
static_assert(std::has_unique_object_representations_v<ESTILO_TAE>);
static_assert(std::is_trivially_copyable_v<ESTILO_TAE>);

constexpr int kTabuladoresTAE = 15;

// A style with every byte zero.
inline ESTILO_TAE EstiloVacio() {
  ESTILO_TAE estilo;
  std::memset(static_cast<void*>(&estilo), 0, sizeof estilo);
  return estilo;
}

// Sets the face name and character set; the whole old name is cleared so
// equal styles stay equal byte for byte.
inline void PonerFuente(ESTILO_TAE& estilo, const char* cara, uint8_t juego) {
  std::memset(estilo.fuente.lfFaceName, 0, sizeof estilo.fuente.lfFaceName);
  std::strncpy(estilo.fuente.lfFaceName, cara, sizeof estilo.fuente.lfFaceName - 1);
  estilo.fuente.lfCharSet = juego;
}

inline bool MismoEstilo(const ESTILO_TAE& a, const ESTILO_TAE& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}
