// A written exercise laid out on the page on screen: 428 bytes, one of the
// 30 entries of the written-exercise context's bufejescpant (entry 0 stays
// empty).
#pragma once

#include <cstddef>
#include <cstdint>

#include "player/ContextosTAE.h"

constexpr int kTextoEjePantalla = 200;
// Characters an entry records: its text and mask end with '}' and NUL after them.
constexpr uint8_t kMaxGrabadoEjercicio = 198;
constexpr int kNombreAudioEjercicio = 16;

struct EJE_PANTALLA {
  uint16_t tipo;                      // exercise type: 1, 2 or 3 (3: dictation)
  uint16_t numero;                    // exercise number
  char texto[kTextoEjePantalla];      // the characters as laid out, then '}' and NUL
  char mascara[kTextoEjePantalla];    // '*' outside a gap, '-' inside, then '}' and NUL
  uint16_t x, y;                      // start: x at the pen, y of its text
  uint16_t x_fin, abajo;              // end x and bottom of its last line
  char audio[kNombreAudioEjercicio];  // audio name, at most 15 bytes and NUL
};
static_assert(sizeof(EJE_PANTALLA) == kBytesEjePantalla);
static_assert(offsetof(EJE_PANTALLA, mascara) == 204);
static_assert(offsetof(EJE_PANTALLA, x) == 404);
static_assert(offsetof(EJE_PANTALLA, audio) == 412);
