#include "host/TAXeTAECom.h"

#include <cstdio>

#include "host/qorUtils.h"
#include "platform/com/CoCreateInstance.h"

using platform::com::DISPATCH_PROPERTYGET;
using platform::com::DISPPARAMS;
using platform::com::Failed;
using platform::com::HRESULT;
using platform::com::ScopedBstr;
using platform::com::VARIANT;

namespace {

// A text for the control: the ANSI bytes widened, as a string it may keep
// for the length of the call.
class Text {
 public:
  explicit Text(const std::string& ansi) : bstr_(Wide(ansi)) {}
  platform::com::BSTR get() const { return bstr_.get(); }

 private:
  static std::u16string Wide(const std::string& ansi) {
    std::u16string wide;
    AnsiToWide(ansi, wide, kCodePageAnsi);
    return wide;
  }
  ScopedBstr bstr_;
};

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// A property read by its member number; false when the control did not give one.
bool ReadProperty(lectoria::IAXeTAE* control, int32_t dispid, VARIANT& result) {
  DISPPARAMS none;
  const HRESULT hr = control->Invoke(dispid, platform::com::IID_NULL, 0, DISPATCH_PROPERTYGET,
                                     &none, &result, nullptr, nullptr);
  return !Failed(hr);
}

}  // namespace

TAXeTAECom::TAXeTAECom(lectoria::IAXeTAE* control, platform::com::IControlWindow* window)
    : control_(control), window_(window) {}

TAXeTAECom::~TAXeTAECom() {
  window_->Release();
  control_->Release();
}

bool TAXeTAECom::CreateWindow(platform::ui::IControlSite* site,
                              std::shared_ptr<platform::ui::IUiHost> host, std::string& reason) {
  const HRESULT hr = window_->CreateWindow(site, std::move(host));
  if (!Failed(hr)) return true;
  reason = "the control refused its window (" + Hex(hr) + ")";
  return false;
}

bool TAXeTAECom::WindowMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  intptr_t result = 0;
  return window_->WindowMessage(message, wparam, lparam, &result) == platform::com::S_OK;
}

void TAXeTAECom::ServerEHDD(const std::string& ip, int32_t portc, int32_t portd) {
  control_->ServerEHDD(Text(ip).get(), portc, portd);
}
void TAXeTAECom::SetEHDDUnits(const std::string& name) {
  control_->SetEHDDUnits(Text(name).get());
}
void TAXeTAECom::SetEHDDStudent(const std::string& name) {
  control_->SetEHDDStudent(Text(name).get());
}
void TAXeTAECom::InicializarAXeTAE() {
  control_->InicializarAXeTAE();
}
void TAXeTAECom::SetNavigationMode(int32_t value) {
  control_->SetNavigationMode(value);
}
void TAXeTAECom::CargarUnit(int32_t unit) {
  control_->CargarUnit(unit);
}
void TAXeTAECom::UnloadAll() {
  control_->UnloadAll();
}
void TAXeTAECom::PaginaSiguiente() {
  control_->PaginaSiguiente();
}
void TAXeTAECom::PaginaAnterior() {
  control_->PaginaAnterior();
}
void TAXeTAECom::TeclaPulsada(int32_t virtual_key) {
  control_->TeclaPulsada(virtual_key);
}
void TAXeTAECom::CambiarDeParte(int32_t part) {
  control_->CambiarDeParte(part);
}
void TAXeTAECom::EsperaFinEvento() {
  control_->EsperaFinEvento();
}
void TAXeTAECom::SeleccionarAuditoria(int32_t part) {
  control_->SeleccionarAuditoria(part);
}
void TAXeTAECom::SetEHDDMultimedia(const std::string& name) {
  control_->SetEHDDMultimedia(Text(name).get());
}
void TAXeTAECom::SetEHDDCommon(const std::string& name) {
  control_->SetEHDDCommon(Text(name).get());
}

int32_t TAXeTAECom::GetIntProperty(int32_t dispid) {
  VARIANT result;
  int32_t value = 0;
  if (ReadProperty(control_, dispid, result) && result.vt == platform::com::VT_I4)
    value = result.lVal;
  platform::com::VariantClear(&result);
  return value;
}

std::string TAXeTAECom::Version() {
  VARIANT result;
  std::string version;
  if (ReadProperty(control_, kDispidVersion, result) && result.vt == platform::com::VT_BSTR &&
      result.bstrVal != nullptr) {
    const std::u16string wide(result.bstrVal, platform::com::SysStringLen(result.bstrVal));
    WideToAnsi(wide, version, kCodePageAnsi);
  }
  platform::com::VariantClear(&result);
  return version;
}

std::unique_ptr<TAXeTAE> CreateAXeTAE(std::string& reason) {
  void* object = nullptr;
  std::string why;
  const HRESULT hr = platform::com::CoCreateInstance(lectoria::CLSID_AXeTAE, nullptr,
                                                     platform::com::CLSCTX_INPROC_SERVER,
                                                     lectoria::IID_IAXeTAE, &object, &why);
  if (Failed(hr) || object == nullptr) {
    reason =
        (why.empty() ? std::string("the class would not make one") : why) + " (" + Hex(hr) + ")";
    return nullptr;
  }
  auto* control = static_cast<lectoria::IAXeTAE*>(object);
  void* window = nullptr;
  if (Failed(control->QueryInterface(platform::com::IID_IControlWindow, &window)) ||
      window == nullptr) {
    control->Release();
    reason = "the control has no window interface";
    return nullptr;
  }
  return std::make_unique<TAXeTAECom>(control, static_cast<platform::com::IControlWindow*>(window));
}
