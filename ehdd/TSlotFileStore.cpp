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

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__)
// CRC-32 (reflected, 0xEDB88320) of `length` bytes, a multiple of 16 and at
// least 64, by folding with carry-less multiplies; `crc` and the result are
// not inverted. The constants are x^(k) mod P for the fold distances, then
// the Barrett reduction's P and floor(x^64 / P), all bit-reflected.
#define LECTORIA_PLEGADO __attribute__((target("pclmul,sse4.1")))
LECTORIA_PLEGADO inline __m128i Cargar(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
// acc folded over 128 bits onto next.
LECTORIA_PLEGADO inline __m128i Plegar(__m128i acc, __m128i next, __m128i k) {
  const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(hi, next), lo);
}

// The four 128-bit lanes folded so far (x1 the earliest) folded into one,
// then the 16-byte pieces that remain, then reduced to the CRC.
LECTORIA_PLEGADO uint32_t CrcFinal(__m128i x1, __m128i x2, __m128i x3, __m128i x4,
                                   const unsigned char* buf, size_t length) {
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  x1 = Plegar(x1, x2, k3k4);
  x1 = Plegar(x1, x3, k3k4);
  x1 = Plegar(x1, x4, k3k4);
  while (length >= 16) {
    x1 = Plegar(x1, Cargar(buf), k3k4);
    buf += 16;
    length -= 16;
  }
  // 128 bits to 64.
  const __m128i mask = _mm_setr_epi32(~0, 0, ~0, 0);
  __m128i x0 = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x0);
  x0 = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, mask);
  x1 = _mm_clmulepi64_si128(x1, k5k0, 0x00);
  x1 = _mm_xor_si128(x1, x0);
  // Barrett reduction to 32 bits.
  x0 = _mm_and_si128(x1, mask);
  x0 = _mm_clmulepi64_si128(x0, poly, 0x10);
  x0 = _mm_and_si128(x0, mask);
  x0 = _mm_clmulepi64_si128(x0, poly, 0x00);
  x1 = _mm_xor_si128(x1, x0);
  return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

LECTORIA_PLEGADO uint32_t CrcPlegado(uint32_t crc, const unsigned char* buf, size_t length) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  __m128i x1 = Cargar(buf);
  __m128i x2 = Cargar(buf + 16);
  __m128i x3 = Cargar(buf + 32);
  __m128i x4 = Cargar(buf + 48);
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
  buf += 64;
  length -= 64;
  while (length >= 64) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, k1k2, 0x00);
    const __m128i x6 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
    const __m128i x7 = _mm_clmulepi64_si128(x3, k1k2, 0x00);
    const __m128i x8 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k1k2, 0x11), x5), Cargar(buf));
    x2 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x2, k1k2, 0x11), x6), Cargar(buf + 16));
    x3 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x3, k1k2, 0x11), x7), Cargar(buf + 32));
    x4 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x4, k1k2, 0x11), x8), Cargar(buf + 48));
    buf += 64;
    length -= 64;
  }
  return CrcFinal(x1, x2, x3, x4, buf, length);
}

bool HayPlegado() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

// The same, 256 bytes a turn in four 512-bit lanes of four 128-bit folds
// each: `length` a multiple of 16 and at least 256.
#define LECTORIA_PLEGADO_512 __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))
LECTORIA_PLEGADO_512 inline __m512i Plegar512(__m512i acc, __m512i next, __m512i k) {
  const __m512i lo = _mm512_clmulepi64_epi128(acc, k, 0x00);
  const __m512i hi = _mm512_clmulepi64_epi128(acc, k, 0x11);
  return _mm512_ternarylogic_epi64(lo, hi, next, 0x96);  // lo ^ hi ^ next
}

