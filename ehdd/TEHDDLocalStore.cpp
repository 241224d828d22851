#include "ehdd/TEHDDLocalStore.h"
#include "ehdd/ScratchDeHilo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "ehdd/TCacheVolumenes.h"
#include "ehdd/TEHDDClient.h"
#include "ehdd/TFicheroEHDD.h"

namespace ehdd_local {

std::string ToLocalPath(const std::string& path) {
  std::string out = path;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

bool HasParentComponent(std::string_view path) {
  // A component starts at the beginning or after a separator; ".." is one
  // when a separator or the end follows it.
  const size_t n = path.size();
  for (size_t i = path.find(".."); i != std::string_view::npos && i + 1 < n;
       i = path.find("..", i + 1)) {
    if (path[i] == '.' && path[i + 1] == '.' &&
        (i == 0 || path[i - 1] == '/' || path[i - 1] == '\\') &&
        (i + 2 == n || path[i + 2] == '/' || path[i + 2] == '\\')) {
      return true;
    }
  }
  return false;
}

bool RegularFileSize(const std::string& path, uint64_t* size) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) *size = static_cast<uint64_t>(st.st_size);
  close(fd);
  return ok;
}

bool CreateEmptyFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0) return true;
  struct stat st {};
  return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

uint32_t ReadAt(const std::string& path, uint64_t offset, unsigned char* buffer, uint32_t n) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  uint32_t done = 0;
  while (done < n) {
    ssize_t got = pread(fd, buffer + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<uint32_t>(got);
  }
  close(fd);
  return done;
}

uint32_t ReadAtInto(const std::string& path, uint64_t offset, const TDestinoLectura& destino,
                    uint32_t n) {
  if (destino.cuantos == 1) return ReadAt(path, offset, destino.trozos[0], n);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  // One call for the pieces, as many at a time as an iovec array takes.
  constexpr size_t kPieces = 64;
  uint32_t done = 0;
  while (done < n) {
    iovec pieces[kPieces];
    int count = 0;
    for (uint64_t at = done; at < n && count < static_cast<int>(kPieces); ++count) {
      const size_t piece = static_cast<size_t>(at / destino.tam_trozo);
      const uint32_t inside = static_cast<uint32_t>(at % destino.tam_trozo);
      const uint32_t k =
          std::min<uint32_t>(destino.tam_trozo - inside, n - static_cast<uint32_t>(at));
      pieces[count] = {destino.trozos[piece] + inside, k};
      at += k;
    }
    ssize_t got = preadv(fd, pieces, count, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<uint32_t>(got);
  }
  close(fd);
  return done;
}

uint32_t WriteAt(const std::string& path, uint64_t offset, const unsigned char* data, uint32_t n) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  uint32_t done = 0;
  while (done < n) {
    ssize_t put = pwrite(fd, data + done, n - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<uint32_t>(put);
  }
  close(fd);
  return done;
}

}  // namespace ehdd_local

void TEHDDLocalStore::SetRoot(const std::string& root) {
  size_t end = root.size();
  while (end > 0 && (root[end - 1] == '/' || root[end - 1] == '\\')) --end;
  if (end == root.size() && !root.empty()) {
    root_ = root + '/';
  } else if (end < root.size()) {
    root_ = root.substr(0, end + 1);  // the first of the trailing separators
  } else {
    root_.clear();
  }
}

void TEHDDLocalStore::SplitContainerPath(std::string_view path, std::string_view& container,
                                         std::string_view& member) {
  const size_t hash = path.rfind('#');
  container =
      hash == std::string_view::npos || hash == 0 ? std::string_view() : path.substr(0, hash);
  member = hash == std::string_view::npos ? path : path.substr(hash + 1);
}

void TEHDDLocalStore::SplitContainerPath(const std::string& path, std::string& container,
                                         std::string& member) {
  std::string_view container_view;
  std::string_view member_view;
  SplitContainerPath(std::string_view(path), container_view, member_view);
  container.assign(container_view);
  member.assign(member_view);
}

void TEHDDLocalStore::LocalUnderRoot(std::string_view path, std::string& out) const {
  if (path.empty() || path[0] != '/') {
    out.assign(root_);
  } else {
    out.clear();
  }
  out.append(path);
  if (out.find('\\') != std::string::npos) std::replace(out.begin(), out.end(), '\\', '/');
}

TFicheroEHDD* TEHDDLocalStore::Abrir(const std::string& resolved_path, int32_t mode) {
  std::string_view container;
  std::string_view member;
  SplitContainerPath(std::string_view(resolved_path), container, member);
  if (ehdd_local::HasParentComponent(container) || ehdd_local::HasParentComponent(member)) {
    return nullptr;
  }
  auto file = std::make_unique<TFicheroEHDD>();
  file->mode = mode;

  if (!container.empty()) {
    if (mode != 0) return nullptr;  // nothing is ever written into a volume
    TCacheVolumenes* volumes = TCacheVolumenes::Instance();
    std::string volume_key;
    // Kept per thread: an open costs no allocation for it.
    struct RutaVolumen;
    ScratchDeHilo<std::string, RutaVolumen> scratch;
    std::string& volume_path = scratch.Objeto();
    LocalUnderRoot(container, volume_path);
    if (!volumes->AbrirVolumen(volume_path, volume_key)) return nullptr;
    std::string file_id;
    int64_t size = -1;
    // A member that is not there, or a damaged one, does not open; an empty
    // one opens with length 0. The whole name is the container part, '#'
    // and the member: the resolved path itself.
    if (!volumes->AbrirFichero(volume_key, resolved_path, member, file_id, &size) || size < 0 ||
        size > UINT32_MAX) {
      return nullptr;
    }
    file->kind = ehdd_kind::kMiembroVolumen;
    file->path = resolved_path;
    file->fileId = file_id;
    file->length = static_cast<uint32_t>(size);
    return file.release();
  }

  std::string full;
  LocalUnderRoot(member, full);
  if (mode == 1 || mode == 2) {
    if (!ehdd_local::CreateEmptyFile(full)) return nullptr;
    file->length = 0;
  } else {
    uint64_t size = 0;
    if (!ehdd_local::RegularFileSize(full, &size) || size > UINT32_MAX) return nullptr;
    file->length = static_cast<uint32_t>(size);
  }
  file->kind = ehdd_kind::kRaizLocal;
  file->path = full;
  return file.release();
}

uint32_t TEHDDLocalStore::LeerBloques(unsigned char* buffer, uint64_t start, uint32_t block_size,
                                      uint32_t count, TFicheroEHDD* file) {
  const uint64_t asked = static_cast<uint64_t>(block_size) * count;
  if (buffer == nullptr || asked == 0 || asked > UINT32_MAX) return 0;
  unsigned char* const piece = buffer;
  return LeerBloquesEn(TDestinoLectura{&piece, 1, static_cast<uint32_t>(asked)}, start, file);
}

uint32_t TEHDDLocalStore::LeerBloquesEn(const TDestinoLectura& destino, uint64_t start,
                                        TFicheroEHDD* file) {
  if (file == nullptr || start >= file->length) return 0;
  const uint32_t n =
      static_cast<uint32_t>(std::min<uint64_t>(destino.capacidad(), file->length - start));
  if (file->kind == ehdd_kind::kMiembroVolumen) {
    // Straight from the volume into the pieces.
    uint32_t got = 0;
    if (!TCacheVolumenes::Instance()->LeerFicheroEn(file->fileId, got, destino,
                                                    static_cast<int64_t>(start), n)) {
      return 0;
    }
    return std::min(got, n);
  }
  return ehdd_local::ReadAtInto(file->path, start, destino, n);
}
