// The file interface of the eHDD client: open, read, write, seek, size,
// close, make directory and the copy through the temporary folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "base/Checksums.h"
#include "base/TTokenizer.h"
#include "base/TextUtils.h"
#include "ehdd/EHDDProtocol.h"
#include "ehdd/ScratchDeHilo.h"
#include "ehdd/TEHDDCache.h"
#include "ehdd/TEHDDClient.h"
#include "ehdd/TFicheroDAT.h"
#include "ehdd/TTransaccionHTTP.h"
#include "platform/FileIo.h"
#include "platform/TempFolder.h"

bool PlainLocalOn(const TEHDDClient* client);
void NotarAusenteEnServidor();

namespace {

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Files whose contents change between sessions never count as complete.
bool MayBeComplete(const std::string& path) {
  for (const char* mark : {".ALU", ".STR", ".BKP", ".SPX"}) {
    if (path.find(mark) != std::string::npos) return false;
  }
  return true;
}

bool ParseDecimal(const std::string& text, long long* value) {
  if (text.empty() || text.size() > 19) return false;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
    if (text.size() == 1) return false;
  }
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = negative ? -v : v;
  return true;
}

// A range that ends on a block boundary lists the next block with length 0:
// it holds nothing the read needs, so it is not worth a fetch.
uint32_t CountMissing(uint32_t missing, const std::vector<TRangoCache>& entries) {
  if (missing > 0 && !entries.empty() && entries.back().longitud == 0 && !entries.back().presente) {
    --missing;
  }
  return missing;
}

}  // namespace

std::string TEHDDClient::ResolvePath(std::string_view path, bool* local, bool* container) {
  if (local) *local = false;
  if (container) *container = false;
  CriticalSectionGuard guard(mount_lock_);
  if (path.size() >= 2 && path[1] == ':' && local) {
    *local = local_letters_.count(path[0]) > 0;
  }
  if (path.size() < 3 || path[1] != ':') return std::string(path);
  auto mount = mount_table_.find(path[0]);
  if (mount == mount_table_.end()) return std::string(path);
  const bool is_container = container_flags_[path[0]];
  if (container) *container = is_container;
  const std::string& store = mount->second;
  std::string resolved(store.size() + (is_container ? 1 : 0) + path.size() - 2, '\0');
  char* out = resolved.data();
  std::memcpy(out, store.data(), store.size());
  out += store.size();
  if (is_container) *out++ = '#';
  const size_t n = path.size() - 2;
  std::memcpy(out, path.data() + 2, n);
  // Simple loops over the bytes, which the compiler turns into vector code.
  for (size_t i = 0; i < n; ++i) out[i] = out[i] == '\\' ? '/' : out[i];
  if (is_container) {
    for (size_t i = 0; i < n; ++i) out[i] = AsciiUpper(out[i]);
  }
  return resolved;
}

std::shared_ptr<TFicheroEHDD> TEHDDClient::FindOpenFile(TFicheroEHDD* file) {
  if (file == nullptr) return nullptr;
  CriticalSectionGuard guard(mount_lock_);
  auto it = open_files_.find(file);
  return it == open_files_.end() ? nullptr : it->second.first;
}

TFicheroEHDD* TEHDDClient::EnterOpenFile(std::unique_ptr<TFicheroEHDD> file,
                                         const char* given_path) {
  std::shared_ptr<TFicheroEHDD> shared(std::move(file));
  TFicheroEHDD* raw = shared.get();
  CriticalSectionGuard guard(mount_lock_);
  open_files_[raw] = {std::move(shared), given_path ? given_path : ""};
  return raw;
}

