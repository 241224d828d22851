// The handle of a file open in a volume, and one line of a directory listing.
#pragma once

#include <cstdint>
#include <string>

struct TFicheroVolumen {
  uint32_t id = 0;
  std::string nombre;      // last component of the path
  uint32_t offset = 0;     // position inside the current block's payload
  uint32_t bloque = 0;     // current block
  uint32_t modo = 0;       // 0 created for writing, 1 read, 2 read and write
  std::string propietario;

  bool operator==(const TFicheroVolumen&) const = default;
};

struct TEntradaDirectorio {
  std::string nombre;
  uint8_t tipo = 0;  // 0 file, 1 directory
  std::string propietario;
  uint32_t primer_bloque = 0;
  uint32_t size = 0;  // 0 in a brief listing
};
