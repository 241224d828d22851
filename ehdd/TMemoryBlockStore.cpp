#include "ehdd/TMemoryBlockStore.h"

#include <cstring>

TMemoryBlockStore::~TMemoryBlockStore() { Clear(); }

bool TMemoryBlockStore::Clear() {
  for (auto& node : nodes_) delete[] node.datos;
  nodes_.clear();
  map_.clear();
  count_ = 0;
  return true;
}

bool TMemoryBlockStore::Flush() {
  if (backing_ != nullptr) {
    for (auto& node : nodes_) {
      if (node.datos != nullptr) backing_->Insert(node.nombre, node.datos, node.longitud, true);
    }
  }
  return Clear();
}

TBloqueCache* TMemoryBlockStore::Insert(const std::string& name, unsigned char* data,
                                        uint32_t length, bool write_back) {
  auto held = map_.find(name);
  if (held != map_.end()) {
    // The same name again: the new bytes replace the old.
    delete[] held->second->datos;
    held->second->datos = data;
    held->second->longitud = length;
    nodes_.splice(nodes_.end(), nodes_, held->second);
    return &*held->second;
  }
  if (count_ >= capacity_ && !nodes_.empty()) {
    TBloqueCache& oldest = nodes_.front();
    if (backing_ != nullptr && write_back && oldest.datos != nullptr) {
      backing_->Insert(oldest.nombre, oldest.datos, oldest.longitud, write_back);
    }
    delete[] oldest.datos;
    map_.erase(oldest.nombre);
    nodes_.pop_front();
  } else {
    ++count_;
  }
  nodes_.push_back(TBloqueCache{name, data, length});
  auto it = std::prev(nodes_.end());
  map_[name] = it;
  return &*it;
}

TBloqueCache* TMemoryBlockStore::Lookup(const std::string& name) {
  auto it = map_.find(name);
  return it == map_.end() ? nullptr : &*it->second;
}

TBloqueCache* TMemoryBlockStore::Fetch(const std::string& name) {
  auto it = map_.find(name);
  if (it != map_.end()) {
    nodes_.splice(nodes_.end(), nodes_, it->second);  // now the newest
    return &*it->second;
  }
  if (backing_ == nullptr) return nullptr;
  TBloqueCache* found = backing_->Fetch(name);
  if (found == nullptr || found->datos == nullptr) return nullptr;
  auto* copy = new unsigned char[found->longitud];
  std::memcpy(copy, found->datos, found->longitud);
  return Insert(name, copy, found->longitud, true);
}

bool TMemoryBlockStore::Remove(const std::string& name) {
  auto it = map_.find(name);
  if (it == map_.end()) return false;
  delete[] it->second->datos;
  nodes_.erase(it->second);
  map_.erase(it);
  --count_;
  return true;
}

bool TMemoryBlockStore::FreeData(TBloqueCache* block) {
  if (block == nullptr) return false;
  delete[] block->datos;
  block->datos = nullptr;
  return true;
}