TFicheroEHDD* TEHDDClient::AbrirSinMotivo(const char* path_text, int32_t mode) {
  if (path_text == nullptr) return nullptr;

  if (PlainLocalOn(this)) {
    const std::string path = path_text;
    if (ehdd_local::HasParentComponent(path)) return nullptr;
    auto file = std::make_unique<TFicheroEHDD>();
    if (mode == 0) {
      uint64_t size = 0;
      if (!ehdd_local::RegularFileSize(path, &size) || size > UINT32_MAX) return nullptr;
      file->length = static_cast<uint32_t>(size);
    } else if (!ehdd_local::CreateEmptyFile(path)) {
      return nullptr;
    }
    file->kind = ehdd_kind::kLocalPlano;
    file->path = path;
    file->fileId = CacheName(path.c_str());
    file->mode = mode;
    return EnterOpenFile(std::move(file), path_text);
  }

  bool local = false;
  bool container = false;
  const std::string resolved = ResolvePath(path_text, &local, &container);
  TEHDDCache* cache = TEHDDCache::Instance();

  if (mode == 0) {
    if (container) {
      std::string key;
      uint32_t size = 0;
      bool hit = false;
      {
        CriticalSectionGuard guard(buffer_lock_);
        // Only server files are ever complete: with none, no name to work out.
        if (!complete_files_.empty()) key = CacheName(resolved.c_str());
        auto it = key.empty() ? complete_files_.end() : complete_files_.find(key);
        if (it != complete_files_.end()) {
          // Served without a request only while every block is still cached.
          std::vector<TRangoCache> entries;
          uint32_t first_missing = 0;
          if (cache->ComprobarRango(resolved, entries, 0, it->second.size, first_missing) == 0) {
            hit = true;
            size = it->second.size;
          } else {
            complete_files_.erase(it);
          }
        }
      }
      if (hit) {
        auto file = std::make_unique<TFicheroEHDD>();
        file->path = resolved;
        file->fileId = key;
        file->length = size;
        return EnterOpenFile(std::move(file), path_text);
      }
    } else {
      cache->Olvidar(resolved);
    }
  }

  if (local) {
    TFicheroEHDD* opened = local_store_.Abrir(resolved, mode);
    if (opened == nullptr) return nullptr;
    std::unique_ptr<TFicheroEHDD> file(opened);
    cache->Olvidar(file->path);
    return EnterOpenFile(std::move(file), path_text);
  }
  return AbrirServidor(resolved, mode);
}

// A server open and the read of the file's first blocks that goes out
// beside it, under the file id the server gives a path (the cache name).
struct TEHDDClient::Apertura {
  std::string resolved;
  std::string id_por_nombre;
  TEHDDReply op;
  TEHDDReply rd;
  bool rd_enviada = false;
  uint64_t orden = 0;  // of the hints
  // Taken from the semaphores once (under buffer_lock_ for handed-over ones).
  bool op_hecha = false;
  bool rd_hecha = false;
};

namespace {

// What an open's answer says: the file id and length, or why not.
struct RespuestaApertura {
  bool ok = false;
  bool rechazada = false;  // the store answered that the file is not there
  std::string id;
  uint32_t longitud = 0;
};

RespuestaApertura LeerRespuestaApertura(const TEHDDReply& reply) {
  RespuestaApertura r;
  if (reply.status != 0) return r;
  std::map<std::string, std::string> values;
  if (reply.data == nullptr ||
      !ParseKeyValues(reinterpret_cast<const char*>(reply.data), reply.length, values, '&', '=')) {
    return r;
  }
  long long rt = 0;
  long long ln = 0;
  // A store that answers the open with a refusal does not have the file.
  if (values.count("RT") && ParseDecimal(values["RT"], &rt) && rt != 1) {
    r.rechazada = true;
    return r;
  }
  if (!values.count("IDF") || !values.count("RT") || !ParseDecimal(values["RT"], &rt) || rt != 1 ||
      !values.count("LN") || !ParseDecimal(values["LN"], &ln) || ln < 0 || ln > UINT32_MAX) {
    return r;
  }
  r.ok = true;
  r.id = values["IDF"];
  r.longitud = static_cast<uint32_t>(ln);
  return r;
}

}  // namespace

bool TEHDDClient::ComandoLectura(const std::string& id, uint64_t desde, uint32_t blocks,
                                 std::string& command) const {
  return ehdd_protocol::Comando({{"CM", "RD"},
                                 {"OF", std::to_string(desde)},
                                 {"BS", std::to_string(kBloque)},
                                 {"NB", std::to_string(blocks)},
                                 {"ID", id},
                                 {"IS", session_id_}},
                                command);
}

void TEHDDClient::CerrarSinEsperar(const std::string& id) {
  std::string command;
  if (ehdd_protocol::Comando({{"CM", "CF"}, {"ID", id}, {"IS", session_id_}}, command)) {
    EnviarSinRespuesta(command);
  }
}

