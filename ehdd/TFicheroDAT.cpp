#include "ehdd/TFicheroDAT.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/FileIo.h"

using namespace volumen;

using platform::ReadFullyAt;
using platform::WriteFullyAt;

namespace {

// Copies out of a mapped volume run under a guard: a bus error raised while
// one runs (the file was cut short beneath the mapping) jumps back to the
// guard, which reports the copy as failed. A bus error anywhere else goes to
// whoever handled it before, or takes its default course.
thread_local sigjmp_buf* t_guardia = nullptr;
struct sigaction g_anterior {};
std::once_flag g_instalada;

void AlErrorDeBus(int signal, siginfo_t* info, void* context) {
  if (sigjmp_buf* guardia = t_guardia) {
    t_guardia = nullptr;
    siglongjmp(*guardia, 1);
  }
  if ((g_anterior.sa_flags & SA_SIGINFO) != 0 && g_anterior.sa_sigaction != nullptr) {
    g_anterior.sa_sigaction(signal, info, context);
  } else if ((g_anterior.sa_flags & SA_SIGINFO) == 0 && g_anterior.sa_handler != SIG_DFL &&
             g_anterior.sa_handler != SIG_IGN) {
    g_anterior.sa_handler(signal);
  } else {
    // Back to the default: the faulting access runs again and ends the
    // process as it would have without this handler.
    std::signal(signal, SIG_DFL);
  }
}

void InstalarGuardia() {
  std::call_once(g_instalada, [] {
    struct sigaction accion {};
    accion.sa_sigaction = AlErrorDeBus;
    // Not blocked while it runs, so the jump out of it leaves it unblocked
    // without saving the signal mask at every guard.
    accion.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&accion.sa_mask);
    sigaction(SIGBUS, &accion, &g_anterior);
  });
}

// Runs f (which must leave nothing to destroy should it be cut short) with
// the guard set; false when a bus error cut it short.
template <typename F>
bool Guardado(F&& f) {
  sigjmp_buf guardia;
  if (sigsetjmp(guardia, 0) != 0) {
    // The mask is not saved at every guard (that costs a system call), so
    // a handler that ran with the signal blocked (one that wraps this one,
    // as a sanitizer's does) may leave it blocked: unblock it, or the next
    // bus error would end the process.
    sigset_t bus;
    sigemptyset(&bus);
    sigaddset(&bus, SIGBUS);
    pthread_sigmask(SIG_UNBLOCK, &bus, nullptr);
    return false;
  }
  t_guardia = &guardia;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  f();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  t_guardia = nullptr;
  return true;
}

}  // namespace

void TDestinoLectura::Copiar(uint64_t at, const unsigned char* bytes, size_t n) const {
  while (n > 0) {
    const size_t piece = static_cast<size_t>(at / tam_trozo);
    const uint32_t inside = static_cast<uint32_t>(at % tam_trozo);
    const size_t k = std::min<size_t>(n, tam_trozo - inside);
    std::memcpy(trozos[piece] + inside, bytes, k);
    at += k;
    bytes += k;
    n -= k;
  }
}

TFicheroDAT::~TFicheroDAT() {
  Cerrar();
}

void TFicheroDAT::Cerrar() {
  if (vista_ != nullptr) munmap(const_cast<unsigned char*>(vista_), vista_size_);
  vista_ = nullptr;
  vista_size_ = 0;
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
  // A volume being written changes size under its own hand: only one that
  // is only read is mapped.
  if (!escritura && st.st_size > 0 && static_cast<uint64_t>(st.st_size) <= SIZE_MAX) {
    InstalarGuardia();
    void* view = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd_, 0);
    if (view != MAP_FAILED) {
      vista_ = static_cast<const unsigned char*>(view);
      vista_size_ = static_cast<size_t>(st.st_size);
    }
  }
  return true;
}

