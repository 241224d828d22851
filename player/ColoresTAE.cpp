#include "player/ColoresTAE.h"

#include <cstring>

namespace {

struct ColorTAE {
  const char* nombre;
  ResultadoColor texto;
  ResultadoColor fondo;
  platform::gfx::COLORREF valor;
};

constexpr ResultadoColor kC = ResultadoColor::kColor;
constexpr ResultadoColor kS = ResultadoColor::kSinCambio;
constexpr ResultadoColor kD = ResultadoColor::kDesconocido;

constexpr ColorTAE kColores[] = {
    {"NEGRO", kC, kC, 0x000000},   {"ROJO", kC, kC, 0x0000FF},    {"AZUL", kC, kC, 0xFF0000},
    {"MAGENTA", kC, kC, 0xFF00FF}, {"BLANCOR", kC, kC, 0xFFFFFF}, {"BLANCO", kC, kC, 0xFFFFFF},
    {"NIVEL1", kC, kC, 0x00CCFF},  {"NIVEL2", kC, kC, 0x0000FF},  {"NIVEL3", kC, kC, 0x00CC99},
    {"NIVEL4", kC, kC, 0xCC6600},  {"NIVEL5", kC, kC, 0xCCCC00},  {"NIVEL6", kC, kC, 0xFF00CC},
    {"FSPEAK", kS, kS, 0},         {"AZULSTUDY", kS, kS, 0},      {"NIVEL7", kS, kS, 0},
    {"NIVEL8", kS, kS, 0},         {"FONDOHELP", kS, kS, 0},      {"FTITHELP", kS, kS, 0},
    {"MARRONMC", kS, kD, 0},
};

}  // namespace

ResultadoColor BuscarColorTAE(const char* nombre, size_t longitud, bool fondo,
                              platform::gfx::COLORREF& color) {
  for (const ColorTAE& entrada : kColores) {
    if (std::strlen(entrada.nombre) != longitud ||
        std::memcmp(entrada.nombre, nombre, longitud) != 0) {
      continue;
    }
    const ResultadoColor resultado = fondo ? entrada.fondo : entrada.texto;
    if (resultado == ResultadoColor::kColor) color = entrada.valor;
    return resultado;
  }
  return ResultadoColor::kDesconocido;
}