void TEHDDClient::GuardarLeido(const std::string& path, const TEHDDReply& reply, uint64_t desde,
                               uint32_t length) {
  if (reply.status != 0 || reply.data == nullptr || reply.length == 0 || desde >= length) return;
  TEHDDCache::Instance()->EscribirRango(
      path, reply.data, static_cast<uint32_t>(desde),
      static_cast<uint32_t>(std::min<uint64_t>(reply.length, length - desde)), kBloque);
}

bool TEHDDClient::EmpezarApertura(Apertura& apertura, int32_t mode) {
  const int md = mode == 1 ? 3 : (mode == 2 ? 2 : 1);
  std::string command;
  if (!ehdd_protocol::Comando({{"CM", "OP"},
                               {"MD", std::to_string(md)},
                               {"FN", apertura.resolved},
                               {"IS", session_id_}},
                              command)) {
    return false;
  }
  EnviarSinEsperar(command, nullptr, 0, nullptr, 0, apertura.op);
  // A file opened for reading is read from its start: its first blocks
  // come in the same round trip as the open.
  if (mode == 0 && ids_por_nombre_.load()) {
    apertura.id_por_nombre = CacheName(apertura.resolved.c_str());
    if (ComandoLectura(apertura.id_por_nombre, 0, read_ahead_, command)) {
      EnviarSinEsperar(command, nullptr, 0, nullptr, read_ahead_ * kBloque, apertura.rd);
      apertura.rd_enviada = true;
    }
  }
  return true;
}

TFicheroEHDD* TEHDDClient::AcabarApertura(Apertura& apertura, int32_t mode) {
  if (!apertura.op_hecha) Esperar(apertura.op);
  if (apertura.rd_enviada && !apertura.rd_hecha) Esperar(apertura.rd);
  apertura.op_hecha = apertura.rd_hecha = true;
  const RespuestaApertura r = LeerRespuestaApertura(apertura.op);
  if (r.rechazada) NotarAusenteEnServidor();
  if (!r.ok) return nullptr;
  if (apertura.rd_enviada) {
    if (r.id != apertura.id_por_nombre) {
      // This server names files otherwise: the read went out under a name
      // it does not know, and no later open sends one.
      ids_por_nombre_.store(false);
    } else {
      GuardarLeido(apertura.resolved, apertura.rd, 0, r.longitud);
    }
  }
  auto file = std::make_unique<TFicheroEHDD>();
  file->path = apertura.resolved;
  file->fileId = r.id;
  file->length = r.longitud;
  file->mode = mode;
  const std::string file_id = file->fileId;
  TFicheroEHDD* raw = EnterOpenFile(std::move(file), apertura.resolved.c_str());
  if (mode == 2) {
    CriticalSectionGuard guard(buffer_lock_);
    write_buffers_[file_id] = std::make_shared<TEHDDWriteBuffer>(this, session_id_, raw);
  }
  return raw;
}

TFicheroEHDD* TEHDDClient::AbrirServidor(const std::string& resolved, int32_t mode) {
  BarrerSoltadas();
  std::shared_ptr<Apertura> apertura;
  if (mode == 0) {
    apertura = TomarAnticipo(resolved);
  } else {
    SoltarAnticipos(&resolved);  // what was read ahead of a file now written is stale
  }
  if (!apertura) {
    apertura = std::make_shared<Apertura>();
    apertura->resolved = resolved;
    if (!EmpezarApertura(*apertura, mode)) return nullptr;
  }
  return AcabarApertura(*apertura, mode);
}

std::shared_ptr<TEHDDClient::Apertura> TEHDDClient::TomarAnticipo(const std::string& resolved) {
  CriticalSectionGuard guard(buffer_lock_);
  auto it = anticipos_.find(resolved);
  if (it == anticipos_.end()) return nullptr;
  std::shared_ptr<Apertura> apertura = std::move(it->second);
  anticipos_.erase(it);
  return apertura;
}

