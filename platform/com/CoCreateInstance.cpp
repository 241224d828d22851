#include "platform/com/CoCreateInstance.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "platform/registry/Registry.h"

namespace platform::com {
namespace {

// Libraries stay loaded for the life of the process: objects they made may
// outlive any count a caller keeps.
std::mutex g_libraries_mutex;
std::map<std::string, void*> g_libraries;

void* LoadLibraryOnce(const std::string& path, std::string* reason) {
  std::lock_guard<std::mutex> lock(g_libraries_mutex);
  auto it = g_libraries.find(path);
  if (it != g_libraries.end()) return it->second;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (reason) {
      const char* error = dlerror();
      *reason = error ? error : "cannot load " + path;
    }
    return nullptr;
  }
  g_libraries[path] = handle;
  return handle;
}

}  // namespace

std::string RegisteredServerPath(const GUID& clsid) {
  platform::registry::Value value;
  const std::string key = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
  if (!platform::registry::QueryValue(platform::registry::Root::kClassesRoot, key, "", value))
    return "";
  if (value.type != platform::registry::Type::kSz &&
      value.type != platform::registry::Type::kExpandSz)
    return "";
  return value.text;
}

HRESULT CoCreateInstance(const GUID& clsid, IUnknown* outer, uint32_t context, const GUID& iid,
                         void** object, std::string* reason) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) {
    if (reason) *reason = "aggregation is not supported";
    return CLASS_E_NOAGGREGATION;
  }
  if ((context & CLSCTX_INPROC_SERVER) == 0) {
    if (reason) *reason = "only in-process servers are supported";
    return REGDB_E_CLASSNOTREG;
  }
  const std::string path = RegisteredServerPath(clsid);
  if (path.empty()) {
    if (reason) *reason = "class " + GuidToString(clsid) + " is not registered";
    return REGDB_E_CLASSNOTREG;
  }
  void* library = LoadLibraryOnce(path, reason);
  if (library == nullptr) return CO_E_DLLNOTFOUND;
  auto get_class_object =
      reinterpret_cast<DllGetClassObjectFunction>(dlsym(library, "DllGetClassObject"));
  if (get_class_object == nullptr) {
    if (reason) *reason = path + " has no DllGetClassObject";
    return CO_E_ERRORINDLL;
  }
  IClassFactory* factory = nullptr;
  HRESULT hr = get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (Failed(hr) || factory == nullptr) {
    if (reason) *reason = "the library refused the class";
    return Failed(hr) ? hr : E_FAIL;
  }
  hr = factory->CreateInstance(nullptr, iid, object);
  factory->Release();
  if (Failed(hr)) {
    *object = nullptr;
    if (reason) *reason = "the class refused to make an instance";
  }
  return hr;
}

}  // namespace platform::com
