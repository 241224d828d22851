// lectoria-regsvr [/u] PATH: registers (or with /u unregisters) the
// component library at PATH by its own entry point, in the registry folder
// of this user ($LECTORIA_REGISTRY_DIR, else $XDG_CONFIG_HOME/lectoria, else
// ~/.config/lectoria).
#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/CoCreateInstance.h"

namespace {

int Uso() {
  std::fprintf(stderr, "usage: lectoria-regsvr [/u] PATH\n");
  return 2;
}

int Fallo(const std::string& motivo) {
  std::fprintf(stderr, "lectoria-regsvr: %s\n", motivo.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool quitar = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "/u") == 0 && !quitar && path == nullptr) {
      quitar = true;
    } else if (path == nullptr && argv[i][0] != '\0') {
      path = argv[i];
    } else {
      return Uso();
    }
  }
  if (path == nullptr) return Uso();
  // A bare name would be searched for by the loader: a path is meant here.
  std::string abierto = path;
  if (abierto.find('/') == std::string::npos) abierto = "./" + abierto;
  void* lib = dlopen(abierto.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    const char* error = dlerror();
    return Fallo(error != nullptr ? error : "cannot load " + abierto);
  }
  const char* entrada = quitar ? "DllUnregisterServer" : "DllRegisterServer";
  auto funcion = reinterpret_cast<platform::com::DllRegisterServerFunction>(dlsym(lib, entrada));
  if (funcion == nullptr) return Fallo(std::string(path) + " has no " + entrada);
  const platform::com::HRESULT hr = funcion();
  if (platform::com::Failed(hr)) {
    char texto[64];
    std::snprintf(texto, sizeof(texto), "%s returned 0x%08X", entrada, static_cast<unsigned>(hr));
    return Fallo(texto);
  }
  char real[PATH_MAX];
  const char* absoluta = realpath(abierto.c_str(), real) != nullptr ? real : path;
  std::printf("%s %s\n", quitar ? "unregistered" : "registered", absoluta);
  return 0;
}
