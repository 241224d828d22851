// The memory level of the block cache: at most `capacity` blocks, least
// recently used first out, evicted blocks written to the backing store.
//
// Blocks are found by their name, or, without building the name, by the
// file key and block index it is made of (RefBloque): a name of the form
// "%u_" + key is held under its index and key, any other name under itself,
// so both ways find the same block. The data buffers of blocks that leave
// are kept (up to `capacity` of them) for the next blocks to be filled.
#pragma once

#include <list>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ehdd/TBlockStore.h"

class TMemoryBlockStore : public TBlockStore {
 public:
  // A block of a file: the file's key and the block's index, with the hash
  // of the key worked out once for all the blocks of a range.
  struct RefBloque {
    std::string_view clave;
    uint32_t indice = 0;
    bool canonico = true;  // false: `clave` is a whole name that is not "%u_" + key
    size_t hash_clave = 0;

    static RefBloque De(std::string_view key, uint32_t index) {
      return {key, index, true, std::hash<std::string_view>{}(key)};
    }
    bool operator==(const RefBloque& other) const {
      return indice == other.indice && canonico == other.canonico && clave == other.clave;
    }
  };

  // A held block: what the store hands out, with the parts of its name.
  struct Nodo : TBloqueCache {
    RefBloque ref;  // views into `nombre`
  };

  explicit TMemoryBlockStore(uint32_t capacity = 16) { capacity_ = capacity; }
  ~TMemoryBlockStore() override;
  TMemoryBlockStore(const TMemoryBlockStore&) = delete;
  TMemoryBlockStore& operator=(const TMemoryBlockStore&) = delete;

  bool Exists(const std::string& name) override { return Buscar(Ref(name)) != nullptr; }
  bool Flush() override;
  bool Clear() override;
  TBloqueCache* Insert(const std::string& name, unsigned char* data, uint32_t length,
                       bool write_back) override;
  TBloqueCache* Fetch(const std::string& name) override;
  bool Remove(const std::string& name) override;
  bool FreeData(TBloqueCache* block) override;
  TBloqueCache* Lookup(const std::string& name) override { return Buscar(Ref(name)); }

  // The same operations by key and index.
  Nodo* Buscar(const RefBloque& ref);                       // Lookup
  TBloqueCache* Tomar(const RefBloque& ref);                // Fetch
  // Put without replace: a held block keeps its bytes and `data` goes back
  // to the spare buffers.
  TBloqueCache* Poner(const RefBloque& ref, unsigned char* data, uint32_t length);
  bool Quitar(const RefBloque& ref);                        // Remove

  // A data buffer of `length` bytes for a block to come (a spare one when
  // there is one of that size), its contents undefined; owned by the caller
  // until it hands it to the store or back with Devolver.
  unsigned char* BufferNuevo(uint32_t length);
  void Devolver(unsigned char* data, uint32_t length);
  // The size of buffer kept when blocks leave (0: none kept).
  void SetTamRecambio(uint32_t length) { tam_recambio_ = length; }

  // Blocks held, oldest first (for tests and the cache's byte count).
  std::list<Nodo>& nodes() { return nodes_; }

 private:
  struct HashRef {
    size_t operator()(const RefBloque& ref) const {
      return ref.hash_clave ^ (static_cast<size_t>(ref.indice) * 0x9E3779B97F4A7C15ull) ^
             (ref.canonico ? 0 : 0x5bd1e995u);
    }
  };

  // How a name is held: its index and key when it reads "%u_" + key, else
  // the whole name.
  static RefBloque Ref(std::string_view name);
  TBloqueCache* Meter(std::string name, const RefBloque* ref, unsigned char* data, uint32_t length,
                      bool write_back);
  void Soltar(unsigned char* data, uint32_t length);
  void Olvidar(std::list<Nodo>::iterator node);

  std::list<Nodo> nodes_;  // oldest at the front
  std::unordered_map<RefBloque, std::list<Nodo>::iterator, HashRef> map_;
  std::vector<unsigned char*> recambios_;
  uint32_t tam_recambio_ = 0;
};