bool TFicheroDAT::LeerCabecera(uint32_t block, TBloqueDAT& header) {
  header = TBloqueDAT{};
  if (fd_ < 0 || block >= block_count_) return false;
  unsigned char bytes[kCabecera] = {};
  const uint64_t at = static_cast<uint64_t>(block) * block_size_;
  if (const unsigned char* mapped = EnVista(at, kCabecera)) {
    if (!Guardado([&] { std::memcpy(bytes, mapped, kCabecera); })) return false;
  } else if (!ReadFullyAt(fd_, bytes, kCabecera, static_cast<off_t>(at))) {
    return false;
  }
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
  if (const unsigned char* mapped = EnVista(static_cast<uint64_t>(at), span)) {
    // Mapped: the header, then only the payload bytes in use.
    uint32_t used = 0;
    if (!Guardado([&] {
          std::memcpy(bytes, mapped, kCabecera);
          used = GetU24(bytes + kPosUsado);
          payload_got = used > offset ? std::min(want, used - offset) : 0;
          std::memcpy(out, mapped + kCabecera + offset, payload_got);
        })) {
      return false;
    }
  } else if (span <= kLecturaCorta) {
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

struct TFicheroDAT::Recorrido {
  const uint32_t* bloques;
  size_t n;
  size_t i;
  uint32_t offset;  // inside the payload of bloques[i]
  uint32_t length;
  uint64_t total;
  const std::string* nombre;
  const std::string* propietario;
  const TDestinoLectura* destino;
  enum : int { kSigue = 0, kHecho = 1, kLeer = 2, kDanado = -1, kAjeno = -2 } estado;
};

namespace {

// One block of a read along a chain, its header known and sound: the checks
// that tie it to the file and to the next block, then its bytes (copiar(at
// in the payload, n)).
template <typename Copia>
void Avanzar(auto& r, uint32_t carga, bool es_suyo, uint32_t usado, uint32_t siguiente,
             Copia&& copiar) {
  if (r.i == 0 && (!es_suyo || r.offset > usado)) {
    r.estado = r.kAjeno;
    return;
  }
  const uint32_t k =
      static_cast<uint32_t>(std::min<uint64_t>(usado - r.offset, r.length - r.total));
  copiar(r.offset, k);
  r.total += k;
  if (r.total == r.length) {
    r.estado = r.kHecho;
    return;
  }
  if (r.i + 1 == r.n) {
    // The end of the chain: the header must say so too.
    r.estado = siguiente == 0 ? r.kHecho : r.kDanado;
    return;
  }
  // Moving on: a block left behind is full and links to the next of the
  // chain, which is never the root's block 0.
  if (usado != carga || siguiente != r.bloques[r.i + 1] || siguiente == 0) {
    r.estado = r.kDanado;
    return;
  }
  ++r.i;
  r.offset = 0;
}

}  // namespace

void TFicheroDAT::RecorrerEnVista(Recorrido& r) const {
  const bool whole = Guardado([&] {
    while (r.estado == r.kSigue) {
      const uint64_t at = static_cast<uint64_t>(r.bloques[r.i]) * block_size_;
      const unsigned char* h = EnVista(at, kCabecera);
      if (h == nullptr || r.bloques[r.i] >= block_count_) {
        r.estado = r.bloques[r.i] >= block_count_ ? r.kDanado : r.kLeer;
        return;
      }
      if (!CabeceraSana(h, block_size_, r.nombre->size(), r.propietario->size())) {
        r.estado = r.kDanado;
        return;
      }
      const uint32_t usado = GetU24(h + kPosUsado);
      const uint64_t end = static_cast<uint64_t>(kCabecera) + std::max(usado, r.offset);
      if (EnVista(at, end) == nullptr) {
        r.estado = r.kLeer;  // bytes past the mapping: read them
        return;
      }
      const bool es_suyo =
          r.i != 0 || (CampoIgual(h, kNombre, *r.nombre) &&
                       CampoIgual(h + kPosPropietario, kPropietario, *r.propietario));
      Avanzar(
          r, carga(), es_suyo, usado, GetU24(h + kPosSiguiente),
          [&](uint32_t from, uint32_t k) { r.destino->Copiar(r.total, h + kCabecera + from, k); });
    }
  });
  if (!whole) r.estado = r.kDanado;  // the file shrank beneath the mapping
}

void TFicheroDAT::RecorrerConLectura(Recorrido& r) {
  const uint32_t block = r.bloques[r.i];
  const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(carga(), r.length - r.total));
  std::vector<unsigned char> bytes(want);
  TBloqueDAT header;
  uint32_t copied = 0;
  if (!LeerBloque(block, r.offset, want, header, bytes.data(), &copied)) {
    r.estado = r.kDanado;
    return;
  }
  const bool es_suyo = header.nombre == *r.nombre && header.propietario == *r.propietario;
  Avanzar(r, carga(), es_suyo, header.usado, header.siguiente, [&](uint32_t, uint32_t k) {
    r.destino->Copiar(r.total, bytes.data(), std::min(k, copied));
  });
}

int64_t TFicheroDAT::LeerCadena(const uint32_t* bloques, size_t n, uint32_t offset, uint32_t length,
                                const std::string& nombre, const std::string& propietario,
                                const TDestinoLectura& destino) {
  if (fd_ < 0 || n == 0) return -1;
  length = static_cast<uint32_t>(std::min<uint64_t>(length, destino.capacidad()));
  if (length == 0) return 0;
  Recorrido r{bloques, n, 0, offset, length, 0, &nombre, &propietario, &destino, Recorrido::kSigue};
  while (r.estado == r.kSigue) {
    RecorrerEnVista(r);
    if (r.estado == r.kLeer) {
      r.estado = r.kSigue;
      RecorrerConLectura(r);
    }
  }
  if (r.estado == r.kDanado) return -1;
  if (r.estado == r.kAjeno) return -2;
  return static_cast<int64_t>(r.total);
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
    if (!WriteFullyAt(fd_, image.data(), image.size(),
                      static_cast<off_t>(block_count_) * block_size_)) {
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
  if (fd_ < 0 || block >= block_count_ || offset > carga() || length > carga() - offset)
    return false;
  const off_t at = static_cast<off_t>(block) * block_size_ + kCabecera + offset;
  return WriteFullyAt(fd_, data, length, at);
}
