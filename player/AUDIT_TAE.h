// The statistics of one loaded TAE document: its size, how many of each tag
// the pre-pass met, the range and count of its sounds and exercises, and the
// treated-item records the audit file saves (one per sound number and one
// per exercise number, from 0 to the highest).
#pragma once

#include <cstdint>

#include "player/EJE_TRATADO.h"
#include "player/SON_TRATADO.h"

// The tag counters, in the record's order.
enum ContadorTAE : uint8_t {
  kCuentaColor,
  kCuentaNegrita,
  kCuentaCursiva,
  kCuentaSubrayado,
  kCuentaSaltoPag,
  kCuentaTamano,
  kCuentaTabulador,
  kCuentaColorF,
  kCuentaInterlinea,
  kCuentaSonido1,
  kCuentaSonido2,
  kCuentaSonido3,
  kCuentaEjEscrito1,
  kCuentaEjEscrito2,
  kCuentaEjEscrito3,
  kCuentaEjEscrito0,
  kCuentaHueco,
  kCuentaBitmapF,
  kCuentaBoton1,  // BOTON types 1 to 8 follow in order
  kCuentaRolPlay = kCuentaBoton1 + 8,
  kCuentaFSpeak,
  kCuentaASpeak,
  kCuentaInvisible,
  kCuentaFont,
  kNumContadoresTAE
};
static_assert(kNumContadoresTAE == 31);

// Names of the counters, as the inspection tool prints them.
extern const char* const kNombresContadoresTAE[kNumContadoresTAE];

// The lowest numbers start here, so any number met lowers them.
constexpr uint16_t kMenorInicialTAE = 9999;

struct AUDIT_TAE {
  uint32_t tamano;                         // bytes of the file as read
  uint16_t contadores[kNumContadoresTAE];  // saturate at 65535
  uint16_t sonido_menor;                   // lowest sound number opened
  uint16_t sonido_mayor;                   // highest sound number opened
  int16_t sonidos_abiertos;                // sound openings with a number (saturate)
  int16_t sonidos_tipo3;                   // those of type 3
  SON_TRATADO* bufsontrat;                 // sonido_mayor + 1 records
  uint16_t ejercicio_menor;
  uint16_t ejercicio_mayor;
  int16_t ejercicios_abiertos;  // exercise openings (types 1 to 3)
  int16_t ejercicios_tipo3;
  EJE_TRATADO* bufejetrat;  // ejercicio_mayor + 1 records
};
