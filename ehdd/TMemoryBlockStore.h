// The memory level of the block cache: at most `capacity` blocks, least
// recently used first out, evicted blocks written to the backing store.
//
// Blocks are found by their name, or, without building the name, by the
// file key and block index it is made of (RefBloque): a name of the form
// "%u_" + key is held under its index and key, any other name under itself,
// so both ways find the same block. The level is small (16 blocks in the
// block cache), so its map from names to blocks is a row of hashes that a
// look-up scans. The data buffers and nodes of blocks that leave are kept
// (up to `capacity` of them) for the next blocks.
#pragma once

#include <cstdint>
#include <cstring>
#include <list>
#include <string_view>
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
      return {key, index, true, HashClave(key)};
    }
    // A quick hash of a key, eight bytes at a time: it only sorts the few
    // blocks of the memory level (equal keys are still compared whole).
    static size_t HashClave(std::string_view key) {
      uint64_t h = 0x9E3779B97F4A7C15ull ^ key.size();
      size_t i = 0;
      for (; i + 8 <= key.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, key.data() + i, 8);
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
      }
      uint64_t tail = 0;
      std::memcpy(&tail, key.data() + i, key.size() - i);
      h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
      return static_cast<size_t>(h ^ (h >> 29));
    }
    // Keys compared eight bytes at a time, inline: most keys are a few
    // dozen bytes, too short to be worth a call.
    static bool MismaClave(std::string_view a, std::string_view b) {
      if (a.size() != b.size()) return false;
      const size_t n = a.size();
      if (n < 8) return std::memcmp(a.data(), b.data(), n) == 0;
      for (size_t i = 0; i + 8 < n; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) return false;
      }
      uint64_t x, y;  // the last eight, overlapping what came before
      std::memcpy(&x, a.data() + n - 8, 8);
      std::memcpy(&y, b.data() + n - 8, 8);
      return x == y;
    }
    bool operator==(const RefBloque& other) const {
      return indice == other.indice && canonico == other.canonico && clave == other.clave;
    }
  };

  // A held block: what the store hands out, with the parts of its name.
  struct Nodo : TBloqueCache {
    RefBloque ref;      // views into `nombre`
    size_t hash = 0;    // of ref
    size_t puesto = 0;  // its place in the map
    // Brought back from the backing store and unchanged since: while the
    // backing store still holds it, it needs no writing back.
    bool limpio = false;
    // A block of a local store: read again from there whenever it is
    // wanted, never written to the backing store (its file's blocks there
    // are forgotten at every open of it anyway).
    bool sin_respaldo = false;
  };

  explicit TMemoryBlockStore(uint32_t capacity = 16);
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
  Nodo* Buscar(const RefBloque& ref);         // Lookup
  TBloqueCache* Tomar(const RefBloque& ref);  // Fetch
  // Put without replace: a held block keeps its bytes and `data` goes back
  // to the spare buffers.
  TBloqueCache* Poner(const RefBloque& ref, unsigned char* data, uint32_t length);
  bool Quitar(const RefBloque& ref);  // Remove
  // True when some block of the file whose key has this hash may be held
  // (false: none is).
  bool AlgunoDeClave(size_t hash_clave) const;
  // The newest block when it is block `index` of the file `key` (found
  // without a hash: it is the block most often asked for next).
  Nodo* Reciente(std::string_view key, uint32_t index) {
    if (nodes_.empty()) return nullptr;
    Nodo& node = nodes_.back();
    return node.ref.canonico && node.ref.indice == index &&
                   RefBloque::MismaClave(node.ref.clave, key)
               ? &node
               : nullptr;
  }
  // Changes whenever a block leaves (never the same value twice in the
  // process): a node found under one value is still that block under it.
  uint64_t generacion() const { return generacion_; }
  // Fetch of a node found by Buscar under the current generation.
  TBloqueCache* TomarNodo(Nodo* node) {
    if (node != &nodes_.back()) nodes_.splice(nodes_.end(), nodes_, map_[node->puesto].node);
    return node;
  }
  // Put of a block known not to be held (the caller has just looked).
  TBloqueCache* PonerAusente(const RefBloque& ref, unsigned char* data, uint32_t length) {
    return Meter(ref, data, length, true, true);
  }

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
  static size_t Hash(const RefBloque& ref) {
    return ref.hash_clave ^ (static_cast<size_t>(ref.indice) * 0x9E3779B97F4A7C15ull) ^
           (ref.canonico ? 0 : 0x5bd1e995u);
  }
  // One entry of the map: the hash of a held block's name and its node.
  struct Entrada {
    size_t hash;
    std::list<Nodo>::iterator node;
  };

  // How a name is held: its index and key when it reads "%u_" + key, else
  // the whole name.
  static RefBloque Ref(std::string_view name);
  Entrada* Hallar(const RefBloque& ref);
  // `absent`: the caller has just found no block of the name.
  TBloqueCache* Meter(const RefBloque& ref, unsigned char* data, uint32_t length, bool write_back,
                      bool absent);
  void Soltar(unsigned char* data, uint32_t length);
  // Drops a block; its node is kept for the next one.
  void Olvidar(std::list<Nodo>::iterator node);
  // Writes a block to the backing store unless it holds it as it is.
  void EscribirAtras(Nodo& node, bool write_back);

  std::list<Nodo> nodes_;  // oldest at the front
  std::vector<Entrada> map_;
  // Nodes of blocks that left, used again by the next ones so a block costs
  // no allocation once the level is full.
  std::list<Nodo> nodos_libres_;
  std::vector<unsigned char*> recambios_;
  uint32_t tam_recambio_ = 0;
  std::string nombre_;  // the name being made
  uint64_t generacion_;
};
