#include "ehdd/TCacheVolumenes.h"

#include <algorithm>
#include <ctime>
#include <new>

#include "base/Checksums.h"

namespace {

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

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
  volume_key = UniqueKey(volumenes_, path, [&](const Volumen& v) { return v.path == path; });
  auto it = volumenes_.find(volume_key);
  if (it != volumenes_.end()) {
    it->second.ultimo_uso = Now();
    return true;
  }
  auto volumen = std::make_unique<TVolumen>();
  if (!volumen->Abrir(path)) {
    volumen->Cerrar();
    return false;
  }
  volumenes_[volume_key] = Volumen{path, std::move(volumen), Now()};
  return true;
}

bool TCacheVolumenes::AbrirFichero(const std::string& volume_key, const std::string& whole_name,
                                   const std::string& inner_path, std::string& file_key,
                                   int64_t* size) {
  CriticalSectionGuard guard(lock_);
  auto volume = volumenes_.find(volume_key);
  if (volume == volumenes_.end()) return false;
  file_key = UniqueKey(ficheros_, whole_name, [&](const Fichero& f) {
    return f.whole_name == whole_name && f.volume_key == volume_key;
  });
  volume->second.ultimo_uso = Now();
  auto known = ficheros_.find(file_key);
  if (known != ficheros_.end()) {
    known->second.ultimo_uso = Now();
    if (size) *size = known->second.size;
    return known->second.size >= 0;
  }
  TVolumen& v = *volume->second.volumen;
  TFicheroVolumen record = v.AbrirFichero(inner_path, "r", kPropietario);
  int64_t s = v.Size(record);
  v.CerrarFichero(record);
  if (size) *size = s;
  if (s == 0) return true;  // exists and is empty; not remembered
  if (s < 0 && v.ultimo_error() == TVolumen::Error::kDanado) return false;  // may read later
  ficheros_[file_key] = Fichero{Now(), 1, whole_name, inner_path, volume_key, s};
  return s > 0;
}

bool TCacheVolumenes::LeerFichero(const std::string& file_key, uint32_t& count,
                                  std::unique_ptr<unsigned char[]>& buffer, int64_t offset,
                                  uint32_t length, bool from_end) {
  CriticalSectionGuard guard(lock_);
  count = 0;
  auto file = ficheros_.find(file_key);
  if (file == ficheros_.end() || file->second.size < 0) return false;
  auto volume = volumenes_.find(file->second.volume_key);
  if (volume == volumenes_.end()) return false;
  volume->second.ultimo_uso = Now();
  // Never more than the file holds past the offset.
  const int64_t start = from_end ? file->second.size + offset : offset;
  if (start < 0 || start > file->second.size) return true;
  length = static_cast<uint32_t>(std::min<int64_t>(length, file->second.size - start));
  buffer.reset(new (std::nothrow) unsigned char[length > 0 ? length : 1]);
  if (!buffer) return true;
  TVolumen& v = *volume->second.volumen;
  TFicheroVolumen record = v.AbrirFichero(file->second.inner_path, "r", kPropietario);
  int64_t got = -1;
  if (v.Posicionar(record, offset, from_end ? 2 : 0) >= 0) got = v.Leer(record, buffer.get(), length);
  v.CerrarFichero(record);
  count = got > 0 ? static_cast<uint32_t>(got) : 0;
  return true;
}
