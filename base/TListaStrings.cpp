#include "base/TListaStrings.h"

#include <cstring>

#include "base/OSAL.h"
#include "ehdd/TEHDDClient.h"

namespace {

constexpr uint32_t kLecturaBytes = 4096;

}  // namespace

TListaStrings::~TListaStrings() {
  Clear();
  OSAL::Trace(kTraceModulos, "Terminado TListaStrings.");
}

bool TListaStrings::Add(const char* texto) {
  return Add(texto, texto != nullptr ? static_cast<uint32_t>(std::strlen(texto)) : 0);
}

bool TListaStrings::Add(const char* texto, uint32_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  return AddLocked(texto, length);
}

bool TListaStrings::AddLocked(const char* texto, uint32_t length) {
  if (items_.size() >= kMaxStrings) return false;
  char* copy = static_cast<char*>(OSAL::Malloc(static_cast<size_t>(length) + 1));
  if (copy == nullptr) return false;
  if (length > 0) std::memcpy(copy, texto, length);
  copy[length] = '\0';
  items_.push_back(copy);
  return true;
}

const char* TListaStrings::Item(uint16_t index) const {
  return index < items_.size() ? items_[index] : "";
}

int TListaStrings::CargarFichero(const char* path) {
  if (client_ == nullptr || path == nullptr) return -1;
  // Mode 0 reads; a write mode would truncate a plain local file.
  TFicheroEHDD* file = client_->Abrir(path, 0);
  if (file == nullptr) return -1;

  char line[kMaxLinea + 1];
  uint32_t length = 0;
  bool skip_next = false;  // the byte after a CR is dropped unread
  bool full = false;
  unsigned char chunk[kLecturaBytes];
  try {
    for (;;) {
      const uint32_t got = client_->Leer(chunk, 1, kLecturaBytes, file);
      if (got == 0) break;
      for (uint32_t i = 0; i < got && !full; ++i) {
        const unsigned char byte = chunk[i];
        if (skip_next) {
          skip_next = false;
          continue;
        }
        if (byte == 0x0D) {
          std::lock_guard<std::mutex> lock(mutex_);
          if (!AddLocked(line, length)) full = true;
          length = 0;
          skip_next = true;
          continue;
        }
        if (length < kMaxLinea) line[length++] = static_cast<char>(byte);
      }
      if (full) break;
    }
  } catch (...) {
    client_->Cerrar(file);
    throw;
  }
  if (!full && length > 0) Add(line, length);
  client_->Cerrar(file);
  return 0;
}

void TListaStrings::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  while (!items_.empty()) {
    OSAL::Free(items_.back());
    items_.pop_back();
  }
}

void TListaStrings::Vaciar() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (char* item : items_) OSAL::Free(item);
  std::vector<char*>().swap(items_);
}
