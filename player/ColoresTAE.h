// The colour names of the COLOR and COLORF tags and their COLORREF values
// (0x00BBGGRR). Names are matched exactly, in table order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/gfx/Colour.h"

enum class ResultadoColor : uint8_t {
  kDesconocido,  // no such name for this tag
  kSinCambio,    // a known name that leaves the colour as it is
  kColor,        // a known name with its colour
};

// Looks the name up for the text colour (COLOR) or the background (COLORF).
ResultadoColor BuscarColorTAE(const char* nombre, size_t longitud, bool fondo,
                              platform::gfx::COLORREF& color);
