// Opens that tell a missing file from one that could not be read, and whole
// files saved so that a cut leaves the old one or the new one.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "ehdd/TEHDDClient.h"
#include "platform/FileIo.h"

bool PlainLocalOn(const TEHDDClient* client);

namespace {

thread_local TEHDDClient::FalloApertura t_ultimo_fallo = TEHDDClient::FalloApertura::kNinguno;
// Set by the server open when the store answered with a refusal.
thread_local bool t_ausente_en_servidor = false;

// A local name that stat cannot find is absent; any other failure (no
// permission, an I/O error, something that is not a regular file) is not.
TEHDDClient::FalloApertura ProbarLocal(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? TEHDDClient::FalloApertura::kAusente
                                               : TEHDDClient::FalloApertura::kIlegible;
  }
  return TEHDDClient::FalloApertura::kIlegible;
}

}  // namespace

void NotarAusenteEnServidor() {
  t_ausente_en_servidor = true;
}

TEHDDClient::FalloApertura TEHDDClient::UltimoFalloApertura() {
  return t_ultimo_fallo;
}

TFicheroEHDD* TEHDDClient::Abrir(const char* path, int32_t mode) {
  t_ausente_en_servidor = false;
  TFicheroEHDD* file = AbrirSinMotivo(path, mode);
  t_ultimo_fallo = file != nullptr ? FalloApertura::kNinguno : ClasificarFallo(path, mode);
  return file;
}

std::string TEHDDClient::RutaLocal(const std::string& resolved) {
  // As the local store names a plain file: under the root, unless the mount
  // gave an absolute folder.
  if (!resolved.empty() && resolved[0] == '/') return ehdd_local::ToLocalPath(resolved);
  CriticalSectionGuard guard(mount_lock_);
  return ehdd_local::ToLocalPath(local_store_.root() + resolved);
}

TEHDDClient::FalloApertura TEHDDClient::ClasificarFallo(const char* path_text, int32_t mode) {
  if (path_text == nullptr || mode != 0) return FalloApertura::kIlegible;
  const std::string path = path_text;
  if (PlainLocalOn(this)) {
    if (ehdd_local::HasParentComponent(path)) return FalloApertura::kIlegible;
    return ProbarLocal(path);
  }
  bool local = false;
  bool container = false;
  const std::string resolved = ResolvePath(path, &local, &container);
  if (container) return FalloApertura::kIlegible;
  if (local) {
    if (ehdd_local::HasParentComponent(resolved)) return FalloApertura::kIlegible;
    return ProbarLocal(RutaLocal(resolved));
  }
  return t_ausente_en_servidor ? FalloApertura::kAusente : FalloApertura::kIlegible;
}

bool TEHDDClient::SaveFileAtomically(const char* path_text, const std::string& bytes) {
  if (path_text == nullptr || bytes.size() > UINT32_MAX) return false;
  const std::string path = path_text;
  if (PlainLocalOn(this)) {
    if (ehdd_local::HasParentComponent(path)) return false;
    return platform::WriteFileAtomically(ehdd_local::ToLocalPath(path), bytes);
  }
  bool local = false;
  bool container = false;
  const std::string resolved = ResolvePath(path, &local, &container);
  if (container) return false;  // volumes are never written
  if (local) {
    if (ehdd_local::HasParentComponent(resolved)) return false;
    return platform::WriteFileAtomically(RutaLocal(resolved), bytes);
  }
  try {
    TFicheroEHDD* file = Crear(path_text);
    if (file == nullptr) return false;
    const auto size = static_cast<uint32_t>(bytes.size());
    const bool written = Escribir(bytes.data(), size, file) == size;
    Cerrar(file);  // sends what waits in the write buffer; throws when it cannot
    return written;
  } catch (...) {
    return false;
  }
}