// With kCopia, every byte summed is also copied to `dst`.
template <bool kCopia>
LECTORIA_PLEGADO_512 uint32_t CrcPlegado512(uint32_t crc, const unsigned char* buf, size_t length,
                                            unsigned char* dst) {
  // Fold distances of 2048 bits (a lane to the same lane one turn on) and
  // of 512 bits (one lane onto the next).
  const __m512i k2048 = _mm512_broadcast_i32x4(_mm_set_epi64x(0x01322d1430, 0x011542778a));
  const __m512i k512 = _mm512_broadcast_i32x4(_mm_set_epi64x(0x01c6e41596, 0x0154442bd4));
  auto load = [&](size_t at) LECTORIA_PLEGADO_512 {
    const __m512i v = _mm512_loadu_si512(buf + at);
    if constexpr (kCopia) _mm512_storeu_si512(dst + at, v);
    return v;
  };
  __m512i a0 = load(0);
  __m512i a1 = load(64);
  __m512i a2 = load(128);
  __m512i a3 = load(192);
  a0 = _mm512_xor_si512(a0, _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
  size_t at = 256;
  for (; length - at >= 256; at += 256) {
    a0 = Plegar512(a0, load(at), k2048);
    a1 = Plegar512(a1, load(at + 64), k2048);
    a2 = Plegar512(a2, load(at + 128), k2048);
    a3 = Plegar512(a3, load(at + 192), k2048);
  }
  __m512i a = Plegar512(a0, a1, k512);
  a = Plegar512(a, a2, k512);
  a = Plegar512(a, a3, k512);
  for (; length - at >= 64; at += 64) a = Plegar512(a, load(at), k512);
  if constexpr (kCopia) std::memcpy(dst + at, buf + at, length - at);
  return CrcFinal(_mm512_extracti32x4_epi32(a, 0), _mm512_extracti32x4_epi32(a, 1),
                  _mm512_extracti32x4_epi32(a, 2), _mm512_extracti32x4_epi32(a, 3), buf + at,
                  length - at);
}

bool HayPlegado512() {
  static const bool has =
      HayPlegado() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
  return has;
}
#endif

// CRC-32 a byte at a time, for the short pieces: the table of zlib's CRC.
struct TablaCrc {
  uint32_t t[256] = {};
  constexpr TablaCrc() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
  }
};
constexpr TablaCrc kTablaCrc;

uint32_t CrcCorto(uint32_t crc, const unsigned char* data, size_t length) {
  crc = ~crc;
  for (size_t i = 0; i < length; ++i) crc = kTablaCrc.t[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace

uint32_t TSlotFileStore::Crc32(uint32_t crc, const unsigned char* data, size_t length) {
#if defined(__x86_64__)
  if (length >= 64 && HayPlegado()) {
    const size_t folded = length & ~static_cast<size_t>(15);
    crc = folded >= 256 && HayPlegado512() ? ~CrcPlegado512<false>(~crc, data, folded, nullptr)
                                           : ~CrcPlegado(~crc, data, folded);
    data += folded;
    length -= folded;
  }
#endif
  if (length < 64) return CrcCorto(crc, data, length);
  return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(length)));
}

TSlotFileStore::TSlotFileStore() = default;

TSlotFileStore::~TSlotFileStore() {
  Cerrar();
}

void TSlotFileStore::Cerrar() {
  if (view_ != nullptr) munmap(view_, view_size_);
  view_ = nullptr;
  if (fd_ >= 0) close(fd_);  // also drops the lock
  fd_ = -1;
  index_by_key_.clear();
  verificado_.clear();
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
  verificado_.assign(records_, 0);
  for (uint32_t r = 0; r < records_; ++r) {
    unsigned char* rec = Registro(r);
    if (rec[0] == 0) continue;
    // A key must end before the CRC; a record whose key does not is freed
    // now. The CRC itself is checked when the block is first asked for.
    const void* end = std::memchr(rec, 0, kSuma);
    if (end == nullptr) {
      std::memset(rec, 0, kClave);
      continue;
    }
    const size_t key_length = static_cast<const unsigned char*>(end) - rec;
    index_by_key_[std::string(reinterpret_cast<const char*>(rec), key_length)]
                 [GetU32(rec + kClave)] = r;
  }
  return true;
}

