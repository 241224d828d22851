#include "ehdd/TEHDDCache.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

namespace {

std::mutex g_instance_mutex;
std::unique_ptr<TEHDDCache> g_instance;

}  // namespace

TEHDDCache::TEHDDCache() = default;

TEHDDCache* TEHDDCache::Instance() {
  std::lock_guard<std::mutex> lock(g_instance_mutex);
  if (!g_instance) g_instance = std::make_unique<TEHDDCache>();
  return g_instance.get();
}

void TEHDDCache::Destroy() {
  std::lock_guard<std::mutex> lock(g_instance_mutex);
  g_instance.reset();
}

int TEHDDCache::Iniciar(const std::string& nombre, uint32_t records, const std::string& folder) {
  CriticalSectionGuard guard(lock_);
  memoria_.SetBacking(nullptr);
  if (slots_.CrearFicheroSlots(nombre, records, folder)) memoria_.SetBacking(&slots_);
  return 0;
}

uint32_t TEHDDCache::ComprobarRango(const std::string& key, std::vector<TRangoCache>& entries,
                                    uint32_t position, uint32_t length, uint32_t& first_missing) {
  const uint64_t end = static_cast<uint64_t>(position) + length;
  const uint32_t first = position / kBloque;
  const uint32_t last = static_cast<uint32_t>(end / kBloque);
  uint32_t missing = 0;
  bool marked = false;
  for (uint32_t i = first; i <= last; ++i) {
    const std::string name = TBlockStore::NombreBloque(i, key);
    bool present;
    {
      CriticalSectionGuard guard(lock_);
      present = memoria_.Exists(name) || slots_.Exists(name);
    }
    entries.push_back(TRangoCache{i * kBloque,
                                  i == last ? static_cast<uint32_t>(end % kBloque) : kBloque, i,
                                  present});
    if (!present) {
      if (!marked) first_missing = static_cast<uint32_t>(entries.size() - 1);
      marked = true;
      ++missing;
    }
  }
  return missing;
}

size_t TEHDDCache::PrimerAusente(const std::vector<TRangoCache>& entries) const {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].presente) return i;
  }
  return 0;
}

bool TEHDDCache::EscribirRango(const std::string& key, const unsigned char* data, uint32_t position,
                               uint32_t length, uint32_t block_size) {
  if (block_size == 0 || data == nullptr) return true;
  uint32_t i = position / kBloque;
  const uint32_t last = static_cast<uint32_t>((static_cast<uint64_t>(position) + length) / kBloque);
  uint32_t taken = 0;
  while (taken < length && i <= last) {
    const uint32_t n = std::min(length - taken, block_size);
    // The tail past the file's end is zeroed, never left as heap bytes.
    auto* buffer = new unsigned char[block_size]();
    std::memcpy(buffer, data + taken, n);
    {
      CriticalSectionGuard guard(lock_);
      memoria_.Put(TBlockStore::NombreBloque(i, key), buffer, block_size, false);
    }
    taken += n;
    ++i;
  }
  return true;
}

uint32_t TEHDDCache::LeerRango(const std::string& key, uint32_t position, uint32_t length,
                               const std::vector<TRangoCache>& entries, unsigned char* destination) {
  uint32_t offset = position % kBloque;
  if (entries.size() == 1) {
    CriticalSectionGuard guard(lock_);
    TBloqueCache* block = memoria_.Get(TBlockStore::NombreBloque(entries[0].indice, key));
    if (block == nullptr || block->datos == nullptr || offset >= block->longitud) return 0;
    const uint32_t n = std::min(length, block->longitud - offset);
    std::memcpy(destination, block->datos + offset, n);
    return n;
  }
  uint32_t copied = 0;
  for (const TRangoCache& entry : entries) {
    if (copied >= length) break;
    CriticalSectionGuard guard(lock_);
    TBloqueCache* block = memoria_.Get(TBlockStore::NombreBloque(entry.indice, key));
    // A missing block ends the copy: later blocks must not land in its place.
    if (block == nullptr || block->datos == nullptr) break;
    if (offset < block->longitud) {
      const uint32_t n = std::min(block->longitud - offset, length - copied);
      std::memcpy(destination + copied, block->datos + offset, n);
      copied += n;
    }
    offset = 0;
  }
  return copied;
}

void TEHDDCache::Olvidar(const std::string& key) {
  CriticalSectionGuard guard(lock_);
  if (!slots_.abierto()) {
    // Memory only: drop this key's blocks and keep the others.
    std::vector<std::string> names;
    for (const auto& node : memoria_.nodes()) {
      uint32_t index = 0;
      std::string node_key;
      if (TBlockStore::PartirNombre(node.nombre, index, node_key) && node_key == key) {
        names.push_back(node.nombre);
      }
    }
    for (const auto& name : names) memoria_.Remove(name);
    return;
  }
  slots_.IndexAdd("eHDD", key);
  memoria_.Flush();
  slots_.Clear();
  slots_.IndexClear();
}

uint32_t TEHDDCache::BytesEnCache(const std::string& key) {
  CriticalSectionGuard guard(lock_);
  std::set<uint32_t> indices;
  for (const auto& node : memoria_.nodes()) {
    uint32_t index = 0;
    std::string node_key;
    if (TBlockStore::PartirNombre(node.nombre, index, node_key) && node_key == key) {
      indices.insert(index);
    }
  }
  for (uint32_t index : slots_.Indices(key)) indices.insert(index);
  const uint64_t bytes = static_cast<uint64_t>(indices.size()) * kBloque;
  return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}