void TEHDDClient::Anticipar(const std::vector<std::string>& paths) {
  if (!thread_started_ || PlainLocalOn(this)) return;
  // One request at a time (through a proxy): hints would only stand in
  // line before the opens that need an answer now.
  if (transaccion_->window() <= 1) return;
  BarrerSoltadas();
  std::vector<std::shared_ptr<Apertura>> nuevas;
  for (const std::string& path : paths) {
    if (nuevas.size() >= kMaxAnticipos) break;
    bool local = false;
    bool container = false;
    std::string resolved = ResolvePath(path, &local, &container);
    // Only store files that stay the same through a session, and that the
    // next open would ask the server for.
    if (local || path.size() < 3 || path[1] != ':' || !MayBeComplete(resolved)) continue;
    CriticalSectionGuard guard(buffer_lock_);
    if (anticipos_.count(resolved) != 0) continue;
    if (container && complete_files_.count(CacheName(resolved.c_str())) != 0) continue;
    // Past the bound, the oldest hint not taken yet makes room.
    if (anticipos_.size() >= kMaxAnticipos) {
      auto oldest = anticipos_.begin();
      for (auto it = anticipos_.begin(); it != anticipos_.end(); ++it) {
        if (it->second->orden < oldest->second->orden) oldest = it;
      }
      soltadas_.push_back(std::move(oldest->second));
      anticipos_.erase(oldest);
    }
    auto apertura = std::make_shared<Apertura>();
    apertura->resolved = std::move(resolved);
    apertura->orden = siguiente_anticipo_++;
    anticipos_[apertura->resolved] = apertura;
    nuevas.push_back(std::move(apertura));
  }
  for (const auto& apertura : nuevas) EmpezarApertura(*apertura, 0);
}

void TEHDDClient::SoltarAnticipos(const std::string* resolved) {
  {
    CriticalSectionGuard guard(buffer_lock_);
    if (resolved == nullptr) {
      for (auto& [path, apertura] : anticipos_) soltadas_.push_back(std::move(apertura));
      anticipos_.clear();
    } else if (auto it = anticipos_.find(*resolved); it != anticipos_.end()) {
      soltadas_.push_back(std::move(it->second));
      anticipos_.erase(it);
    }
  }
  BarrerSoltadas();
}

void TEHDDClient::BarrerSoltadas() {
  std::vector<std::string> cierres;  // file ids
  {
    CriticalSectionGuard guard(buffer_lock_);
    for (auto it = soltadas_.begin(); it != soltadas_.end();) {
      Apertura& a = **it;
      if (!a.op_hecha) a.op_hecha = a.op.semaphore.WaitFor(0);
      if (a.rd_enviada && !a.rd_hecha) a.rd_hecha = a.rd.semaphore.WaitFor(0);
      if (!a.op_hecha || (a.rd_enviada && !a.rd_hecha)) {
        ++it;
        continue;
      }
      const RespuestaApertura r = LeerRespuestaApertura(a.op);
      if (r.ok) cierres.push_back(r.id);
      it = soltadas_.erase(it);
    }
    for (auto it = adelantadas_.begin(); it != adelantadas_.end();) {
      // Once completed, the engine holds no pointer to it.
      it = (*it)->semaphore.Liberado() ? adelantadas_.erase(it) : std::next(it);
    }
  }
  for (const std::string& id : cierres) CerrarSinEsperar(id);
}

void TEHDDClient::Adelantar(TFicheroEHDD& file, uint64_t desde) {
  if (file.adelantada || desde >= file.length || !thread_started_) return;
  std::string command;
  if (!ComandoLectura(file.fileId, desde, read_ahead_, command)) return;
  file.adelantada = std::make_shared<TEHDDReply>();
  file.adelantada_desde = desde;
  {
    CriticalSectionGuard guard(buffer_lock_);
    adelantadas_.push_back(file.adelantada);
  }
  EnviarSinEsperar(command, nullptr, 0, nullptr, read_ahead_ * kBloque, *file.adelantada);
}

bool TEHDDClient::TomarAdelantada(TFicheroEHDD& file, uint64_t desde) {
  if (!file.adelantada) return false;
  std::shared_ptr<TEHDDReply> reply = std::move(file.adelantada);
  if (file.adelantada_desde != desde) return false;  // the reading went elsewhere
  // The range after it goes out before this one is waited for: two are on
  // their way while the caller waits, and each has two reads' time to come.
  Adelantar(file, desde + static_cast<uint64_t>(read_ahead_) * kBloque);
  // A read ahead that failed is asked for again by the read that needs it,
  // which reports its failure.
  if (!Esperar(*reply) || reply->data == nullptr || reply->length == 0) return false;
  GuardarLeido(file.path, *reply, desde, file.length);
  return true;
}

