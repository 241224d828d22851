// A component library for the component-layer tests: one class with a
// counter of live objects, served through DllGetClassObject.
#include <atomic>

#include "platform/com/Com.h"

using namespace platform::com;

namespace {

// {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}
constexpr GUID kClass = {
    0x0F1E2D3C, 0x4B5A, 0x6978, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}};
std::atomic<int> g_objects{0};

class Object final : public IUnknown {
 public:
  Object() { ++g_objects; }
  HRESULT QueryInterface(const GUID& iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid != IID_IUnknown) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = this;
    AddRef();
    return S_OK;
  }
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override {
    uint32_t left = --refs_;
    if (left == 0) {
      --g_objects;
      delete this;
    }
    return left;
  }

 private:
  std::atomic<uint32_t> refs_{0};
};

class Factory final : public IClassFactory {
 public:
  HRESULT QueryInterface(const GUID& iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *out = this;
    return S_OK;
  }
  uint32_t AddRef() override { return 1; }
  uint32_t Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, const GUID& iid, void** out) override {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Object* object = new Object;
    object->AddRef();
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT LockServer(bool) override { return S_OK; }
};

Factory g_factory;

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(const GUID& clsid,
                                                                            const GUID& iid,
                                                                            void** out) {
  if (clsid != kClass) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

extern "C" __attribute__((visibility("default"))) int ComTestModuleObjects() {
  return g_objects.load();
}
