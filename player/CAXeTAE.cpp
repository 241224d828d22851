#include "player/CAXeTAE.h"

#include <new>

#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "platform/MessageBox.h"
#include "player/InterfaceAXNavegacion.h"
#include "player/InterfaceAXSesion.h"

using platform::com::E_FAIL;
using platform::com::E_NOINTERFACE;
using platform::com::E_POINTER;
using platform::com::IID_IClassFactory;
using platform::com::IID_IControlWindow;
using platform::com::IID_IDispatch;
using platform::com::IID_IUnknown;
using platform::com::S_FALSE;
using platform::com::S_OK;

namespace {

std::atomic<int32_t> g_objetos{0};
std::atomic<int32_t> g_bloqueos{0};
std::atomic<bool> g_adjuntada{false};
// Controls whose window exists: the UI host stays installed while any does.
int g_ventanas = 0;

class FactoriaAXeTAE final : public platform::com::IClassFactory {
 public:
  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<platform::com::IClassFactory*>(this);
    return S_OK;
  }
  // The factory is a static object: its references keep the module loaded.
  uint32_t AddRef() override { return static_cast<uint32_t>(++g_bloqueos); }
  uint32_t Release() override { return static_cast<uint32_t>(--g_bloqueos); }
  HRESULT CreateInstance(IUnknown* outer, const GUID& iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return platform::com::CLASS_E_NOAGGREGATION;
    CAXeTAE* control = CAXeTAE::Crear();
    if (control == nullptr) return E_FAIL;
    const HRESULT hr = control->QueryInterface(iid, object);
    control->Release();
    return hr;
  }
  HRESULT LockServer(bool lock) override {
    if (lock) {
      ++g_bloqueos;
    } else {
      --g_bloqueos;
    }
    return S_OK;
  }
};

FactoriaAXeTAE g_factoria;

// The mouse event of a mouse message: 1 move, 2 and 3 left down and up,
// 4 and 5 right down and up.
uint8_t TipoRaton(uint32_t message) {
  switch (message) {
    case platform::com::WM_LBUTTONDOWN:
      return 2;
    case platform::com::WM_LBUTTONUP:
      return 3;
    case platform::com::WM_RBUTTONDOWN:
      return 4;
    case platform::com::WM_RBUTTONUP:
      return 5;
    default:
      return 1;
  }
}

// The window messages a notification is reflected back to the control as.
bool Reflejado(uint32_t m) {
  return (m >= 0x202B && m <= 0x202F) || m == 0x2039 || m == 0x204E || m == 0x2111 ||
         (m >= 0x2114 && m <= 0x2115) || (m >= 0x2132 && m <= 0x2138) || m == 0x2210;
}

}  // namespace

CAXeTAE* CAXeTAE::Crear() {
  MotorAX& motor = Motor();
  // The count stops at its top: wrapping round to 1 would reset the engine's
  // globals under the controls that live.
  if (motor.construcciones < UINT8_MAX) ++motor.construcciones;
  if (motor.construcciones == 1) ResetearGlobales();
  uint8_t modo;
  if (motor.texto_instancia == "NULL") {
    modo = kModoUnit;
  } else if (motor.texto_instancia == "UNIT") {
    modo = kModoMini;
  } else {
    // Two controls live already: this one is refused, the process goes on.
    platform::ShowMessageBox("Creacion instancia AX erronea", "DEBUG", platform::kMbOk);
    return nullptr;
  }
  auto* control = new (std::nothrow) CAXeTAE(modo);
  if (control == nullptr) return nullptr;
  motor.texto_instancia = modo == kModoUnit ? "UNIT" : "MINI";
  ++g_objetos;
  return control;
}

