#include "ehdd/TEHDDCache.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>

namespace {

std::mutex g_instance_mutex;
std::unique_ptr<TEHDDCache> g_instance;
// The cache once made, read without the lock by every call that finds it.
std::atomic<TEHDDCache*> g_made{nullptr};

// The index of a memory block of the key, when it is one.
bool BloqueDe(const TMemoryBlockStore::Nodo& node, const std::string& key, size_t key_hash,
              uint32_t& index) {
  if (node.ref.canonico) {
    index = node.ref.indice;
    return node.ref.hash_clave == key_hash && node.ref.clave == key;
  }
  std::string_view node_key;
  return TBlockStore::PartirNombre(std::string_view(node.nombre), index, node_key) &&
         node_key == key;
}

// The reference of a key's block, the key's hash remembered from the last
// call on this thread: a reader asks about one file many times in a row.
// The memory is plain bytes, nothing to destroy: a thread's last
// destructors may still read.
constexpr size_t kClaveRecordada = 256;
TMemoryBlockStore::RefBloque RefDe(const std::string& key, uint32_t index) {
  thread_local char last_key[kClaveRecordada];
  thread_local size_t last_length = SIZE_MAX;
  thread_local size_t last_hash = 0;
  if (key.size() != last_length ||
      !TMemoryBlockStore::RefBloque::MismaClave(key, std::string_view(last_key, last_length))) {
    last_hash = TMemoryBlockStore::RefBloque::HashClave(key);
    if (key.size() <= kClaveRecordada) {
      std::memcpy(last_key, key.data(), key.size());
      last_length = key.size();
    } else {
      last_length = SIZE_MAX;  // long keys are hashed each time
    }
  }
  return {key, index, true, last_hash};
}

}  // namespace

TEHDDCache::TEHDDCache() {
  memoria_.SetTamRecambio(kBloque);
}

TEHDDCache* TEHDDCache::Instance() {
  if (TEHDDCache* made = g_made.load(std::memory_order_acquire)) return made;
  std::lock_guard<std::mutex> lock(g_instance_mutex);
  if (!g_instance) {
    g_instance = std::make_unique<TEHDDCache>();
    g_made.store(g_instance.get(), std::memory_order_release);
  }
  return g_instance.get();
}

