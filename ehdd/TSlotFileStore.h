// The persistent level of the block cache: a file of fixed 4260-byte
// records (a 256-byte key field, a u32 block index and 4000 bytes of data)
// after a u32 ring position, memory-mapped and used first-in first-out.
//
// Nothing orders the pages of the mapping on their way to the disk, so after
// a power loss a record's key can stand on disk beside stale data. The key
// field therefore holds the key (at most 251 characters, NUL-padded) and, in
// its last 4 bytes, the CRC-32 of the key, the index and the data. A record
// is checked the first time this process asks for it (Exists, Lookup,
// Indices) and trusted from then on while the mapping lives, as is a record
// this process wrote: one whose CRC does not match is dropped then (its block
// is fetched again). Records of files written before the CRC was kept fail
// the check the same way.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ehdd/TBlockStore.h"

class TSlotFileStore : public TBlockStore {
 public:
  static constexpr uint32_t kDatos = 4000;
  static constexpr uint32_t kClave = 256;
  static constexpr uint32_t kRegistro = kClave + 4 + kDatos;  // 4260
  static constexpr uint32_t kSuma = kClave - 4;               // offset of the record's CRC
  static constexpr uint32_t kMaxClave = kSuma - 1;  // 251: the key and its NUL before the CRC

  TSlotFileStore();
  ~TSlotFileStore() override;

  // Makes or opens the slot file "<folder>/<name after its last '\' or '/'>"
  // with at least `records` records, and maps it. The folder defaults to
  // the temporary folder + "eHDD". False when the file cannot be had, or
  // another process holds it: the cache then runs on its memory level.
  bool CrearFicheroSlots(const std::string& name, uint32_t records, const std::string& folder = "");

  bool Exists(const std::string& name) override;
  // The same, by the file key and block index the name is made of.
  bool Existe(uint32_t index, std::string_view key);
  bool Flush() override { return false; }
  bool Clear() override;
  TBloqueCache* Insert(const std::string& name, unsigned char* data, uint32_t length,
                       bool write_back) override;
  TBloqueCache* Fetch(const std::string& name) override { return Lookup(name); }
  bool Remove(const std::string&) override { return true; }
  bool FreeData(TBloqueCache*) override { return true; }
  // The block is handed out as a view into the mapping: valid until the
  // store's next call.
  TBloqueCache* Lookup(const std::string& name) override;

  bool abierto() const { return view_ != nullptr; }
  uint32_t registros() const { return records_; }
  uint32_t anillo() const { return ring_; }
  const std::string& path() const { return path_; }
  // Block indices held for a key (each record checked as by Exists).
  std::vector<uint32_t> Indices(const std::string& key);

  // zlib's crc32, with the processor's carry-less multiply when it has one.
  static uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t length);
  // The same over `src`, copied to `dst` in the same pass.
  static uint32_t Crc32Copiando(uint32_t crc, unsigned char* dst, const unsigned char* src,
                                size_t length);

 private:
  // True when record r may be handed out: checked once, then trusted. A
  // record that fails is dropped from the index and freed.
  bool Verificado(uint32_t r, std::string_view key);
  unsigned char* Registro(uint32_t r) { return view_ + 4 + static_cast<size_t>(r) * kRegistro; }
  void WriteRing();
  void Cerrar();
  // The CRC a record holding the key must carry (over the key, then the
  // record's index and data).
  // With `data`, the record's 4000 data bytes are copied in from it on the
  // way.
  uint32_t Suma(std::string_view key, unsigned char* record, const unsigned char* data = nullptr);

  std::string path_;
  int fd_ = -1;
  unsigned char* view_ = nullptr;
  size_t view_size_ = 0;
  uint32_t ring_ = 0;
  uint32_t records_ = 0;
  struct HashDeClave {
    using is_transparent = void;
    size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
  };
  std::unordered_map<std::string, std::map<uint32_t, uint32_t>, HashDeClave, std::equal_to<>>
      index_by_key_;  // key → index → record
  // Per record: 1 once its CRC was found right or this process wrote it.
  std::vector<unsigned char> verificado_;
  // The CRC of the last key summed: the blocks of one file come in a row.
  std::string clave_sumada_;
  uint32_t suma_clave_ = 0;
  TBloqueCache block_;
};
