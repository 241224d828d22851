#include "ehdd/TMemoryBlockStore.h"

#include <atomic>
#include <cstring>

namespace {
std::atomic<uint64_t> g_generaciones{1};
uint64_t NuevaGeneracion() {
  return g_generaciones.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

TMemoryBlockStore::TMemoryBlockStore(uint32_t capacity) : generacion_(NuevaGeneracion()) {
  capacity_ = capacity;
}

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
  return {name, 0, false, RefBloque::HashClave(name)};
}

unsigned char* TMemoryBlockStore::BufferNuevo(uint32_t length) {
  if (length == tam_recambio_ && !recambios_.empty()) {
    unsigned char* spare = recambios_.back();
    recambios_.pop_back();
    return spare;
  }
  return new unsigned char[length > 0 ? length : 1];
}

void TMemoryBlockStore::Devolver(unsigned char* data, uint32_t length) {
  Soltar(data, length);
}

void TMemoryBlockStore::Soltar(unsigned char* data, uint32_t length) {
  if (data == nullptr) return;
  if (length == tam_recambio_ && tam_recambio_ != 0 && recambios_.size() < capacity_) {
    recambios_.push_back(data);
  } else {
    delete[] data;
  }
}

TMemoryBlockStore::Entrada* TMemoryBlockStore::Hallar(const RefBloque& ref) {
  const size_t hash = Hash(ref);
  // Newest first: a block just stored is the one most often asked for.
  for (size_t i = map_.size(); i-- > 0;) {
    Entrada& entry = map_[i];
    if (entry.hash == hash && entry.node->ref == ref) return &entry;
  }
  return nullptr;
}

bool TMemoryBlockStore::AlgunoDeClave(size_t hash_clave) const {
  for (const Nodo& node : nodes_) {
    if (!node.ref.canonico || node.ref.hash_clave == hash_clave) return true;
  }
  return false;
}

void TMemoryBlockStore::Olvidar(std::list<Nodo>::iterator node) {
  generacion_ = NuevaGeneracion();
  // Out of the map: the last entry takes its place.
  const size_t at = node->puesto;
  if (at < map_.size() && map_[at].node == node) {
    map_[at] = map_.back();
    map_[at].node->puesto = at;
    map_.pop_back();
  }
  Soltar(node->datos, node->longitud);
  node->datos = nullptr;
  if (nodos_libres_.size() < capacity_) {
    nodos_libres_.splice(nodos_libres_.end(), nodes_, node);
  } else {
    nodes_.erase(node);
  }
}

bool TMemoryBlockStore::Clear() {
  while (!nodes_.empty()) Olvidar(nodes_.begin());
  map_.clear();
  count_ = 0;
  return true;
}

void TMemoryBlockStore::EscribirAtras(Nodo& node, bool write_back) {
  if (backing_ == nullptr || !write_back || node.datos == nullptr || node.sin_respaldo) return;
  if (node.limpio && backing_->Exists(node.nombre)) return;
  backing_->Insert(node.nombre, node.datos, node.longitud, write_back);
}

bool TMemoryBlockStore::Flush() {
  for (auto& node : nodes_) EscribirAtras(node, true);
  return Clear();
}

TMemoryBlockStore::Nodo* TMemoryBlockStore::Buscar(const RefBloque& ref) {
  Entrada* entry = Hallar(ref);
  return entry == nullptr ? nullptr : &*entry->node;
}

TBloqueCache* TMemoryBlockStore::Insert(const std::string& name, unsigned char* data,
                                        uint32_t length, bool write_back) {
  return Meter(Ref(name), data, length, write_back, false);
}

TBloqueCache* TMemoryBlockStore::Meter(const RefBloque& ref, unsigned char* data, uint32_t length,
                                       bool write_back, bool absent) {
  if (Entrada* held = absent ? nullptr : Hallar(ref)) {
    // The same name again: the new bytes replace the old.
    Nodo& node = *held->node;
    if (node.datos != data) Soltar(node.datos, node.longitud);
    node.datos = data;
    node.longitud = length;
    node.limpio = false;
    node.sin_respaldo = false;
    nodes_.splice(nodes_.end(), nodes_, held->node);
    return &node;
  }
  // The name first: `ref` may look into a block about to leave.
  if (ref.canonico) {
    nombre_.clear();
    char digits[10];
    size_t n = 0;
    uint32_t index = ref.indice;
    do {
      digits[n++] = static_cast<char>('0' + index % 10);
      index /= 10;
    } while (index != 0);
    while (n > 0) nombre_ += digits[--n];
    nombre_ += '_';
    nombre_.append(ref.clave);
  } else {
    nombre_.assign(ref.clave);
  }
  const RefBloque wanted{{}, ref.indice, ref.canonico, ref.hash_clave};
  const size_t ref_key_size = ref.clave.size();
  if (count_ >= capacity_ && !nodes_.empty()) {
    EscribirAtras(nodes_.front(), write_back);
    Olvidar(nodes_.begin());
  } else {
    ++count_;
  }
  if (nodos_libres_.empty()) {
    nodes_.emplace_back();
  } else {
    nodes_.splice(nodes_.end(), nodos_libres_, nodos_libres_.begin());
  }
  auto it = std::prev(nodes_.end());
  Nodo& node = *it;
  node.nombre.assign(nombre_);  // into the capacity the node already has
  node.datos = data;
  node.longitud = length;
  node.limpio = false;
  node.sin_respaldo = false;
  // The views point into the node's own name, which stays where it is.
  const std::string_view whole(node.nombre);
  node.ref = wanted;
  node.ref.clave = wanted.canonico ? whole.substr(whole.size() - ref_key_size) : whole;
  node.hash = Hash(wanted);
  node.puesto = map_.size();
  map_.push_back({node.hash, it});
  return &node;
}

TBloqueCache* TMemoryBlockStore::Tomar(const RefBloque& ref) {
  if (Entrada* held = Hallar(ref)) {
    nodes_.splice(nodes_.end(), nodes_, held->node);  // now the newest
    return &*held->node;
  }
  if (backing_ == nullptr) return nullptr;
  const std::string name =
      ref.canonico ? NombreBloque(ref.indice, ref.clave) : std::string(ref.clave);
  TBloqueCache* found = backing_->Fetch(name);
  if (found == nullptr || found->datos == nullptr) return nullptr;
  unsigned char* copy = BufferNuevo(found->longitud);
  std::memcpy(copy, found->datos, found->longitud);
  const uint32_t length = found->longitud;
  Nodo* node = static_cast<Nodo*>(Meter(ref, copy, length, true, true));
  node->limpio = ref.canonico;  // the names the cache makes; an odd name may share a record
  return node;
}

TBloqueCache* TMemoryBlockStore::Fetch(const std::string& name) {
  return Tomar(Ref(name));
}

TBloqueCache* TMemoryBlockStore::Poner(const RefBloque& ref, unsigned char* data, uint32_t length) {
  if (Buscar(ref) != nullptr) {
    Soltar(data, length);  // not stored: the caller handed it over
    return Tomar(ref);
  }
  return Meter(ref, data, length, true, true);
}

bool TMemoryBlockStore::Quitar(const RefBloque& ref) {
  Entrada* held = Hallar(ref);
  if (held == nullptr) return false;
  Olvidar(held->node);
  --count_;
  return true;
}

bool TMemoryBlockStore::Remove(const std::string& name) {
  return Quitar(Ref(name));
}

bool TMemoryBlockStore::FreeData(TBloqueCache* block) {
  if (block == nullptr) return false;
  Soltar(block->datos, block->longitud);
  block->datos = nullptr;
  return true;
}