bool TSlotFileStore::Verificado(uint32_t r, std::string_view key) {
  if (verificado_[r] != 0) return true;
  unsigned char* rec = Registro(r);
  if (GetU32(rec + kSuma) == Suma(key, rec)) {
    verificado_[r] = 1;
    return true;
  }
  // Only a whole record is trusted: this one is freed, and its block
  // fetched again.
  auto it = index_by_key_.find(key);
  if (it != index_by_key_.end()) {
    it->second.erase(GetU32(rec + kClave));
    if (it->second.empty()) index_by_key_.erase(it);
  }
  std::memset(rec, 0, kClave);
  return false;
}

uint32_t TSlotFileStore::Crc32Copiando(uint32_t crc, unsigned char* dst, const unsigned char* src,
                                       size_t length) {
#if defined(__x86_64__)
  if (length >= 256 && HayPlegado512()) {
    const size_t folded = length & ~static_cast<size_t>(15);
    crc = ~CrcPlegado512<true>(~crc, src, folded, dst);
    std::memcpy(dst + folded, src + folded, length - folded);
    return Crc32(crc, src + folded, length - folded);
  }
#endif
  std::memcpy(dst, src, length);
  return Crc32(crc, dst, length);
}

uint32_t TSlotFileStore::Suma(std::string_view key, unsigned char* rec, const unsigned char* data) {
  if (key != clave_sumada_) {
    clave_sumada_.assign(key);
    suma_clave_ = Crc32(0, reinterpret_cast<const unsigned char*>(key.data()), key.size());
  }
  // Then the index and the data, which follow the key field.
  const uint32_t crc = Crc32(suma_clave_, rec + kClave, 4);
  if (data == nullptr) return Crc32(crc, rec + kClave + 4, kDatos);
  return Crc32Copiando(crc, rec + kClave + 4, data, kDatos);
}

void TSlotFileStore::WriteRing() {
  PutU32(view_, ring_);
}

bool TSlotFileStore::Exists(const std::string& name) {
  uint32_t index = 0;
  std::string_view key;
  return view_ != nullptr && PartirNombre(std::string_view(name), index, key) && Existe(index, key);
}

bool TSlotFileStore::Existe(uint32_t index, std::string_view key) {
  if (view_ == nullptr) return false;
  auto it = index_by_key_.find(key);
  if (it == index_by_key_.end()) return false;
  auto rec = it->second.find(index);
  return rec != it->second.end() && Verificado(rec->second, key);
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
    // One never checked is written again, which makes its CRC right.
    unsigned char* same = Registro(r) + kClave + 4;
    if (verificado_[r] != 0 && length >= kDatos && std::memcmp(same, data, kDatos) == 0) {
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
  if (n < kDatos) {
    std::memcpy(rec + kClave + 4, data, n);
    std::memset(rec + kClave + 4 + n, 0, kDatos - n);
  }
  std::memset(rec + 1, 0, kSuma - 1);
  std::memcpy(rec + 1, key.data() + 1, key.size() - 1);
  // A whole block is copied in as it is summed.
  PutU32(rec + kSuma, Suma(key, rec, n == kDatos ? data : nullptr));
  std::atomic_thread_fence(std::memory_order_release);
  rec[0] = static_cast<unsigned char>(key[0]);
  verificado_[r] = 1;
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
  if (rec == it->second.end() || !Verificado(rec->second, key)) return nullptr;
  block_.nombre = name;
  block_.datos = Registro(rec->second) + kClave + 4;
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
    verificado_[r] = 0;
  }
  index_by_key_.erase(it);
  return true;
}

std::vector<uint32_t> TSlotFileStore::Indices(const std::string& key) {
  std::vector<uint32_t> out;
  auto it = index_by_key_.find(key);
  if (it == index_by_key_.end()) return out;
  std::vector<uint32_t> records;
  for (const auto& [index, r] : it->second) {
    out.push_back(index);
    records.push_back(r);
  }
  // A record that fails its check leaves the index (and maybe the key).
  size_t kept = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (Verificado(records[i], key)) out[kept++] = out[i];
  }
  out.resize(kept);
  return out;
}
