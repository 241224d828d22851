// The memory level of the block cache: at most `capacity` blocks, least
// recently used first out, evicted blocks written to the backing store.
#pragma once

#include <list>
#include <unordered_map>

#include "ehdd/TBlockStore.h"

class TMemoryBlockStore : public TBlockStore {
 public:
  explicit TMemoryBlockStore(uint32_t capacity = 16) { capacity_ = capacity; }
  ~TMemoryBlockStore() override;

  bool Exists(const std::string& name) override { return map_.count(name) > 0; }
  bool Flush() override;
  bool Clear() override;
  TBloqueCache* Insert(const std::string& name, unsigned char* data, uint32_t length,
                       bool write_back) override;
  TBloqueCache* Fetch(const std::string& name) override;
  bool Remove(const std::string& name) override;
  bool FreeData(TBloqueCache* block) override;
  TBloqueCache* Lookup(const std::string& name) override;

  // Names held, oldest first (for tests and the cache's byte count).
  std::list<TBloqueCache>& nodes() { return nodes_; }

 private:
  std::list<TBloqueCache> nodes_;  // oldest at the front
  std::unordered_map<std::string, std::list<TBloqueCache>::iterator> map_;
};