bool TEHDDClient::FetchBlocks(TFicheroEHDD& file, uint64_t start, uint32_t blocks, bool* whole) {
  *whole = false;
  if (file.kind != ehdd_kind::kServidor) return FetchLocalBlocks(file, start, blocks, whole);
  const uint32_t capacity = blocks * kBloque;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[capacity]);
  uint32_t got = 0;
  {
    std::string command;
    TEHDDReply reply;
    if (!ComandoLectura(file.fileId, start, blocks, command) ||
        !Enviar(command, nullptr, 0, buffer.get(), capacity, reply) || reply.length > capacity) {
      throw std::string(kErrorPerdida);
    }
    got = reply.length;
    if (reply.data != nullptr && reply.data != buffer.get()) {
      std::memcpy(buffer.get(), reply.data, got);
    }
  }
  if (got == 0) return false;
  TEHDDCache::Instance()->EscribirRango(file.path, buffer.get(), static_cast<uint32_t>(start), got,
                                        kBloque);
  return true;
}

bool TEHDDClient::FetchLocalBlocks(TFicheroEHDD& file, uint64_t start, uint32_t blocks,
                                   bool* whole) {
  if (start >= file.length) return false;
  const uint64_t bytes =
      std::min<uint64_t>(static_cast<uint64_t>(blocks) * kBloque, file.length - start);
  const uint32_t count = static_cast<uint32_t>((bytes + kBloque - 1) / kBloque);
  // The local stores read straight into the cache's block buffers, which
  // then become the cache's blocks: no copy in between.
  TEHDDCache* cache = TEHDDCache::Instance();
  constexpr uint32_t kEnPila = 32;
  unsigned char* on_stack[kEnPila] = {};
  std::vector<unsigned char*> on_heap;
  if (count > kEnPila) on_heap.resize(count);
  unsigned char** buffers = count > kEnPila ? on_heap.data() : on_stack;
  // Whatever happens, the buffers go to the cache: as blocks for the bytes
  // read, back to its spares for the rest.
  struct HandBack {
    TEHDDCache* cache;
    const std::string& key;
    uint32_t start;
    unsigned char** buffers;
    uint32_t count;
    uint32_t got = 0;
    ~HandBack() { cache->GuardarBloques(key, start, buffers, count, got); }
  } hand_back{cache, file.path, static_cast<uint32_t>(start), buffers, count};
  cache->BuffersNuevos(buffers, count);
  hand_back.got =
      local_store_.LeerBloquesEn(TDestinoLectura{buffers, count, kBloque}, start, &file);
  *whole = hand_back.got == bytes;
  return hand_back.got > 0;
}

