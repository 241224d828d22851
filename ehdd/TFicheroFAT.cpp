#include "ehdd/TFicheroFAT.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ehdd/TBloqueDAT.h"
#include "platform/FileIo.h"

using namespace volumen;

namespace {

bool ReadWhole(int fd, std::vector<unsigned char>& bytes) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // The largest table a volume can have, with its header.
  const off_t max = static_cast<off_t>(kMaxBloques) * 3 + (1 << 20) * 64;
  if (st.st_size < 20 || st.st_size > max) return false;
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t got = pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

TFicheroFAT::~TFicheroFAT() {
  if (fd_ >= 0) close(fd_);
}

void TFicheroFAT::Cerrar() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  path_.clear();
  nombre_volumen_.clear();
  fijo_ = false;
  table_offset_ = text_length_ = block_size_ = block_count_ = 0;
  tabla_.clear();
}

bool TFicheroFAT::Abrir(const std::string& path, bool escritura) {
  danado_ = false;
  int fd = open(path.c_str(), (escritura ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<unsigned char> bytes;
  bool ok = ReadWhole(fd, bytes);
  if (ok) ok = std::memcmp(bytes.data(), "FAT", 3) == 0 && static_cast<int8_t>(bytes[3]) <= 2;
  if (ok) {
    version_ = static_cast<int8_t>(bytes[3]);
    table_offset_ = GetU32(&bytes[4]);
    text_length_ = GetU32(&bytes[8]);
    const uint64_t after_text = 12ull + text_length_;
    ok = after_text + 8 <= bytes.size();
    if (ok) {
      const std::string text(reinterpret_cast<const char*>(&bytes[12]), text_length_);
      block_size_ = GetU32(&bytes[after_text]);
      const uint32_t count = GetU32(&bytes[after_text + 4]);
      ok = block_size_ > kCabecera && block_size_ <= kMaxTamBloque && count > 0 &&
           count <= kMaxBloques &&
           table_offset_ >= after_text + 8 &&
           static_cast<uint64_t>(table_offset_) + 3ull * count <= bytes.size();
      if (ok) {
        const size_t open_tag = text.find("<VOLUMEN>");
        const size_t close_tag = text.find("</VOLUMEN>");
        nombre_volumen_.clear();
        if (open_tag != std::string::npos && close_tag != std::string::npos &&
            close_tag >= open_tag + 9) {
          nombre_volumen_ = text.substr(open_tag + 9, close_tag - open_tag - 9);
        }
        const size_t tipo = text.find("<TIPO>");
        fijo_ = tipo != std::string::npos && tipo + 6 < text.size() && text[tipo + 6] == 'F';
        // Entries past the count stand in the file too (a search for a free
        // block reads to its end).
        const size_t entries = (bytes.size() - table_offset_) / 3;
        tabla_.resize(entries);
        for (size_t i = 0; i < entries; ++i) tabla_[i] = GetU24(&bytes[table_offset_ + 3 * i]);
        block_count_ = count;
      }
    }
  }
  if (!ok || !escritura) {
    close(fd);
  } else {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  if (ok) path_ = path;
  danado_ = !ok;
  return ok;
}

bool TFicheroFAT::Crear(const std::string& path, const std::string& nombre_volumen, bool fijo,
                        uint32_t block_size) {
  if (block_size <= kCabecera || block_size > kMaxTamBloque) return false;
  const std::string text =
      "<VOLUMEN>" + nombre_volumen + "</VOLUMEN><TIPO>" + (fijo ? "F" : "V");
  std::vector<unsigned char> bytes(20 + text.size() + 3, 0);
  std::memcpy(bytes.data(), "FAT", 3);
  bytes[3] = 2;
  PutU32(&bytes[4], static_cast<uint32_t>(20 + text.size()));
  PutU32(&bytes[8], static_cast<uint32_t>(text.size()));
  std::memcpy(&bytes[12], text.data(), text.size());
  PutU32(&bytes[12 + text.size()], block_size);
  PutU32(&bytes[16 + text.size()], 1);  // the root's block
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = platform::WriteFullyAt(fd, bytes.data(), bytes.size(), 0);
  close(fd);
  return ok;
}

uint32_t TFicheroFAT::Siguiente(uint32_t block) const {
  return block < block_count_ && block < tabla_.size() ? tabla_[block] : 0;
}

std::vector<uint32_t> TFicheroFAT::Cadena(uint32_t first, bool* danada) const {
  std::vector<uint32_t> chain;
  if (danada) *danada = false;
  if (first >= block_count_) {
    if (danada) *danada = true;
    return chain;
  }
  std::vector<bool> seen(block_count_, false);
  uint32_t b = first;
  for (;;) {
    if (b >= block_count_ || seen[b]) {
      if (danada) *danada = true;  // past the count, or a cycle
      break;
    }
    seen[b] = true;
    chain.push_back(b);
    uint32_t e = Siguiente(b);
    if (e == b) break;
    b = e;
  }
  return chain;
}

uint32_t TFicheroFAT::PrimerLibreDespues(uint32_t a) const {
  for (size_t i = static_cast<size_t>(a) + 1; i < tabla_.size(); ++i) {
    if (tabla_[i] == 0) return static_cast<uint32_t>(i);
  }
  return 0;
}

bool TFicheroFAT::EscribirEntrada(uint32_t i, uint32_t value) {
  if (fd_ < 0 || i > tabla_.size()) return false;
  unsigned char bytes[3];
  PutU24(bytes, value);
  if (!platform::WriteFullyAt(fd_, bytes, 3, static_cast<off_t>(table_offset_) + 3 * static_cast<off_t>(i))) {
    return false;
  }
  if (i == tabla_.size()) tabla_.push_back(value);
  else tabla_[i] = value;
  return true;
}

bool TFicheroFAT::IncrementarBloques(uint32_t k) {
  if (fd_ < 0 || block_count_ + k > kMaxBloques) return false;
  block_count_ += k;
  unsigned char bytes[4];
  PutU32(bytes, block_count_);
  return platform::WriteFullyAt(fd_, bytes, 4, 16 + static_cast<off_t>(text_length_));
}

uint32_t TFicheroFAT::AsignarBloqueDespues(uint32_t a) {
  uint32_t f = PrimerLibreDespues(a);
  if (f != 0) {
    if (!EscribirEntrada(a, f) || !EscribirEntrada(f, f)) return 0;
    return f;
  }
  f = block_count_;
  if (f >= kMaxBloques || f != tabla_.size()) return 0;
  if (!EscribirEntrada(f, f) || !EscribirEntrada(a, f) || !IncrementarBloques(1)) return 0;
  return f;
}

std::vector<uint32_t> TFicheroFAT::AsignarFicheroNuevo() {
  std::vector<uint32_t> chain;
  uint32_t f = PrimerLibreDespues(0);
  if (f != 0) {
    chain.push_back(f);
  } else if (!fijo_) {
    f = block_count_;
    if (f >= kMaxBloques || f != tabla_.size()) return chain;
    if (!EscribirEntrada(f, 0) || !IncrementarBloques(1)) return chain;
    chain.push_back(f);
  } else {
    return chain;
  }
  for (size_t i = 0; i < chain.size(); ++i) {
    uint32_t next = i + 1 < chain.size() ? chain[i + 1] : chain[i];
    if (!EscribirEntrada(chain[i], next)) return {};
  }
  return chain;
}
