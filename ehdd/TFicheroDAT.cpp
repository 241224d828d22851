#include "ehdd/TFicheroDAT.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <algorithm>
#include <cstring>
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

namespace {

// Bytes of payload before the wanted ones that are read and dropped rather
// than costing a second read.
constexpr uint32_t kSaltoMaximo = 4096;
// A read of a header and payload bytes up to this size goes through a local
// buffer in one call.
constexpr size_t kLecturaCorta = 8192;

// Reads into the pieces in turn until they are full or the file ends; the
// number of bytes read, or -1 on an error.
int64_t ReadPiecesAt(int fd, iovec* pieces, int count, off_t at) {
  int64_t total = 0;
  while (count > 0) {
    ssize_t got = preadv(fd, pieces, count, at + total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    total += got;
    size_t left = static_cast<size_t>(got);
    while (count > 0 && left >= pieces->iov_len) {
      left -= pieces->iov_len;
      ++pieces;
      --count;
    }
    if (count > 0) {
      pieces->iov_base = static_cast<char*>(pieces->iov_base) + left;
      pieces->iov_len -= left;
    }
  }
  return total;
}

// pread until n bytes are in or the file ends; the number read, or -1.
int64_t ReadUpTo(int fd, unsigned char* buffer, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    ssize_t got = pread(fd, buffer + done, n - done, at + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

}  // namespace

bool TFicheroDAT::LeerBloque(uint32_t block, uint32_t offset, uint32_t length, TBloqueDAT& header,
                             unsigned char* out, uint32_t* copied) {
  header = TBloqueDAT{};
  *copied = 0;
  if (fd_ < 0 || block >= block_count_) return false;
  const off_t at = static_cast<off_t>(block) * block_size_;
  const uint32_t want = offset >= carga() ? 0 : std::min(length, carga() - offset);
  unsigned char bytes[kCabecera];
  uint32_t payload_got = 0;
  const size_t span = static_cast<size_t>(kCabecera) + offset + want;
  if (span <= kLecturaCorta) {
    // Small blocks: one read of the header and the bytes up to the last one
    // wanted, then a copy, costs least.
    unsigned char whole[kLecturaCorta];
    const int64_t got = ReadUpTo(fd_, whole, span, at);
    if (got < kCabecera) return false;
    std::memcpy(bytes, whole, kCabecera);
    payload_got = static_cast<uint32_t>(
        std::min<int64_t>(want, std::max<int64_t>(0, got - kCabecera - offset)));
    std::memcpy(out, whole + kCabecera + offset, payload_got);
  } else if (offset <= kSaltoMaximo) {
    // The payload goes straight into the caller's buffer.
    unsigned char skipped[kSaltoMaximo];
    iovec pieces[3] = {{bytes, kCabecera}, {skipped, offset}, {out, want}};
    const int64_t got = ReadPiecesAt(fd_, pieces, 3, at);
    if (got < kCabecera) return false;
    payload_got = static_cast<uint32_t>(
        std::min<int64_t>(want, std::max<int64_t>(0, got - kCabecera - offset)));
  } else {
    if (!ReadFullyAt(fd_, bytes, kCabecera, at)) return false;
    const int64_t got = ReadUpTo(fd_, out, want, at + kCabecera + offset);
    if (got < 0) return false;
    payload_got = static_cast<uint32_t>(got);
  }
  header.numero = block;
  if (!header.Parse(bytes, block_size_)) return false;
  const uint32_t in_use = header.usado > offset ? std::min(want, header.usado - offset) : 0;
  if (payload_got < in_use) return false;  // the file is shorter than its headers say
  *copied = in_use;
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