uint32_t TEHDDClient::Leer(void* buffer, uint32_t item_size, uint32_t count, TFicheroEHDD* handle) {
  std::shared_ptr<TFicheroEHDD> file = FindOpenFile(handle);
  if (!file || file->mode != 0 || buffer == nullptr) return 0;
  if (file->offset >= file->length) return 0;
  const uint64_t asked = static_cast<uint64_t>(item_size) * count;
  const uint64_t remaining = file->length - file->offset;
  const uint32_t want = static_cast<uint32_t>(std::min(asked, remaining));
  if (want == 0) return 0;
  auto* out = static_cast<unsigned char*>(buffer);

  if (file->kind == ehdd_kind::kLocalPlano) {
    uint32_t got = ehdd_local::ReadAt(file->path, file->offset, out, want);
    file->offset += got;
    return got;
  }

  // A small read inside the block this handle read last needs no look-up.
  const uint64_t block_index = file->offset / kBloque;
  const uint32_t in_block = static_cast<uint32_t>(file->offset % kBloque);
  if (file->bloque_indice == static_cast<int64_t>(block_index) &&
      in_block + want <= file->bloque.size()) {
    std::memcpy(out, file->bloque.data() + in_block, want);
    file->offset += want;
    return want;
  }

  TEHDDCache* cache = TEHDDCache::Instance();
  // Fetching can push blocks of the same range out of a small cache (the
  // memory level alone holds 16), so a read that copied less goes round
  // again from where it stopped, as long as it makes progress.
  // Each round covers at most 16 blocks, what the memory level can hold.
  constexpr uint32_t kMaxRound = 15 * kBloque;
  uint32_t copied = 0;
  // A request that fails throws with the offset where the read began, even
  // when earlier rounds had moved it on.
  struct OffsetGuard {
    TFicheroEHDD& file;
    uint64_t start;
    bool done = false;
    ~OffsetGuard() {
      if (!done) file.offset = start;
    }
  } offset_guard{*file, file->offset};
  // The ranges of one thread's reads, kept so a read costs no allocation.
  struct Rangos;
  ScratchDeHilo<std::vector<TRangoCache>, Rangos> scratch;
  std::vector<TRangoCache>& entries = scratch.Objeto();
  for (int idle = 0; copied < want && idle < 2;) {
    const uint32_t offset = static_cast<uint32_t>(file->offset);
    const uint32_t chunk = std::min(want - copied, kMaxRound);
    entries.clear();
    uint32_t first_missing = 0;
    uint32_t missing = CountMissing(
        cache->ComprobarRango(file->path, entries, offset, chunk, first_missing), entries);
    // The blocks the round starts with are copied out before others are
    // fetched: fetching may push them out of the memory level.
    if (missing > 0) {
      const size_t at = cache->PrimerAusente(entries);
      if (at > 0 && at < entries.size() && entries[at].posicion > offset) {
        const uint32_t got =
            cache->LeerRango(file->path, offset, entries[at].posicion - offset, entries, out + copied);
        file->offset += got;
        copied += got;
        idle = got == 0 ? idle + 1 : 0;
        continue;
      }
    }
    // Fetch from the first absent block while blocks are missing and each
    // round brings some in.
    while (missing > 0) {
      const size_t at = cache->PrimerAusente(entries);
      if (at >= entries.size()) break;
      const uint32_t blocks = std::max(read_ahead_, missing);
      bool whole = false;
      const bool servidor = file->kind == ehdd_kind::kServidor;
      // What was read ahead is taken in (and the next range goes out);
      // else the blocks are fetched now.
      if (!servidor || !TomarAdelantada(*file, entries[at].posicion)) {
        if (!FetchBlocks(*file, entries[at].posicion, blocks, &whole)) break;
        // A file read on from where it was: the range that follows is asked
        // for while the caller works on this one.
        if (servidor) Adelantar(*file, entries[at].posicion + static_cast<uint64_t>(blocks) * kBloque);
      }
      // A local store gave every block asked for, which covers every block
      // still missing: no need to look again (should a block of the range
      // have been pushed out meanwhile, the copy below stops there and the
      // read goes round again).
      if (whole) break;
      entries.clear();
      uint32_t now_missing = CountMissing(
          cache->ComprobarRango(file->path, entries, offset, chunk, first_missing), entries);
      if (now_missing >= missing) break;
      missing = now_missing;
    }
    const uint32_t got = cache->LeerRango(file->path, offset, chunk, entries, out + copied);
    file->offset += got;
    copied += got;
    idle = got == 0 ? idle + 1 : 0;
  }
  offset_guard.done = true;

  // Keep the whole block of a small read for the reads that follow it
  // (none follow one that reached the end).
  if (copied == want && want < kBloque && file->offset < file->length) {
    const uint64_t block_start = block_index * kBloque;
    const uint32_t block_length =
        static_cast<uint32_t>(std::min<uint64_t>(kBloque, file->length - block_start));
    std::vector<TRangoCache>& block_entries = entries;
    block_entries.clear();
    uint32_t block_missing_first = 0;
    if (cache->ComprobarRango(file->path, block_entries, static_cast<uint32_t>(block_start),
                              block_length, block_missing_first) == 0) {
      file->bloque.resize(block_length);
      if (cache->LeerRango(file->path, static_cast<uint32_t>(block_start), block_length,
                           block_entries, file->bloque.data()) == block_length) {
        file->bloque_indice = static_cast<int64_t>(block_index);
      } else {
        file->bloque_indice = -1;
      }
    }
  }
  return copied;
}

uint32_t TEHDDClient::Escribir(const void* data, uint32_t size, TFicheroEHDD* handle) {
  std::shared_ptr<TFicheroEHDD> file = FindOpenFile(handle);
  if (!file || (file->mode != 1 && file->mode != 2)) return 0;
  if (size > 0 && data == nullptr) return 0;
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (file->kind != ehdd_kind::kServidor) {
    uint32_t written = ehdd_local::WriteAt(file->path, file->offset, bytes, size);
    file->offset += written;
    return written;
  }
  std::shared_ptr<TEHDDWriteBuffer> buffer = FindWriteBuffer(file->fileId);
  if (!buffer) return 0;
  buffer->Append(bytes, size);  // a flush waits for the server without the buffer lock
  return size;
}

