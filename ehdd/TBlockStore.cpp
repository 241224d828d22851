#include "ehdd/TBlockStore.h"

TBloqueCache* TBlockStore::Put(const std::string& name, unsigned char* data, uint32_t length,
                               bool replace) {
  if (TBloqueCache* held = Lookup(name)) {
    if (!replace) {
      delete[] data;  // not stored: the caller handed it over
      return Get(name);
    }
    FreeData(held);
    Remove(name);
  }
  return Insert(name, data, length, true);
}

std::string TBlockStore::NombreBloque(uint32_t index, std::string_view key) {
  char digits[16];
  char* end = digits + sizeof digits;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + index % 10);
    index /= 10;
  } while (index != 0);
  std::string name;
  name.reserve(static_cast<size_t>(end - p) + 1 + key.size());
  name.append(p, end);
  name += '_';
  name.append(key);
  return name;
}

bool TBlockStore::PartirNombre(std::string_view name, uint32_t& index, std::string_view& key) {
  index = 0;
  key = {};
  const size_t cut = name.find('_');
  if (cut == std::string_view::npos || cut == 0 || cut > 10) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < cut; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    value = value * 10 + static_cast<uint64_t>(name[i] - '0');
  }
  if (value > UINT32_MAX) return false;
  index = static_cast<uint32_t>(value);
  key = name.substr(cut + 1);
  return true;
}

bool TBlockStore::PartirNombre(const std::string& name, uint32_t& index, std::string& key) {
  std::string_view view;
  const bool ok = PartirNombre(std::string_view(name), index, view);
  key.assign(view);
  return ok;
}
