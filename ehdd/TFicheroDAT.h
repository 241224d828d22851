// The .DAT file of a volume: fixed-size blocks, each a 289-byte header and
// its payload. Opened read-only unless the volume is being written.
//
// Opened read-only, the file is also mapped into memory, so reads are copies
// out of the page cache with no system call each. Every copy out of the
// mapping is guarded: should another process cut the file short while it is
// mapped, the copy fails (and the read reports damage) instead of the
// process dying of the bus error. Bytes past the size the file had when it
// was opened are read with pread, as they are when the mapping cannot be had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ehdd/TBloqueDAT.h"

// Where the bytes of a read go: `cuantos` pieces of `tam_trozo` bytes each,
// filled in order (a single buffer is one piece of its own size).
struct TDestinoLectura {
  unsigned char* const* trozos = nullptr;
  size_t cuantos = 0;
  uint32_t tam_trozo = 0;

  uint64_t capacidad() const { return static_cast<uint64_t>(cuantos) * tam_trozo; }
  // Copies n bytes to position `at` of the pieces taken as one run; the
  // caller keeps at + n within the capacity.
  void Copiar(uint64_t at, const unsigned char* bytes, size_t n) const;
};

class TFicheroDAT {
 public:
  ~TFicheroDAT();
  bool Abrir(const std::string& path, bool fijo, uint32_t block_size, uint32_t block_count,
             bool escritura = false);
  static bool Crear(const std::string& path);
  void Cerrar();

  // Fills a header from the block's first 289 bytes (zeroed first). False
  // for a block at or past the count, a short read or damaged bytes.
  bool LeerCabecera(uint32_t block, TBloqueDAT& header);
  // Reads a block's header and, into `out`, the payload bytes from `offset`
  // on: at most `length`, never past the used count (*copied says how many;
  // 0 when the offset is at or past it). Only those bytes are read, in one
  // call when the offset is small. Same failures as LeerCabecera, and false
  // when the file ends before the bytes the used count promises.
  bool LeerBloque(uint32_t block, uint32_t offset, uint32_t length, TBloqueDAT& header,
                  unsigned char* out, uint32_t* copied);
  // Reads a file's bytes along `bloques`, the rest of its allocation chain
  // from the block the read starts in (n >= 1 blocks, the last one the
  // file's last): from `offset` in the first block's payload, at most
  // `length` bytes, to `destino` from its start. The first block must carry
  // `nombre` and `propietario`, and `offset` must not lie past its used
  // bytes; every block the read takes bytes from must be sound, and every
  // block it moves past must be full and link to the next block of the
  // chain. The bytes read; -1 for damage; -2 when the first block is not the
  // file's or the offset lies past its used bytes.
  int64_t LeerCadena(const uint32_t* bloques, size_t n, uint32_t offset, uint32_t length,
                     const std::string& nombre, const std::string& propietario,
                     const TDestinoLectura& destino);
  // Writes a header (stamping modified and the block's number); a block at
  // the count is appended as a whole zero-filled block.
  bool EscribirBloque(uint32_t block, TBloqueDAT& header);
  // Raw payload access (offsets inside the payload).
  int64_t LeerCarga(uint32_t block, uint32_t offset, unsigned char* buffer, uint32_t length);
  bool EscribirCarga(uint32_t block, uint32_t offset, const unsigned char* data, uint32_t length);

  uint32_t block_size() const { return block_size_; }
  uint32_t block_count() const { return block_count_; }
  uint32_t carga() const { return block_size_ - volumen::kCabecera; }
  bool mapeado() const { return vista_ != nullptr; }

 private:
  // The mapped bytes [at, at + n), or null when the mapping does not hold
  // them all.
  const unsigned char* EnVista(uint64_t at, uint64_t n) const {
    return vista_ != nullptr && at <= vista_size_ && n <= vista_size_ - at ? vista_ + at : nullptr;
  }
  struct Recorrido;
  void RecorrerEnVista(Recorrido& r) const;
  void RecorrerConLectura(Recorrido& r);

  std::string path_;
  bool fijo_ = false;
  uint32_t block_size_ = 0;
  uint32_t block_count_ = 0;
  int fd_ = -1;
  const unsigned char* vista_ = nullptr;
  size_t vista_size_ = 0;
};
