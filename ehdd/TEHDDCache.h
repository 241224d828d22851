// The process-wide cache of store-file bytes in 4000-byte blocks: a memory
// level of 16 blocks in front of the persistent slot file, under one lock.
// Until Iniciar (or when the slot file cannot be had) it runs on the memory
// level alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/CriticalSection.h"
#include "ehdd/TMemoryBlockStore.h"
#include "ehdd/TSlotFileStore.h"

// One block of a requested range.
struct TRangoCache {
  uint32_t posicion = 0;  // block offset: index × 4000
  uint32_t longitud = 0;  // 4000, or for the range's last block (position + length) mod 4000
  uint32_t indice = 0;
  bool presente = false;
  // Where ComprobarRango found the block in memory, while the memory level
  // has let no block go since (LeerRango then needs no look-up).
  const void* nodo = nullptr;
  uint64_t generacion = 0;
};

class TEHDDCache {
 public:
  static constexpr uint32_t kBloque = 4000;
  static constexpr uint32_t kCapacidadMemoria = 16;

  static TEHDDCache* Instance();
  static void Destroy();

  // Opens the slot file named after the student (the part after its last
  // '\') with `records` records, in the temporary folder + "eHDD" or in
  // `folder`. 0; the cache keeps working on memory alone when the file
  // cannot be had.
  int Iniciar(const std::string& nombre, uint32_t records, const std::string& folder = "");

  uint32_t ComprobarRango(const std::string& key, std::vector<TRangoCache>& entries,
                          uint32_t position, uint32_t length, uint32_t& first_missing);
  size_t PrimerAusente(const std::vector<TRangoCache>& entries) const;
  bool EscribirRango(const std::string& key, const unsigned char* data, uint32_t position,
                     uint32_t length, uint32_t block_size);
  uint32_t LeerRango(const std::string& key, uint32_t position, uint32_t length,
                     const std::vector<TRangoCache>& entries, unsigned char* destination);
  void Olvidar(const std::string& key);
  uint32_t BytesEnCache(const std::string& key);

  // For a reader that fills blocks itself (the local stores): `count`
  // buffers of 4000 bytes, contents undefined, to read into and then hand
  // to GuardarBloques.
  void BuffersNuevos(unsigned char** buffers, uint32_t count);
  // Stores the `length` bytes that fill `buffers` in turn from `position`
  // (a multiple of 4000) as EscribirRango would (the tail of a last block
  // that is not full is zeroed; a block already held keeps its bytes),
  // taking over every one of the `count` buffers. These blocks stay in
  // memory only: the slot file never gets them.
  void GuardarBloques(const std::string& key, uint32_t position, unsigned char** buffers,
                      uint32_t count, uint32_t length);

  bool persistente() const { return slots_.abierto(); }
  TSlotFileStore& slots() { return slots_; }
  TMemoryBlockStore& memoria() { return memoria_; }

  TEHDDCache();
  TEHDDCache(const TEHDDCache&) = delete;
  TEHDDCache& operator=(const TEHDDCache&) = delete;

 private:
  TBloqueCache* BloqueDeEntrada(const std::string& key, const TRangoCache& entry);

  CriticalSection lock_;
  TMemoryBlockStore memoria_{kCapacidadMemoria};
  TSlotFileStore slots_;
};
