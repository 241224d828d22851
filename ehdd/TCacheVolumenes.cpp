#include "ehdd/TCacheVolumenes.h"

#include <algorithm>
#include <ctime>
#include <new>

#include "base/Checksums.h"

namespace {

int64_t Now() {
  return static_cast<int64_t>(std::time(nullptr));
}

// The cache key of a name is its CRC-32 and length. Two names can share
// one; the second then gets the first free key with a suffix, so a key
// always names one volume or one file.
template <typename Map, typename Same>
std::string UniqueKey(const Map& map, const std::string& name, Same same) {
  const std::string base = CacheName(name.c_str());
  std::string key = base;
  for (int n = 2;; ++n) {
    auto it = map.find(key);
    if (it == map.end() || same(it->second)) return key;
    key = base + "~" + std::to_string(n);
  }
}

}  // namespace

TCacheVolumenes* TCacheVolumenes::Instance() {
  static TCacheVolumenes instance;  // made once, also when two threads ask first
  return &instance;
}

bool TCacheVolumenes::AbrirVolumen(const std::string& path, std::string& volume_key) {
  CriticalSectionGuard guard(lock_);
  auto known = clave_de_volumen_.find(path);
  if (known != clave_de_volumen_.end()) {
    volume_key = known->second.first;
    known->second.second->ultimo_uso = Now();
    return true;
  }
  volume_key = UniqueKey(volumenes_, path, [&](const Volumen& v) { return v.path == path; });
  auto volumen = std::make_unique<TVolumen>();
  if (!volumen->Abrir(path)) {
    volumen->Cerrar();
    return false;
  }
  Volumen& entry = volumenes_[volume_key];
  entry = Volumen{path, std::move(volumen), Now()};
  clave_de_volumen_[path] = {volume_key, &entry};
  return true;
}

bool TCacheVolumenes::AbrirFichero(const std::string& volume_key, const std::string& whole_name,
                                   std::string_view inner_path_view, std::string& file_key,
                                   int64_t* size) {
  CriticalSectionGuard guard(lock_);
  auto volume = volumenes_.find(volume_key);
  if (volume == volumenes_.end()) return false;
  volume->second.ultimo_uso = Now();
  auto& worked_out = clave_de_fichero_[whole_name];
  auto same_volume =
      std::find_if(worked_out.begin(), worked_out.end(),
                   [&](const ClaveFichero& entry) { return entry.volume_key == volume_key; });
  if (same_volume != worked_out.end()) {
    file_key = same_volume->file_key;
    Fichero& known = *same_volume->fichero;
    known.ultimo_uso = Now();
    if (size) *size = known.size;
    return known.size >= 0;
  }
  file_key = UniqueKey(ficheros_, whole_name, [&](const Fichero& f) {
    return f.whole_name == whole_name && f.volume_key == volume_key;
  });
  auto known = ficheros_.find(file_key);
  if (known != ficheros_.end()) {
    known->second.ultimo_uso = Now();
    if (size) *size = known->second.size;
    worked_out.push_back({volume_key, file_key, &known->second});
    return known->second.size >= 0;
  }
  TVolumen& v = *volume->second.volumen;
  const std::string inner_path(inner_path_view);
  TFicheroVolumen record = v.AbrirFichero(inner_path, "r", kPropietario);
  int64_t s = v.Size(record);
  v.CerrarFichero(record);
  if (size) *size = s;
  if (s == 0) return true;  // exists and is empty; not remembered
  if (s < 0 && v.ultimo_error() == TVolumen::Error::kDanado) return false;  // may read later
  Fichero& entry = ficheros_[file_key];
  entry = Fichero{Now(),          1, whole_name,    inner_path,
                  volume_key,     s, record.bloque, record.nombre,
                  &volume->second};
  worked_out.push_back({volume_key, file_key, &entry});
  return s > 0;
}

bool TCacheVolumenes::Tramo(const std::string& file_key, int64_t offset, uint32_t& length,
                            bool from_end, Fichero*& file, TVolumen*& volumen, int64_t& start) {
  auto known = ficheros_.find(file_key);
  if (known == ficheros_.end() || known->second.size < 0 || known->second.volumen == nullptr) {
    return false;
  }
  known->second.volumen->ultimo_uso = Now();
  file = &known->second;
  volumen = file->volumen->volumen.get();
  // Never more than the file holds past the offset.
  start = from_end ? file->size + offset : offset;
  if (start < 0 || start > file->size) {
    start = -1;
    length = 0;
  } else {
    length = static_cast<uint32_t>(std::min<int64_t>(length, file->size - start));
  }
  return true;
}

template <typename Destino>
bool TCacheVolumenes::LeerCon(const std::string& file_key, uint32_t& count, int64_t offset,
                              uint32_t length, bool from_end, Destino&& destino_para) {
  CriticalSectionGuard guard(lock_);
  count = 0;
  Fichero* file = nullptr;
  TVolumen* volumen = nullptr;
  int64_t start = 0;
  if (!Tramo(file_key, offset, length, from_end, file, volumen, start)) return false;
  if (start < 0) return true;
  const TDestinoLectura* destino = destino_para(length);
  if (destino == nullptr) return true;
  const int64_t got = volumen->LeerMiembro(file->primer_bloque, file->nombre, kPropietario, start,
                                           length, *destino);
  count = got > 0 ? static_cast<uint32_t>(got) : 0;
  return true;
}

bool TCacheVolumenes::LeerFichero(const std::string& file_key, uint32_t& count,
                                  std::unique_ptr<unsigned char[]>& buffer, int64_t offset,
                                  uint32_t length, bool from_end) {
  unsigned char* piece = nullptr;
  TDestinoLectura destino;
  return LeerCon(file_key, count, offset, length, from_end,
                 [&](uint32_t n) -> const TDestinoLectura* {
                   buffer.reset(new (std::nothrow) unsigned char[n > 0 ? n : 1]);
                   if (!buffer) return nullptr;
                   piece = buffer.get();
                   destino = TDestinoLectura{&piece, 1, n > 0 ? n : 1};
                   return &destino;
                 });
}

bool TCacheVolumenes::LeerFicheroEn(const std::string& file_key, uint32_t& count,
                                    const TDestinoLectura& destino, int64_t offset, uint32_t length,
                                    bool from_end) {
  return LeerCon(file_key, count, offset, length, from_end, [&](uint32_t) { return &destino; });
}
