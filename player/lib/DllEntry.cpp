// The library's entry points: the class factory, the unload check and the
// registration of the class in the registry, with the library's own path.
#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/com/Registration.h"
#include "player/CAXeTAE.h"

using platform::com::HRESULT;

namespace {

// The library's absolute path, links resolved; empty when it cannot be had.
std::string ResolverRutaModulo() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ResolverRutaModulo), &info) == 0 || info.dli_fname == nullptr)
    return std::string();
  char real[PATH_MAX];
  if (realpath(info.dli_fname, real) == nullptr) return std::string();
  return real;
}

// Resolved when the library is loaded: the link it was loaded through may
// be gone by the time it registers itself.
std::string& RutaCargada() {
  static std::string ruta;
  return ruta;
}

std::string RutaModulo() {
  return RutaCargada().empty() ? ResolverRutaModulo() : RutaCargada();
}

__attribute__((constructor)) void AlCargar() {
  RutaCargada() = ResolverRutaModulo();
  FijarLibreriaAdjuntada(true);
}

__attribute__((destructor)) void AlDescargar() {
  FijarLibreriaAdjuntada(false);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(const platform::com::GUID& clsid,
                                                                 const platform::com::GUID& iid,
                                                                 void** object) {
  return ObtenerFactoriaAXeTAE(clsid, iid, object);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return ModuloDescargable() ? platform::com::S_OK : platform::com::S_FALSE;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  const std::string modulo = RutaModulo();
  if (modulo.empty()) return platform::com::SELFREG_E_CLASS;
  return platform::com::ApplyRegistryKeys(platform::registry::Root::kClassesRoot,
                                          GuionRegistroAXeTAE(modulo))
             ? platform::com::S_OK
             : platform::com::SELFREG_E_CLASS;
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  return platform::com::RemoveRegistryKeys(platform::registry::Root::kClassesRoot,
                                           GuionRegistroAXeTAE(RutaModulo()))
             ? platform::com::S_OK
             : platform::com::SELFREG_E_CLASS;
}

}  // extern "C"
