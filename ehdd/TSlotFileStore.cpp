#include "ehdd/TSlotFileStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <zlib.h>

#include "platform/FileIo.h"
#include "platform/TempFolder.h"

namespace {

uint32_t GetU32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutU32(unsigned char* p, uint32_t v) {
  p[0] = v & 0xFF;
  p[1] = (v >> 8) & 0xFF;
  p[2] = (v >> 16) & 0xFF;
  p[3] = (v >> 24) & 0xFF;
}

// Appends `count` blank records from record `from` on.
bool AppendBlank(int fd, uint32_t from, uint32_t count) {
  constexpr uint32_t kBatch = 64;
  std::vector<unsigned char> blank(TSlotFileStore::kRegistro * kBatch, 0);
  for (uint32_t i = 0; i < kBatch; ++i) {
    std::memset(blank.data() + i * TSlotFileStore::kRegistro + TSlotFileStore::kClave + 4, 0x45,
                TSlotFileStore::kDatos);
  }
  for (uint32_t done = 0; done < count;) {
    uint32_t n = std::min(kBatch, count - done);
    off_t at = 4 + static_cast<off_t>(from + done) * TSlotFileStore::kRegistro;
    if (!platform::WriteFullyAt(fd, blank.data(),
                                static_cast<size_t>(n) * TSlotFileStore::kRegistro, at))
      return false;
    done += n;
  }
  return true;
}

}  // namespace

TSlotFileStore::TSlotFileStore() : buffer_(kDatos) {}

TSlotFileStore::~TSlotFileStore() {
  Cerrar();
}

void TSlotFileStore::Cerrar() {
  if (view_ != nullptr) munmap(view_, view_size_);
  view_ = nullptr;
  if (fd_ >= 0) close(fd_);  // also drops the lock
  fd_ = -1;
  index_by_key_.clear();
  records_ = 0;
  ring_ = 0;
}

bool TSlotFileStore::CrearFicheroSlots(const std::string& name, uint32_t records,
                                       const std::string& folder_given) {
  Cerrar();
  if (records == 0) return false;
  std::string folder = folder_given;
  if (folder.empty()) {
    folder = platform::TempFolder();
    if (folder.empty()) return false;
    folder += "eHDD";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (!platform::PrivateFolder(folder)) return false;
  const size_t cut = name.find_last_of("\\/");
  const std::string base = cut == std::string::npos ? name : name.substr(cut + 1);
  if (base.empty() || base == "." || base == "..") return false;
  path_ = folder + "/" + base;

  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0) return false;
  // One process at a time: a second one runs on its memory level.
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    Cerrar();
    return false;
  }
  struct stat st {};
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    Cerrar();
    return false;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  uint64_t have = size >= 4 ? (size - 4) / kRegistro : 0;
  if (size < 4 || have == 0) {
    // Too short to hold one record: start a new file.
    unsigned char zero[4] = {};
    if (ftruncate(fd_, 0) != 0 || !platform::WriteFullyAt(fd_, zero, 4, 0)) {
      Cerrar();
      return false;
    }
    have = 0;
  } else if (size != 4 + have * kRegistro) {
    // A partial record at the end (a write cut short): cut it off.
    if (ftruncate(fd_, static_cast<off_t>(4 + have * kRegistro)) != 0) {
      Cerrar();
      return false;
    }
  }
  if (have > UINT32_MAX / 2) {
    Cerrar();
    return false;
  }
  if (have < records) {
    if (!AppendBlank(fd_, static_cast<uint32_t>(have), records - static_cast<uint32_t>(have))) {
      Cerrar();
      return false;
    }
    have = records;
  }
  records_ = static_cast<uint32_t>(have);
  view_size_ = 4 + static_cast<size_t>(records_) * kRegistro;
  void* view = mmap(nullptr, view_size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (view == MAP_FAILED) {
    view_ = nullptr;
    Cerrar();
    return false;
  }
  view_ = static_cast<unsigned char*>(view);
  ring_ = GetU32(view_);
  if (ring_ >= records_) {
    ring_ = 0;
    WriteRing();
  }
  for (uint32_t r = 0; r < records_; ++r) {
    unsigned char* rec = Registro(r);
    if (rec[0] == 0) continue;
    // Only a whole record is trusted: its key ends before the CRC and the
    // CRC matches. Anything else is freed, and its block fetched again.
    const void* end = std::memchr(rec, 0, kSuma);
    const size_t key_length = end ? static_cast<const unsigned char*>(end) - rec : 0;
    if (end == nullptr || GetU32(rec + kSuma) != Suma(rec, key_length, rec)) {
      std::memset(rec, 0, kClave);
      continue;
    }
    const std::string key(reinterpret_cast<const char*>(rec), key_length);
    index_by_key_[key][GetU32(rec + kClave)] = r;
  }
  return true;
}

