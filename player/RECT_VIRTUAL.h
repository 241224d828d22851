// One hit region of the page on screen: 114 bytes, kept by
// TRectangulosVirtuales in a table of 100 (slot 0 is never a region).
//
// The kind and the in-use byte are written and tested together as one
// little-endian 16-bit type word: 0x100 + kind for a region in use, 0 for a
// free slot. The tail depends on the kind: a NUL-terminated text (kinds 1,
// 9, 12 and 13), or the exercise data of kinds 2, 4 and 11, stored unaligned
// and read and written through the accessors below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr int kColaRegion = 100;
// The text of a tail: at most 99 bytes and its NUL.
constexpr size_t kMaxTextoRegion = kColaRegion - 1;

struct RECT_VIRTUAL {
  uint8_t tipo;    // kind, 1 to 20
  uint8_t en_uso;  // 1 in use
  uint16_t left, top, right, bottom;
  int16_t enlace;  // next piece of a split region (0: last); -1 for one piece
  uint16_t id;
  char cola[kColaRegion];
};
static_assert(sizeof(RECT_VIRTUAL) == 114);
static_assert(offsetof(RECT_VIRTUAL, left) == 2);
static_assert(offsetof(RECT_VIRTUAL, enlace) == 10);
static_assert(offsetof(RECT_VIRTUAL, id) == 12);
static_assert(offsetof(RECT_VIRTUAL, cola) == 14);

// The kinds of region.
enum TipoRegion : uint8_t {
  kRegionFrase = 1,
  kRegionEjercicio = 2,
  kRegionSolucion = 3,
  kRegionPlayDictado = 4,
  kRegionRolePlayPlay = 5,
  kRegionRolePlayGrabar = 6,
  kRegionRolePlayStop = 7,
  kRegionLineaRolePlay = 8,
  kRegionRespuestaSpeak = 9,
  kRegionSpeak = 10,
  kRegionHueco = 11,
  kRegionFraseUnica = 12,
  kRegionFrasePrivada = 13,
  kRegionDificultad = 14,
  kRegionSubtitulosAnim = 15,
  kRegionStopAnim = 16,
  kRegionPlayAnim = 17,
  kRegionBarraAnim = 18,
  kRegionRecapAnim = 19,
  kRegionPauseAnim = 20,
};

inline uint16_t PalabraTipo(const RECT_VIRTUAL& r) {
  return static_cast<uint16_t>(r.tipo | (r.en_uso << 8));
}
inline void PonerPalabraTipo(RECT_VIRTUAL& r, uint16_t palabra) {
  r.tipo = static_cast<uint8_t>(palabra & 0xFF);
  r.en_uso = static_cast<uint8_t>(palabra >> 8);
}

// The text tail: copied up to 99 bytes and ended with NUL.
inline void PonerTextoRegion(RECT_VIRTUAL& r, const char* texto, size_t longitud) {
  if (longitud > kMaxTextoRegion) longitud = kMaxTextoRegion;
  if (longitud > 0) std::memcpy(r.cola, texto, longitud);
  r.cola[longitud] = '\0';
}
// The length of the text tail (a tail without its NUL counts 99 bytes).
inline size_t LongitudTextoRegion(const RECT_VIRTUAL& r) {
  return strnlen(r.cola, kMaxTextoRegion);
}

// The exercise tail of kinds 2, 4 and 11: u16 entry index, then for gaps a
// byte start, a byte length and a u16 width.
struct ColaHueco {
  uint16_t entrada = 0;
  uint8_t inicio = 0;
  uint8_t longitud = 0;
  uint16_t ancho = 0;
};
inline ColaHueco LeerColaHueco(const RECT_VIRTUAL& r) {
  ColaHueco c;
  std::memcpy(&c.entrada, r.cola, 2);
  c.inicio = static_cast<uint8_t>(r.cola[2]);
  c.longitud = static_cast<uint8_t>(r.cola[3]);
  std::memcpy(&c.ancho, r.cola + 4, 2);
  return c;
}
inline void PonerColaHueco(RECT_VIRTUAL& r, const ColaHueco& c) {
  std::memcpy(r.cola, &c.entrada, 2);
  r.cola[2] = static_cast<char>(c.inicio);
  r.cola[3] = static_cast<char>(c.longitud);
  std::memcpy(r.cola + 4, &c.ancho, 2);
}
