#include "ehdd/TFicheroDAT.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/FileIo.h"

using namespace volumen;

using platform::ReadFullyAt;
using platform::WriteFullyAt;

TFicheroDAT::~TFicheroDAT() { Cerrar(); }

void TFicheroDAT::Cerrar() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool TFicheroDAT::Crear(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool TFicheroDAT::Abrir(const std::string& path, bool fijo, uint32_t block_size,
                        uint32_t block_count, bool escritura) {
  Cerrar();
  fd_ = open(path.c_str(), (escritura ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st {};
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    Cerrar();
    return false;
  }
  path_ = path;
  fijo_ = fijo;
  block_size_ = block_size;
  block_count_ = block_count;
  return true;
}

bool TFicheroDAT::LeerCabecera(uint32_t block, TBloqueDAT& header) {
  header = TBloqueDAT{};
  if (fd_ < 0 || block >= block_count_) return false;
  unsigned char bytes[kCabecera] = {};
  if (!ReadFullyAt(fd_, bytes, kCabecera, static_cast<off_t>(block) * block_size_)) return false;
  header.numero = block;
  return header.Parse(bytes, block_size_);
}

bool TFicheroDAT::LeerBloqueEntero(uint32_t block, TBloqueDAT& header, unsigned char* payload) {
  header = TBloqueDAT{};
  if (fd_ < 0 || block >= block_count_) return false;
  std::vector<unsigned char> bytes(block_size_);
  if (!ReadFullyAt(fd_, bytes.data(), block_size_, static_cast<off_t>(block) * block_size_)) {
    return false;
  }
  header.numero = block;
  if (!header.Parse(bytes.data(), block_size_)) return false;
  std::copy(bytes.begin() + kCabecera, bytes.end(), payload);
  return true;
}

bool TFicheroDAT::EscribirBloque(uint32_t block, TBloqueDAT& header) {
  if (fd_ < 0) return false;
  header.modificado = Ahora();
  header.numero = block;
  unsigned char bytes[kCabecera];
  if (!header.Serialize(bytes)) return false;
  if (block < block_count_) {
    if (!WriteFullyAt(fd_, bytes, kCabecera, static_cast<off_t>(block) * block_size_)) return false;
  } else {
    std::vector<unsigned char> image(block_size_, 0);
    std::copy(bytes, bytes + kCabecera, image.begin());
    if (!WriteFullyAt(fd_, image.data(), image.size(), static_cast<off_t>(block_count_) * block_size_)) {
      return false;
    }
    header.numero = block_count_;
    ++block_count_;
  }
  return fdatasync(fd_) == 0 || errno == EINVAL;
}

int64_t TFicheroDAT::LeerCarga(uint32_t block, uint32_t offset, unsigned char* buffer,
                               uint32_t length) {
  if (fd_ < 0 || block >= block_count_ || offset > carga() || length > carga() - offset) return -1;
  const off_t at = static_cast<off_t>(block) * block_size_ + kCabecera + offset;
  return ReadFullyAt(fd_, buffer, length, at) ? static_cast<int64_t>(length) : -1;
}

bool TFicheroDAT::EscribirCarga(uint32_t block, uint32_t offset, const unsigned char* data,
                                uint32_t length) {
  if (fd_ < 0 || block >= block_count_ || offset > carga() || length > carga() - offset) return false;
  const off_t at = static_cast<off_t>(block) * block_size_ + kCabecera + offset;
  return WriteFullyAt(fd_, data, length, at);
}