HRESULT CAXeTAE::QueryInterface(const GUID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == lectoria::IID_IAXeTAE) {
    *object = static_cast<lectoria::IAXeTAE*>(this);
  } else if (iid == IID_IControlWindow) {
    *object = static_cast<platform::com::IControlWindow*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

uint32_t CAXeTAE::AddRef() {
  return refs_.fetch_add(1) + 1;
}

uint32_t CAXeTAE::Release() {
  const uint32_t left = refs_.fetch_sub(1) - 1;
  if (left == 0) {
    FinalRelease();
    delete this;
    --g_objetos;
  }
  return left;
}

void CAXeTAE::FinalRelease() {
  try {
    if (descargado_ == 0) {
      descargado_ = 1;
      InterfaceAXUnloadAll(modo_);
    }
  } catch (const platform::ExitRequested&) {
    throw;
  } catch (...) {
    OSAL::Trace(kTraceError, "FinalRelease: error al descargar.");
  }
  MotorAX& motor = Motor();
  if (modo_ == kModoMini && motor.texto_instancia == "MINI") motor.texto_instancia = "UNIT";
  if (ventana_creada_) {
    ventana_creada_ = false;
    if (--g_ventanas == 0 && platform::ui::UiHost() == host_) platform::ui::SetUiHost(nullptr);
  }
  host_.reset();
  site_ = nullptr;
}

HRESULT CAXeTAE::CreateWindow(platform::ui::IControlSite* site,
                              std::shared_ptr<platform::ui::IUiHost> host) {
  if (site == nullptr || host == nullptr) return E_POINTER;
  if (ventana_creada_) return E_FAIL;
  site_ = site;
  host_ = host;
  // The library's own platform layer shows its boxes and runs its timers
  // through the host.
  platform::ui::SetUiHost(host);
  ventana_creada_ = true;
  ++g_ventanas;
  intptr_t result = 0;
  const HRESULT hr = WindowMessage(platform::com::WM_CREATE, 0, 0, &result);
  return hr == S_OK && result == 0 ? S_OK : E_FAIL;
}

HRESULT CAXeTAE::WindowMessage(uint32_t message, uintptr_t wparam, intptr_t lparam,
                               intptr_t* result) {
  if (result == nullptr) return E_POINTER;
  *result = 0;
  namespace c = platform::com;
  const uint16_t x = static_cast<uint16_t>(static_cast<uintptr_t>(lparam) & 0xFFFF);
  const uint16_t y = static_cast<uint16_t>((static_cast<uintptr_t>(lparam) >> 16) & 0xFFFF);
  SesionAX& sesion = Motor().sesion;
  try {
    switch (message) {
      case c::WM_CREATE:
        if (!EventAXCreate(site_, modo_)) *result = -1;
        return S_OK;
      case c::WM_CLOSE:
      case c::WM_KEYUP:
      case c::WM_SYSKEYDOWN:
        return S_OK;
      case c::WM_KEYDOWN:
        if (modo_ == kModoUnit && wparam == 8) InterfaceAXTeclaPulsada(sesion, 8);
        return S_OK;
      case c::WM_MOUSEMOVE:
      case c::WM_LBUTTONDOWN:
      case c::WM_LBUTTONUP:
      case c::WM_RBUTTONDOWN:
      case c::WM_RBUTTONUP:
        EventAXMouseEvent(sesion, x, y, TipoRaton(message), modo_);
        return S_OK;
      default:
        // A reflected notification has no default handling in a window of
        // its own here: its result is 0.
        return Reflejado(message) ? S_OK : S_FALSE;
    }
  } catch (const platform::ExitRequested&) {
    throw;
  } catch (...) {
    OSAL::Trace(kTraceError, "WindowMessage: error.");
    return S_OK;
  }
}

HRESULT CAXeTAE::Draw() {
  SesionAX& sesion = Motor().sesion;
  if (sesion.gdi != nullptr) {
    sesion.gdi->MostrarBuffer(sesion.instancias[modo_].superficie_pagina, 0, 0, 0, 0);
  }
  return S_OK;
}

bool ModuloDescargable() {
  return g_objetos.load() == 0 && g_bloqueos.load() == 0;
}

HRESULT ObtenerFactoriaAXeTAE(const GUID& clsid, const GUID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != lectoria::CLSID_AXeTAE) return platform::com::CLASS_E_CLASSNOTAVAILABLE;
  return g_factoria.QueryInterface(iid, object);
}

std::vector<platform::com::RegistryKey> GuionRegistroAXeTAE(const std::string& modulo) {
  using Key = platform::com::RegistryKey;
  using Removal = Key::Removal;
  const std::string clase = "AXeTAE Class";
  const std::string clsid = platform::com::GuidToString(lectoria::CLSID_AXeTAE);
  auto texto = [](std::string nombre, std::string valor, Removal r = Removal::kNormal) {
    Key k;
    k.name = std::move(nombre);
    k.removal = r;
    k.has_default = true;
    k.default_text = std::move(valor);
    return k;
  };
  auto vacia = [](std::string nombre, Removal r) {
    Key k;
    k.name = std::move(nombre);
    k.removal = r;
    return k;
  };
  Key version = texto(lectoria::kProgIdAXeTAE, clase);
  version.subkeys.push_back(texto("CLSID", clsid));
  Key independiente = texto(lectoria::kVersionIndependentProgIdAXeTAE, clase);
  independiente.subkeys.push_back(texto("CLSID", clsid));
  independiente.subkeys.push_back(texto("CurVer", lectoria::kProgIdAXeTAE));

  Key clase_key = texto(clsid, clase);
  clase_key.subkeys.push_back(texto("ProgID", lectoria::kProgIdAXeTAE));
  clase_key.subkeys.push_back(
      texto("VersionIndependentProgID", lectoria::kVersionIndependentProgIdAXeTAE));
  clase_key.subkeys.push_back(vacia("Programmable", Removal::kForceRemove));
  clase_key.subkeys.push_back(vacia("Control", Removal::kForceRemove));
  clase_key.subkeys.push_back(vacia("Insertable", Removal::kForceRemove));
  Key servidor = texto("InprocServer32", modulo);
  servidor.values.emplace_back("ThreadingModel", "Apartment");
  clase_key.subkeys.push_back(std::move(servidor));
  clase_key.subkeys.push_back(texto("ToolboxBitmap32", modulo + ", 101", Removal::kForceRemove));
  Key misc = texto("MiscStatus", "0");
  misc.subkeys.push_back(texto("1", "131473"));
  clase_key.subkeys.push_back(std::move(misc));
  clase_key.subkeys.push_back(
      texto("TypeLib", platform::com::GuidToString(lectoria::LIBID_LECTORIALib)));
  clase_key.subkeys.push_back(texto("Version", "1.0"));

  Key raiz_clsid = vacia("CLSID", Removal::kNeverRemove);
  raiz_clsid.subkeys.push_back(std::move(clase_key));
  return {std::move(version), std::move(independiente), std::move(raiz_clsid)};
}

void FijarLibreriaAdjuntada(bool adjuntada) {
  g_adjuntada.store(adjuntada);
}

bool LibreriaAdjuntada() {
  return g_adjuntada.load();
}