void TEHDDCache::Destroy() {
  std::lock_guard<std::mutex> lock(g_instance_mutex);
  g_made.store(nullptr, std::memory_order_release);
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
  entries.reserve(entries.size() + (last - first) + 1);
  // One look at both levels for the whole range: what a reader sees is the
  // range as it stood at one moment.
  CriticalSectionGuard guard(lock_);
  const uint64_t generation = memoria_.generacion();
  TMemoryBlockStore::RefBloque ref;
  int in_memory = -1;  // not asked yet
  for (uint32_t i = first; i <= last; ++i) {
    // The block read last needs neither hash nor search.
    TMemoryBlockStore::Nodo* node = memoria_.Reciente(key, i);
    if (node == nullptr) {
      if (in_memory < 0) {
        ref = RefDe(key, i);
        // A file none of whose blocks is in memory (one just opened) needs
        // no look at memory per block (worth asking only for longer ranges).
        in_memory = last - first < 2 || memoria_.AlgunoDeClave(ref.hash_clave) ? 1 : 0;
      }
      ref.indice = i;
      if (in_memory != 0) node = memoria_.Buscar(ref);
    }
    const bool present = node != nullptr || slots_.Existe(i, key);
    entries.push_back(TRangoCache{i * kBloque,
                                  i == last ? static_cast<uint32_t>(end % kBloque) : kBloque, i,
                                  present, node, node != nullptr ? generation : 0});
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
  TMemoryBlockStore::RefBloque ref = RefDe(key, i);
  while (taken < length && i <= last) {
    const uint32_t n = std::min(length - taken, block_size);
    CriticalSectionGuard guard(lock_);
    unsigned char* buffer = memoria_.BufferNuevo(block_size);
    std::memcpy(buffer, data + taken, n);
    // The tail past the file's end is zeroed, never left as heap bytes.
    if (n < block_size) std::memset(buffer + n, 0, block_size - n);
    ref.indice = i;
    memoria_.Poner(ref, buffer, block_size);
    taken += n;
    ++i;
  }
  return true;
}

void TEHDDCache::BuffersNuevos(unsigned char** buffers, uint32_t count) {
  CriticalSectionGuard guard(lock_);
  for (uint32_t i = 0; i < count; ++i) buffers[i] = memoria_.BufferNuevo(kBloque);
}

void TEHDDCache::GuardarBloques(const std::string& key, uint32_t position, unsigned char** buffers,
                                uint32_t count, uint32_t length) {
  const uint32_t used = std::min<uint32_t>(count, (length + kBloque - 1) / kBloque);
  if (used > 0 && length % kBloque != 0) {
    const uint32_t tail = length % kBloque;
    std::memset(buffers[used - 1] + tail, 0, kBloque - tail);
  }
  TMemoryBlockStore::RefBloque ref = RefDe(key, position / kBloque);
  CriticalSectionGuard guard(lock_);
  // Blocks of a file none of which is in memory go in without a look each.
  const bool in_memory = memoria_.AlgunoDeClave(ref.hash_clave);
  for (uint32_t b = 0; b < count; ++b) {
    if (b < used) {
      // A local store's block is read from there again when wanted: it
      // never goes to the slot file.
      TBloqueCache* block = in_memory ? memoria_.Poner(ref, buffers[b], kBloque)
                                      : memoria_.PonerAusente(ref, buffers[b], kBloque);
      if (block != nullptr) static_cast<TMemoryBlockStore::Nodo*>(block)->sin_respaldo = true;
      ++ref.indice;
    } else {
      memoria_.Devolver(buffers[b], kBloque);
    }
    buffers[b] = nullptr;
  }
}

// The block of an entry: where ComprobarRango found it when memory has let
// no block go since, else looked up (and brought back from the slot file).
TBloqueCache* TEHDDCache::BloqueDeEntrada(const std::string& key, const TRangoCache& entry) {
  if (entry.nodo != nullptr && entry.generacion == memoria_.generacion()) {
    auto* node = static_cast<TMemoryBlockStore::Nodo*>(const_cast<void*>(entry.nodo));
    // The entries may come from a look at another key.
    if (node->ref.canonico && node->ref.indice == entry.indice &&
        TMemoryBlockStore::RefBloque::MismaClave(node->ref.clave, key)) {
      return memoria_.TomarNodo(node);
    }
  }
  return memoria_.Tomar(RefDe(key, entry.indice));
}

uint32_t TEHDDCache::LeerRango(const std::string& key, uint32_t position, uint32_t length,
                               const std::vector<TRangoCache>& entries,
                               unsigned char* destination) {
  uint32_t offset = position % kBloque;
  if (entries.empty()) return 0;
  CriticalSectionGuard guard(lock_);
  if (entries.size() == 1) {
    TBloqueCache* block = BloqueDeEntrada(key, entries[0]);
    if (block == nullptr || block->datos == nullptr || offset >= block->longitud) return 0;
    const uint32_t n = std::min(length, block->longitud - offset);
    std::memcpy(destination, block->datos + offset, n);
    return n;
  }
  uint32_t copied = 0;
  for (const TRangoCache& entry : entries) {
    if (copied >= length) break;
    TBloqueCache* block = BloqueDeEntrada(key, entry);
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
  // The file's own blocks leave memory first: with the slot file open,
  // written there now they would only be cleared from it below.
  const size_t key_hash = TMemoryBlockStore::RefBloque::HashClave(key);
  for (auto it = memoria_.nodes().begin(); it != memoria_.nodes().end();) {
    auto next = std::next(it);
    uint32_t index = 0;
    if (BloqueDe(*it, key, key_hash, index)) memoria_.Quitar(it->ref);
    it = next;
  }
  if (!slots_.abierto()) return;  // memory only: the other keys stay
  slots_.IndexAdd("eHDD", key);
  memoria_.Flush();
  slots_.Clear();
  slots_.IndexClear();
}

uint32_t TEHDDCache::BytesEnCache(const std::string& key) {
  CriticalSectionGuard guard(lock_);
  std::set<uint32_t> indices;
  const size_t key_hash = TMemoryBlockStore::RefBloque::HashClave(key);
  for (const auto& node : memoria_.nodes()) {
    uint32_t index = 0;
    if (BloqueDe(node, key, key_hash, index)) indices.insert(index);
  }
  for (uint32_t index : slots_.Indices(key)) indices.insert(index);
  const uint64_t bytes = static_cast<uint64_t>(indices.size()) * kBloque;
  return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}