std::shared_ptr<TEHDDWriteBuffer> TEHDDClient::FindWriteBuffer(const std::string& file_id) {
  CriticalSectionGuard guard(buffer_lock_);
  auto it = write_buffers_.find(file_id);
  return it == write_buffers_.end() ? nullptr : it->second;
}

int32_t TEHDDClient::Posicionar(TFicheroEHDD* handle, uint32_t position, uint16_t whence) {
  std::shared_ptr<TFicheroEHDD> file = FindOpenFile(handle);
  if (!file) return 0;
  if (file->kind == ehdd_kind::kServidor && file->mode != 0) {
    // Bytes waiting in the write buffer belong at the offset they were
    // written at: send them before the offset moves.
    if (std::shared_ptr<TEHDDWriteBuffer> buffer = FindWriteBuffer(file->fileId)) {
      buffer->FlushIfFilled();
    }
  }
  switch (whence) {
    case 0:
      if (position > file->length) return -1;
      file->offset = position;
      break;
    case 1:
      if (file->offset + position > file->length) return -1;
      file->offset += position;
      break;
    case 2:
      if (position > file->length) return -1;
      file->offset = file->length - position;
      break;
    default:
      break;
  }
  return 0;
}

uint32_t TEHDDClient::Posicion(TFicheroEHDD* handle) {
  std::shared_ptr<TFicheroEHDD> file = FindOpenFile(handle);
  return file ? static_cast<uint32_t>(file->offset) : 0;
}

void TEHDDClient::Size(TFicheroEHDD* handle, uint32_t& length, uint32_t& remaining) {
  std::shared_ptr<TFicheroEHDD> file = FindOpenFile(handle);
  if (!file) {
    length = 0;
    remaining = 0;
    return;
  }
  length = file->length;
  remaining = file->offset >= file->length ? 0 : static_cast<uint32_t>(file->length - file->offset);
}

void TEHDDClient::Cerrar(TFicheroEHDD* handle) {
  std::shared_ptr<TFicheroEHDD> file = FindOpenFile(handle);
  if (!file) return;
  if (file->kind == ehdd_kind::kServidor) {
    file->adelantada.reset();  // the client keeps it until its answer is in
    bool send_close = true;
    if (file->mode == 0) {
      CriticalSectionGuard guard(buffer_lock_);
      if (complete_files_.count(file->fileId)) {
        send_close = false;
      } else if (file->length != 0 &&
                 TEHDDCache::Instance()->BytesEnCache(file->path) >= file->length &&
                 MayBeComplete(file->path)) {
        complete_files_[file->fileId] = {file->length, 1};
      }
    } else if (std::shared_ptr<TEHDDWriteBuffer> buffer = FindWriteBuffer(file->fileId)) {
      buffer->Flush();  // throws on a lost connection: the file and its buffer stay
      CriticalSectionGuard guard(buffer_lock_);
      auto it = write_buffers_.find(file->fileId);
      if (it != write_buffers_.end() && it->second == buffer) write_buffers_.erase(it);
    }
    if (send_close) CerrarSinEsperar(file->fileId);
  }
  CriticalSectionGuard guard(mount_lock_);
  open_files_.erase(handle);
}

void TEHDDClient::MakeLocalDirectories(const std::string& root, const std::string& target) {
  std::string path = ehdd_local::ToLocalPath(target);
  if (ehdd_local::HasParentComponent(path)) return;
  std::string prefix = root;
  TTokenizer components(path, '/');
  while (components.HasMore()) {
    prefix += components.Next();
    ehdd_local::MakeDirectory(prefix);
    prefix += '/';
  }
}

void TEHDDClient::CrearDirectorio(const char* text, char letter) {
  std::string mount;
  bool local = false;
  std::string root;
  {
    CriticalSectionGuard guard(mount_lock_);
    auto it = mount_table_.find(letter);
    if (it == mount_table_.end() || container_flags_[letter]) return;
    mount = it->second;
    local = local_letters_.count(letter) > 0;
    root = local_store_.root();
  }
  const std::string target = mount + (text ? text : "");
  if (local) {
    MakeLocalDirectories(root, target);
    return;
  }
  std::string command;
  if (!ehdd_protocol::Comando({{"CM", "MD"}, {"FN", target}, {"IS", session_id_}}, command)) return;
  TEHDDReply reply;
  Enviar(command, nullptr, 0, nullptr, 0, reply);
}