uint32_t TSlotFileStore::Suma(const unsigned char* key, size_t key_length,
                              const unsigned char* rec) {
  uLong crc = crc32(0L, key, static_cast<uInt>(key_length));
  crc = crc32(crc, rec + kClave, 4 + kDatos);  // the index and the data, which follow it
  return static_cast<uint32_t>(crc);
}

void TSlotFileStore::WriteRing() {
  PutU32(view_, ring_);
}

bool TSlotFileStore::Exists(const std::string& name) {
  uint32_t index = 0;
  std::string_view key;
  return view_ != nullptr && PartirNombre(std::string_view(name), index, key) && Existe(index, key);
}

bool TSlotFileStore::Existe(uint32_t index, std::string_view key) const {
  if (view_ == nullptr) return false;
  auto it = index_by_key_.find(key);
  return it != index_by_key_.end() && it->second.count(index) > 0;
}

TBloqueCache* TSlotFileStore::Insert(const std::string& name, unsigned char* data, uint32_t length,
                                     bool /*write_back*/) {
  uint32_t index = 0;
  std::string_view key;
  if (view_ == nullptr || data == nullptr || !PartirNombre(std::string_view(name), index, key) ||
      key.empty()) {
    return nullptr;
  }
  // A key that does not fit its field is never stored: cut, it could
  // match another file's key later.
  if (key.size() > kMaxClave) return nullptr;

  uint32_t r;
  auto known = index_by_key_.find(key);
  if (known == index_by_key_.end())
    known = index_by_key_.emplace(std::string(key), std::map<uint32_t, uint32_t>{}).first;
  auto& per_key = known->second;
  auto held = per_key.find(index);
  if (held != per_key.end()) {
    r = held->second;
    // The record holds these very bytes already (a block read back from it
    // and written out again): it stands as it is, its checksum still right.
    unsigned char* same = Registro(r) + kClave + 4;
    if (length >= kDatos && std::memcmp(same, data, kDatos) == 0) {
      block_.nombre = name;
      block_.datos = same;
      block_.longitud = kDatos;
      return &block_;
    }
  } else {
    r = ring_;
    unsigned char* old = Registro(r);
    if (old[0] != 0) {
      const std::string_view old_key(reinterpret_cast<const char*>(old),
                                     strnlen(reinterpret_cast<const char*>(old), kSuma));
      auto old_it = index_by_key_.find(old_key);
      if (old_it != index_by_key_.end()) {
        old_it->second.erase(GetU32(old + kClave));
        if (old_it->second.empty() && old_key != key) index_by_key_.erase(old_it);
      }
    }
    ring_ = (r + 1) % records_;
    WriteRing();
  }
  unsigned char* rec = Registro(r);
  // The key goes last: a record cut short when the process dies holds no
  // key and is never matched; one whose pages reached the disk apart fails
  // its CRC at the next open.
  rec[0] = 0;
  std::atomic_thread_fence(std::memory_order_release);
  PutU32(rec + kClave, index);
  const uint32_t n = length < kDatos ? length : kDatos;
  std::memcpy(rec + kClave + 4, data, n);
  if (n < kDatos) std::memset(rec + kClave + 4 + n, 0, kDatos - n);
  std::memset(rec + 1, 0, kSuma - 1);
  std::memcpy(rec + 1, key.data() + 1, key.size() - 1);
  PutU32(rec + kSuma, Suma(reinterpret_cast<const unsigned char*>(key.data()), key.size(), rec));
  std::atomic_thread_fence(std::memory_order_release);
  rec[0] = static_cast<unsigned char>(key[0]);
  per_key[index] = r;
  block_.nombre = name;
  block_.datos = rec + kClave + 4;
  block_.longitud = kDatos;
  return &block_;
}

TBloqueCache* TSlotFileStore::Lookup(const std::string& name) {
  uint32_t index = 0;
  std::string_view key;
  if (view_ == nullptr || !PartirNombre(std::string_view(name), index, key)) return nullptr;
  auto it = index_by_key_.find(key);
  if (it == index_by_key_.end()) return nullptr;
  auto rec = it->second.find(index);
  if (rec == it->second.end()) return nullptr;
  std::memcpy(buffer_.data(), Registro(rec->second) + kClave + 4, kDatos);
  block_.nombre = name;
  block_.datos = buffer_.data();
  block_.longitud = kDatos;
  return &block_;
}

bool TSlotFileStore::Clear() {
  auto text = index_.find("eHDD");
  if (text == index_.end() || view_ == nullptr) return false;
  auto it = index_by_key_.find(text->second);
  if (it == index_by_key_.end()) return true;
  for (const auto& [index, r] : it->second) {
    unsigned char* rec = Registro(r);
    rec[0] = 0;
    std::memset(rec, 0, kRegistro);
  }
  index_by_key_.erase(it);
  return true;
}

std::vector<uint32_t> TSlotFileStore::Indices(const std::string& key) const {
  std::vector<uint32_t> out;
  auto it = index_by_key_.find(key);
  if (it != index_by_key_.end()) {
    for (const auto& entry : it->second) out.push_back(entry.first);
  }
  return out;
}
