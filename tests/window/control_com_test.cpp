// The installed engine's control as the window reaches it: methods through
// the interface's call table with their texts widened, properties by member
// number through IDispatch, the window through IControlWindow.
#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <vector>

#include "host/TAXeTAECom.h"
#include "platform/ui/Headless.h"

using namespace platform::com;

namespace {

std::string Utf8(BSTR text) {
  if (text == nullptr) return "(null)";
  return QString::fromUtf16(text, SysStringLen(text)).toStdString();
}

class FakeComponent : public lectoria::IAXeTAE, public IControlWindow {
 public:
  std::vector<std::string> calls;
  int references = 1;
  std::u16string version = u"1.08.02.04A";
  HRESULT window_result = S_OK;
  platform::ui::IControlSite* site = nullptr;
  std::shared_ptr<platform::ui::IUiHost> host;

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (iid == lectoria::IID_IAXeTAE || iid == IID_IDispatch || iid == IID_IUnknown) {
      *object = static_cast<lectoria::IAXeTAE*>(this);
    } else if (iid == IID_IControlWindow) {
      *object = static_cast<IControlWindow*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    ++references;
    return S_OK;
  }
  uint32_t AddRef() override { return static_cast<uint32_t>(++references); }
  uint32_t Release() override { return static_cast<uint32_t>(--references); }

  HRESULT CreateWindow(platform::ui::IControlSite* s,
                       std::shared_ptr<platform::ui::IUiHost> h) override {
    site = s;
    host = std::move(h);
    return window_result;
  }
  HRESULT WindowMessage(uint32_t message, uintptr_t wparam, intptr_t lparam,
                        intptr_t* result) override {
    calls.push_back("message " + std::to_string(message) + " " + std::to_string(wparam) + " " +
                    std::to_string(lparam));
    *result = 0;
    return message == WM_MOUSEMOVE ? S_OK : S_FALSE;
  }
  HRESULT Draw() override { return S_OK; }