std::string TEHDDClient::SyncLocalName(const std::string& path) const {
  std::string folder = sync_folder_;
  if (folder.empty()) {
    folder = platform::TempFolder();
    if (folder.empty()) return "";
    folder += "eHDD/";
  } else if (folder.back() != '/') {
    folder += '/';
  }
  // The learner's audit passes through this folder: it must be the user's
  // own, so nobody else can plant a file or a link in it.
  if (!platform::PrivateFolder(folder)) return "";
  std::string name;
  if (path.size() > 8) {
    name = path.substr(8);
  } else {
    size_t cut = path.find_last_of("\\/:");
    name = cut == std::string::npos ? path : path.substr(cut + 1);
  }
  name = ehdd_local::ToLocalPath(name);
  if (name.empty() || ehdd_local::HasParentComponent(name)) return "";
  return folder + name;
}

namespace {

// The local copy being written: a new temporary file beside it that takes
// its name only once every byte is on disk, so a copy cut short (a lost
// connection, a full disk) leaves the earlier copy whole.
class CopiaLocal {
 public:
  explicit CopiaLocal(const std::string& path)
      : ops_(platform::CurrentFileOps()), path_(path), temporary_(path + ".XXXXXX") {
    fd_ = ops_.open_temporary(temporary_);
  }
  ~CopiaLocal() {
    if (fd_ >= 0) ops_.close(fd_);
    if (fd_ >= 0 || !done_) ops_.unlink(temporary_);
  }
  CopiaLocal(const CopiaLocal&) = delete;
  CopiaLocal& operator=(const CopiaLocal&) = delete;

  bool open() const { return fd_ >= 0; }
  bool Write(const unsigned char* data, size_t n) {
    size_t done = 0;
    while (done < n) {
      ssize_t put = ops_.write_at(fd_, data + done, n - done, written_ + static_cast<off_t>(done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += static_cast<size_t>(put);
    }
    written_ += static_cast<off_t>(n);
    return true;
  }
  // Flushes the copy, gives it its name and flushes the folder.
  bool Commit() {
    bool ok = ops_.chmod(fd_, 0600) == 0 && ops_.fsync(fd_) == 0;
    ok = ops_.close(fd_) == 0 && ok;
    fd_ = -1;
    if (!ok || ops_.rename(temporary_, path_) != 0) return false;
    done_ = true;
    return ops_.fsync_folder(platform::FolderOf(path_)) == 0;
  }

 private:
  const platform::FileOps& ops_;
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  off_t written_ = 0;
  bool done_ = false;
};

}  // namespace

void TEHDDClient::SyncTempFile(const char* path_text) {
  if (path_text == nullptr) return;
  const std::string local_name = SyncLocalName(path_text);
  if (local_name.empty()) return;
  std::vector<unsigned char> chunk(kTrozoCopia + 1);

  if (TFicheroEHDD* store = Abrir(path_text, 0)) {
    // The store has the file: copy it down.
    struct Closer {
      TEHDDClient* client;
      TFicheroEHDD* file;
      ~Closer() {
        try {
          client->Cerrar(file);
        } catch (...) {
        }
      }
    } closer{this, store};
    CopiaLocal out(local_name);
    if (!out.open()) return;
    uint32_t length = 0;
    uint32_t remaining = 0;
    Size(store, length, remaining);
    while (remaining > 0) {
      // A lost connection throws out of here; the temporary goes with it.
      uint32_t got = Leer(chunk.data(), 1, std::min(remaining, kTrozoCopia), store);
      if (got == 0 || !out.Write(chunk.data(), got)) return;  // short: the old copy stays
      Size(store, length, remaining);
    }
    out.Commit();
    return;
  }

  // Otherwise copy the local file up; without a local file the store is
  // left as it is. A link in its place is not followed.
  int in = open(local_name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return;
  struct InCloser {
    int fd;
    ~InCloser() { close(fd); }
  } in_closer{in};
  struct stat st {};
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) return;
  TFicheroEHDD* store = Crear(path_text);
  if (store == nullptr) return;
  for (;;) {
    ssize_t got = read(in, chunk.data(), kTrozoCopia);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    Escribir(chunk.data(), static_cast<uint32_t>(got), store);
  }
  Cerrar(store);
}

bool TEHDDClient::ReportMissingImage(const char* /*path*/, const char* /*tag*/) {
  // A missing or unreadable picture would be reported from here; the
  // loaders already fall back to null or a placeholder, so nothing is sent.
  return true;
}
