#include "ehdd/TMemoryBlockStore.h"

#include <cstring>

TMemoryBlockStore::~TMemoryBlockStore() {
  Clear();
  for (unsigned char* spare : recambios_) delete[] spare;
}

TMemoryBlockStore::RefBloque TMemoryBlockStore::Ref(std::string_view name) {
  uint32_t index = 0;
  std::string_view key;
  // Only the name NombreBloque would make for its index and key: "007_k"
  // stays a name of its own.
  if (TBlockStore::PartirNombre(name, index, key) && (name[0] != '0' || name[1] == '_')) {
    return RefBloque::De(key, index);
  }
  return {name, 0, false, std::hash<std::string_view>{}(name)};
}

unsigned char* TMemoryBlockStore::BufferNuevo(uint32_t length) {
  if (length == tam_recambio_ && !recambios_.empty()) {
    unsigned char* spare = recambios_.back();
    recambios_.pop_back();
    return spare;
  }
  return new unsigned char[length > 0 ? length : 1];
}

void TMemoryBlockStore::Devolver(unsigned char* data, uint32_t length) { Soltar(data, length); }

void TMemoryBlockStore::Soltar(unsigned char* data, uint32_t length) {
  if (data == nullptr) return;
  if (length == tam_recambio_ && tam_recambio_ != 0 && recambios_.size() < capacity_) {
    recambios_.push_back(data);
  } else {
    delete[] data;
  }
}

void TMemoryBlockStore::Olvidar(std::list<Nodo>::iterator node) {
  map_.erase(node->ref);
  Soltar(node->datos, node->longitud);
  nodes_.erase(node);
}

bool TMemoryBlockStore::Clear() {
  for (auto& node : nodes_) Soltar(node.datos, node.longitud);
  map_.clear();
  nodes_.clear();
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

TMemoryBlockStore::Nodo* TMemoryBlockStore::Buscar(const RefBloque& ref) {
  auto it = map_.find(ref);
  return it == map_.end() ? nullptr : &*it->second;
}

TBloqueCache* TMemoryBlockStore::Insert(const std::string& name, unsigned char* data,
                                        uint32_t length, bool write_back) {
  const RefBloque ref = Ref(name);
  return Meter(name, &ref, data, length, write_back);
}

TBloqueCache* TMemoryBlockStore::Meter(std::string name, const RefBloque* ref, unsigned char* data,
                                       uint32_t length, bool write_back) {
  auto held = map_.find(*ref);
  if (held != map_.end()) {
    // The same name again: the new bytes replace the old.
    Nodo& node = *held->second;
    if (node.datos != data) Soltar(node.datos, node.longitud);
    node.datos = data;
    node.longitud = length;
    nodes_.splice(nodes_.end(), nodes_, held->second);
    return &node;
  }
  if (count_ >= capacity_ && !nodes_.empty()) {
    Nodo& oldest = nodes_.front();
    if (backing_ != nullptr && write_back && oldest.datos != nullptr) {
      backing_->Insert(oldest.nombre, oldest.datos, oldest.longitud, write_back);
    }
    Olvidar(nodes_.begin());
  } else {
    ++count_;
  }
  nodes_.emplace_back();
  auto it = std::prev(nodes_.end());
  Nodo& node = *it;
  node.nombre = std::move(name);
  node.datos = data;
  node.longitud = length;
  // The views must point into the node's own name, which stays where it is.
  const std::string_view whole(node.nombre);
  node.ref = *ref;
  node.ref.clave = ref->canonico ? whole.substr(whole.size() - ref->clave.size()) : whole;
  map_.emplace(node.ref, it);
  return &node;
}

TBloqueCache* TMemoryBlockStore::Tomar(const RefBloque& ref) {
  auto it = map_.find(ref);
  if (it != map_.end()) {
    nodes_.splice(nodes_.end(), nodes_, it->second);  // now the newest
    return &*it->second;
  }
  if (backing_ == nullptr) return nullptr;
  std::string name = ref.canonico ? NombreBloque(ref.indice, std::string(ref.clave))
                                  : std::string(ref.clave);
  TBloqueCache* found = backing_->Fetch(name);
  if (found == nullptr || found->datos == nullptr) return nullptr;
  unsigned char* copy = BufferNuevo(found->longitud);
  std::memcpy(copy, found->datos, found->longitud);
  return Meter(std::move(name), &ref, copy, found->longitud, true);
}

TBloqueCache* TMemoryBlockStore::Fetch(const std::string& name) { return Tomar(Ref(name)); }

TBloqueCache* TMemoryBlockStore::Poner(const RefBloque& ref, unsigned char* data, uint32_t length) {
  if (Buscar(ref) != nullptr) {
    Soltar(data, length);  // not stored: the caller handed it over
    return Tomar(ref);
  }
  std::string name = ref.canonico ? NombreBloque(ref.indice, std::string(ref.clave))
                                  : std::string(ref.clave);
  return Meter(std::move(name), &ref, data, length, true);
}

bool TMemoryBlockStore::Quitar(const RefBloque& ref) {
  auto it = map_.find(ref);
  if (it == map_.end()) return false;
  Olvidar(it->second);
  --count_;
  return true;
}

bool TMemoryBlockStore::Remove(const std::string& name) { return Quitar(Ref(name)); }

bool TMemoryBlockStore::FreeData(TBloqueCache* block) {
  if (block == nullptr) return false;
  Soltar(block->datos, block->longitud);
  block->datos = nullptr;
  return true;
}