  HRESULT GetTypeInfoCount(uint32_t* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(const GUID&, const char16_t**, uint32_t, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT Invoke(DISPID member, const GUID&, LCID, uint16_t flags, DISPPARAMS* params,
                 VARIANT* result, void*, uint32_t*) override {
    calls.push_back("invoke " + std::to_string(member) + " " + std::to_string(flags) + " " +
                    std::to_string(params->cArgs));
    if (flags != DISPATCH_PROPERTYGET) return DISP_E_MEMBERNOTFOUND;
    if (member == lectoria::kDispVersion) {
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocStringLen(version.data(), static_cast<uint32_t>(version.size()));
      return S_OK;
    }
    if (member == lectoria::kDispCachePath) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_I4;
    result->lVal = member * 10;
    return S_OK;
  }

#define TEXT_METHOD(name)                    \
  HRESULT name(BSTR text) override {         \
    calls.push_back(#name " " + Utf8(text)); \
    return S_OK;                             \
  }
#define VALUE_METHOD(name)                              \
  HRESULT name(int32_t value) override {                \
    calls.push_back(#name " " + std::to_string(value)); \
    return S_OK;                                        \
  }
#define PLAIN_METHOD(name)  \
  HRESULT name() override { \
    calls.push_back(#name); \
    return S_OK;            \
  }
#define UNUSED_GET(name, type)         \
  HRESULT name(type* value) override { \
    *value = {};                       \
    calls.push_back(#name);            \
    return S_OK;                       \
  }
  UNUSED_GET(get_Version, BSTR)
  HRESULT ServerEHDD(BSTR ip, int32_t portc, int32_t portd) override {
    calls.push_back("ServerEHDD " + Utf8(ip) + " " + std::to_string(portc) + " " +
                    std::to_string(portd));
    return S_OK;
  }
  TEXT_METHOD(SetEHDDUnits)
  TEXT_METHOD(SetEHDDStudent)
  PLAIN_METHOD(InicializarAXeTAE)
  VALUE_METHOD(SetLimiteVelocidad)
  VALUE_METHOD(SetNavigationMode)
  VALUE_METHOD(CargarUnit)
  PLAIN_METHOD(UnloadAll)
  PLAIN_METHOD(PaginaSiguiente)
  PLAIN_METHOD(PaginaAnterior)
  VALUE_METHOD(TeclaPulsada)
  VALUE_METHOD(CambiarDeParte)
  UNUSED_GET(get_numeropaginaactual, int32_t)
  UNUSED_GET(get_numtotalpaginas, int32_t)
  UNUSED_GET(get_tiempoactivohoras, int32_t)
  UNUSED_GET(get_tiempoactivominutos, int32_t)
  PLAIN_METHOD(EsperaFinEvento)
  VALUE_METHOD(SeleccionarAuditoria)
  UNUSED_GET(get_porcentajeauditoria, int32_t)
  UNUSED_GET(get_estiempomuerto, int32_t)
  UNUSED_GET(get_answersauditoria, int32_t)
  UNUSED_GET(get_errorsauditoria, int32_t)
  TEXT_METHOD(SincronizarFichero)
  TEXT_METHOD(EsperaSincronizarFichero)
  TEXT_METHOD(SetEHDDMultimedia)
  TEXT_METHOD(SetEHDDCommon)
  PLAIN_METHOD(InicializarAXTestMode)
  HRESULT TestMode_Conection(BSTR, int32_t, int32_t) override {
    return S_OK;
  }
  UNUSED_GET(get_TestResult, int32_t)
  PLAIN_METHOD(TestMode_PlayAudio)
  PLAIN_METHOD(TestMode_PlayAnim)
  PLAIN_METHOD(TestMode_Keyboard)
  TEXT_METHOD(TestMode_ClearCache)
  PLAIN_METHOD(TestMode_PlayAudio2)
  UNUSED_GET(get_cachepath, BSTR)
  UNUSED_GET(get_axstatus, int32_t)
  UNUSED_GET(get_parteunit, int32_t)
  TEXT_METHOD(CargarMiniCourse)
  TEXT_METHOD(PlayOGG)
  TEXT_METHOD(PlaySTR)
  UNUSED_GET(get_PlaySTR_GetPos, int32_t)
  UNUSED_GET(get_PlaySTR_GetLength, int32_t)
#undef TEXT_METHOD
#undef VALUE_METHOD
#undef PLAIN_METHOD
#undef UNUSED_GET
};

TEST(ControlComTest, MembersGoThroughTheCallTableAndPropertiesByNumber) {
  FakeComponent component;
  component.references = 2;  // the wrapper owns one for each interface
  {
    TAXeTAECom control(&component, &component);
    control.SetEHDDStudent("userdata");
    control.SetEHDDCommon("data\\common.dat");
    control.ServerEHDD("/opt/caf\xE9 \x80/", 1, 3232);
    control.ServerEHDD("", 0, 5252);
    control.InicializarAXeTAE();
    control.SetNavigationMode(0);
    control.SetEHDDUnits("data\\unit007.dat");
    control.SetEHDDMultimedia("data\\mcd01.dat");
    control.CargarUnit(7);
    control.TeclaPulsada(0xBA);
    EXPECT_EQ(control.numtotalpaginas(), 150);
    EXPECT_EQ(control.TestResult(), 300);
    EXPECT_EQ(control.GetIntProperty(lectoria::kDispCachePath), 0);  // not an integer: none
    EXPECT_EQ(control.Version(), "1.08.02.04A");
    component.version = u"2.0 \u00E9\u20AC";
    EXPECT_EQ(control.Version(), "2.0 \xE9\x80");
    component.version = u"1.9 \u4E2D";  // not in the code page: the default character
    EXPECT_EQ(control.Version(), "1.9 ?");
    EXPECT_TRUE(control.WindowMessage(WM_MOUSEMOVE, 0, MouseLParam(3, 4)));
    EXPECT_FALSE(control.WindowMessage(WM_KEYDOWN, 8, 0));
  }
  EXPECT_EQ(component.references, 0);
  const std::vector<std::string> expected = {"SetEHDDStudent userdata",
                                             "SetEHDDCommon data\\common.dat",
                                             "ServerEHDD /opt/caf\xC3\xA9 \xE2\x82\xAC/ 1 3232",
                                             "ServerEHDD  0 5252",
                                             "InicializarAXeTAE",
                                             "SetNavigationMode 0",
                                             "SetEHDDUnits data\\unit007.dat",
                                             "SetEHDDMultimedia data\\mcd01.dat",
                                             "CargarUnit 7",
                                             "TeclaPulsada 186",
                                             "invoke 15 2 0",
                                             "invoke 30 2 0",
                                             "invoke 36 2 0",
                                             "invoke 1 2 0",
                                             "invoke 1 2 0",
                                             "invoke 1 2 0",
                                             "message 512 0 262147",
                                             "message 256 8 0"};
  EXPECT_EQ(component.calls, expected);
}

TEST(ControlComTest, TheWindowIsCreatedOnTheSiteOrRefusedWithAReason) {
  FakeComponent component;
  component.references = 2;
  TAXeTAECom control(&component, &component);
  platform::ui::HeadlessControlSite site(687, 534);
  auto host = std::make_shared<platform::ui::HeadlessUiHost>();
  std::string reason;
  EXPECT_TRUE(control.CreateWindow(&site, host, reason));
  EXPECT_EQ(component.site, &site);
  EXPECT_EQ(component.host, host);
  component.window_result = E_FAIL;
  EXPECT_FALSE(control.CreateWindow(&site, host, reason));
  EXPECT_EQ(reason, "the control refused its window (0x80004005)");
}

TEST(ControlComTest, AnUnregisteredClassMakesNoControl) {
  std::string reason;
  EXPECT_EQ(CreateAXeTAE(reason), nullptr);  // the tests' registry is empty
  EXPECT_NE(reason.find("not registered"), std::string::npos) << reason;
  EXPECT_NE(reason.find("0x80040154"), std::string::npos) << reason;
}

}  // namespace
