// The .DAT file of a volume: fixed-size blocks, each a 289-byte header and
// its payload. Opened read-only unless the volume is being written.
#pragma once

#include <cstdint>
#include <string>

#include "ehdd/TBloqueDAT.h"

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
  // Writes a header (stamping modified and the block's number); a block at
  // the count is appended as a whole zero-filled block.
  bool EscribirBloque(uint32_t block, TBloqueDAT& header);
  // Raw payload access (offsets inside the payload).
  int64_t LeerCarga(uint32_t block, uint32_t offset, unsigned char* buffer, uint32_t length);
  bool EscribirCarga(uint32_t block, uint32_t offset, const unsigned char* data, uint32_t length);

  uint32_t block_size() const { return block_size_; }
  uint32_t block_count() const { return block_count_; }
  uint32_t carga() const { return block_size_ - volumen::kCabecera; }

 private:
  std::string path_;
  bool fijo_ = false;
  uint32_t block_size_ = 0;
  uint32_t block_count_ = 0;
  int fd_ = -1;
};
