// The 289-byte header that starts every block of a volume's .DAT file, and
// the little-endian integer helpers of the volume format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace volumen {

constexpr uint32_t kCabecera = 289;         // block header size
constexpr uint32_t kMaxBloques = 1u << 24;  // block numbers are u24
// A block's used count is a u24, so no payload can hold more than 2^24 - 1
// bytes: the largest block a volume may have. Anything larger is damage.
constexpr uint32_t kMaxTamBloque = kCabecera + 0xFFFFFF;
constexpr uint32_t kNombre = 255;      // name field (at most 254 characters)
constexpr uint32_t kPropietario = 15;  // owner field (at most 14 characters)
constexpr uint8_t kFichero = 0;
constexpr uint8_t kDirectorio = 1;

inline uint32_t GetU24(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16);
}
inline uint32_t GetU32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutU24(unsigned char* p, uint32_t v) {
  p[0] = v & 0xFF;
  p[1] = (v >> 8) & 0xFF;
  p[2] = (v >> 16) & 0xFF;
}
inline void PutU32(unsigned char* p, uint32_t v) {
  PutU24(p, v);
  p[3] = (v >> 24) & 0xFF;
}

// The time written into block headers (created, modified): the clock,
// unless a fixed time was set, which makes two writings of the same files
// give the same bytes. Fixing 0 goes back to the clock.
uint32_t Ahora();
void FijarAhora(uint32_t segundos);

// Header fields at their offsets in a block.
constexpr uint32_t kPosPropietario = 265;
constexpr uint32_t kPosSiguiente = 283;
constexpr uint32_t kPosUsado = 286;

// The checks every header must pass, made on its 289 bytes where they lie:
// the name and the owner end inside their fields, and the used count does
// not pass the payload.
bool CabeceraSana(const unsigned char* bytes, uint32_t block_size);
// The same, looking first for the terminators where a name of `nombre` and
// an owner of `propietario` characters would have them (the blocks of one
// file all carry the same two).
bool CabeceraSana(const unsigned char* bytes, uint32_t block_size, size_t nombre,
                  size_t propietario);
// True when the NUL-padded field of `width` bytes holds exactly `text`.
bool CampoIgual(const unsigned char* field, uint32_t width, const std::string& text);

}  // namespace volumen

class TFicheroDAT;

// One block header in memory. Fields in the order of the format.
struct TBloqueDAT {
  std::string nombre;  // one path component
  uint8_t tipo = 0;    // 0 file, 1 directory
  uint8_t reservado = 0;
  uint32_t creado = 0;  // seconds since 1970
  uint32_t modificado = 0;
  std::string propietario;
  uint32_t anterior = 0;   // parent's first block, or the block before in the chain
  uint32_t siguiente = 0;  // next block of the chain, 0 in the last
  uint32_t usado = 0;      // payload bytes in use

  uint32_t numero = 0;  // the block's own number

  // Parses 289 header bytes. False when the bytes are damaged: a name or
  // owner without its terminating zero, or a used count above the payload.
  bool Parse(const unsigned char* bytes, uint32_t block_size);
  // Writes the 289 header bytes; false when the name or owner do not fit.
  bool Serialize(unsigned char* bytes) const;

  // Appends the u24 block numbers held in the payload (used bytes).
  bool LeerListaHijos(TFicheroDAT& dat, std::vector<uint32_t>& hijos) const;
  // Writes list elements from index `desde` into the payload while they fit,
  // sets used, and returns the index of the first element not written.
  size_t EscribirListaHijos(TFicheroDAT& dat, const std::vector<uint32_t>& hijos, size_t desde);
  // Reads payload bytes from an offset: -1 when the offset is past used,
  // else at most used - offset bytes.
  int64_t LeerDatos(TFicheroDAT& dat, unsigned char* buffer, uint32_t length,
                    uint32_t offset) const;
};
