// A store of named blocks, the common shape of the block cache's two levels:
// the memory level (TMemoryBlockStore) and the persistent slot file
// (TSlotFileStore). A block name is the block's index in decimal, "_", and
// the key of its file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// What a store hands out: valid until the store's next call.
struct TBloqueCache {
  std::string nombre;
  unsigned char* datos = nullptr;  // owned by the store
  uint32_t longitud = 0;
};

class TBlockStore {
 public:
  virtual ~TBlockStore() = default;
  virtual bool Exists(const std::string& name) = 0;
  // Stores a block unless one of that name is held (then, without replace,
  // the held one is returned and `data` is freed: the store always takes
  // the buffer). `data` is a new[] buffer.
  virtual TBloqueCache* Put(const std::string& name, unsigned char* data, uint32_t length,
                            bool replace);
  virtual TBloqueCache* Get(const std::string& name) { return Fetch(name); }
  virtual bool Flush() = 0;
  virtual bool Clear() = 0;
  virtual TBloqueCache* Insert(const std::string& name, unsigned char* data, uint32_t length,
                               bool write_back) = 0;
  virtual TBloqueCache* Fetch(const std::string& name) = 0;
  virtual void IndexAdd(const std::string& name, const std::string& text) { index_[name] = text; }
  virtual void IndexClear() { index_.clear(); }
  virtual bool Remove(const std::string& name) = 0;
  virtual bool FreeData(TBloqueCache* block) = 0;
  virtual TBloqueCache* Lookup(const std::string& name) = 0;

  void SetBacking(TBlockStore* backing) { backing_ = backing; }
  TBlockStore* backing() const { return backing_; }
  uint32_t count() const { return count_; }

  // "%u_" with the index, then the key.
  static std::string NombreBloque(uint32_t index, std::string_view key);
  // Splits a block name at its first "_"; false (index 0, empty key) when
  // it has none or the index is not a decimal number.
  static bool PartirNombre(const std::string& name, uint32_t& index, std::string& key);
  // The same, the key a view into the name.
  static bool PartirNombre(std::string_view name, uint32_t& index, std::string_view& key);

 protected:
  std::map<std::string, std::string> index_;
  TBlockStore* backing_ = nullptr;
  uint32_t capacity_ = 100;
  uint32_t count_ = 0;
};
