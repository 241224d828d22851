// The control's surface: its member table and IDispatch, identity, the
// instance modes, the text arguments and their fields, the figures before a
// unit is loaded, the glossary folders and the window messages.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <type_traits>
#include <vector>

#include "platform/com/Dispatch.h"
#include "tests/player/control_fixture.h"

using namespace platform::com;

namespace {

struct Fila {
  int dispid;
  const char* kind;
  const char* name;
};

// The members as the interface lists them.
constexpr Fila kEsperado[43] = {
    {1, "property", "Version"},
    {2, "method", "ServerEHDD"},
    {3, "method", "SetEHDDUnits"},
    {4, "method", "SetEHDDStudent"},
    {5, "method", "InicializarAXeTAE"},
    {6, "method", "SetLimiteVelocidad"},
    {7, "method", "SetNavigationMode"},
    {8, "method", "CargarUnit"},
    {9, "method", "UnloadAll"},
    {10, "method", "PaginaSiguiente"},
    {11, "method", "PaginaAnterior"},
    {12, "method", "TeclaPulsada"},
    {13, "method", "CambiarDeParte"},
    {14, "property", "numeropaginaactual"},
    {15, "property", "numtotalpaginas"},
    {16, "property", "tiempoactivohoras"},
    {17, "property", "tiempoactivominutos"},
    {18, "method", "EsperaFinEvento"},
    {19, "method", "SeleccionarAuditoria"},
    {20, "property", "porcentajeauditoria"},
    {21, "property", "estiempomuerto"},
    {22, "property", "answersauditoria"},
    {23, "property", "errorsauditoria"},
    {24, "method", "SincronizarFichero"},
    {25, "method", "EsperaSincronizarFichero"},
    {26, "method", "SetEHDDMultimedia"},
    {27, "method", "SetEHDDCommon"},
    {28, "method", "InicializarAXTestMode"},
    {29, "method", "TestMode_Conection"},
    {30, "property", "TestResult"},
    {31, "method", "TestMode_PlayAudio"},
    {32, "method", "TestMode_PlayAnim"},
    {33, "method", "TestMode_Keyboard"},
    {34, "method", "TestMode_ClearCache"},
    {35, "method", "TestMode_PlayAudio2"},
    {36, "property", "cachepath"},
    {37, "property", "axstatus"},
    {38, "property", "parteunit"},
    {39, "method", "CargarMiniCourse"},
    {40, "method", "PlayOGG"},
    {41, "method", "PlaySTR"},
    {42, "property", "PlaySTR_GetPos"},
    {43, "property", "PlaySTR_GetLength"},
};

std::string Texto(BSTR b) {
  std::string s;
  for (uint32_t i = 0; i < SysStringLen(b); ++i) s.push_back(static_cast<char>(b[i]));
  return s;
}

using ControlMembers = ControlTest;

TEST_F(ControlMembers, TheTypeInformationListsTheFortyThreeMembersInOrder) {
  CAXeTAE* c = Nuevo(false);
  uint32_t n = 0;
  ASSERT_EQ(c->GetTypeInfoCount(&n), S_OK);
  EXPECT_EQ(n, 1u);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(c->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
  ASSERT_EQ(c->GetTypeInfo(0, 0, &info), S_OK);
  ASSERT_EQ(info->MemberCount(), 43u);
  for (uint32_t i = 0; i < 43; ++i) {
    const MemberInfo* m = info->Member(i);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->dispid, kEsperado[i].dispid);
    EXPECT_STREQ(m->name, kEsperado[i].name);
    EXPECT_STREQ(m->kind == MemberKind::kProperty ? "property" : "method", kEsperado[i].kind);
    EXPECT_EQ(std::string(m->help), std::string(kEsperado[i].kind) + " " + kEsperado[i].name);
  }
  EXPECT_EQ(info->Member(43), nullptr);
  info->Release();
}

// The slot of a virtual member in its class's call table (the Itanium
// pointer to a virtual member holds 1 + its byte offset in the table).
template <typename M>
size_t Slot(M member) {
  struct {
    uintptr_t ptr;
    ptrdiff_t adj;
  } raw;
  static_assert(sizeof(member) == sizeof(raw));
  std::memcpy(&raw, &member, sizeof(raw));
  return (raw.ptr - 1) / sizeof(void*);
}

template <typename... M>
std::vector<size_t> Slots(M... members) {
  return {Slot(members)...};
}

// Hosts call the members through the table, compiled apart from the engine:
// IUnknown's three, IDispatch's four, then the 43 in member-number order,
// and no destructor among them.
TEST(ControlTable, TheCallTableIsTheBaseEntriesThenTheMembersInOrder) {
  using I = lectoria::IAXeTAE;
  static_assert(!std::has_virtual_destructor_v<I>);
  static_assert(!std::has_virtual_destructor_v<IControlWindow>);
  EXPECT_EQ(Slots(&IUnknown::QueryInterface, &IUnknown::AddRef, &IUnknown::Release,
                  &IDispatch::GetTypeInfoCount, &IDispatch::GetTypeInfo, &IDispatch::GetIDsOfNames,
                  &IDispatch::Invoke),
            (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6}));
  const std::vector<size_t> slots = Slots(
      &I::get_Version, &I::ServerEHDD, &I::SetEHDDUnits, &I::SetEHDDStudent, &I::InicializarAXeTAE,
      &I::SetLimiteVelocidad, &I::SetNavigationMode, &I::CargarUnit, &I::UnloadAll,
      &I::PaginaSiguiente, &I::PaginaAnterior, &I::TeclaPulsada, &I::CambiarDeParte,
      &I::get_numeropaginaactual, &I::get_numtotalpaginas, &I::get_tiempoactivohoras,
      &I::get_tiempoactivominutos, &I::EsperaFinEvento, &I::SeleccionarAuditoria,
      &I::get_porcentajeauditoria, &I::get_estiempomuerto, &I::get_answersauditoria,
      &I::get_errorsauditoria, &I::SincronizarFichero, &I::EsperaSincronizarFichero,
      &I::SetEHDDMultimedia, &I::SetEHDDCommon, &I::InicializarAXTestMode, &I::TestMode_Conection,
      &I::get_TestResult, &I::TestMode_PlayAudio, &I::TestMode_PlayAnim, &I::TestMode_Keyboard,
      &I::TestMode_ClearCache, &I::TestMode_PlayAudio2, &I::get_cachepath, &I::get_axstatus,
      &I::get_parteunit, &I::CargarMiniCourse, &I::PlayOGG, &I::PlaySTR, &I::get_PlaySTR_GetPos,
      &I::get_PlaySTR_GetLength);
  ASSERT_EQ(slots.size(), 43u);
  for (size_t i = 0; i < slots.size(); ++i) EXPECT_EQ(slots[i], 7 + i) << "DISPID " << i + 1;
}

TEST_F(ControlMembers, NamesAreFoundWithoutRegardToCase) {
  CAXeTAE* c = Nuevo(false);
  const char16_t* nombre = u"NUMTOTALPAGINAS";
  DISPID id = 0;
  EXPECT_EQ(c->GetIDsOfNames(IID_NULL, &nombre, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 15);
  const char16_t* otro = u"numtotalpagina";
  EXPECT_EQ(c->GetIDsOfNames(IID_NULL, &otro, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  EXPECT_FALSE(NameEqualsIgnoringCase(nullptr, "Version"));
}

TEST_F(ControlMembers, InvokeChecksTheKindCountAndTypesOfTheArguments) {
  CAXeTAE* c = Nuevo();
  DISPPARAMS none;
  VARIANT v;
  EXPECT_EQ(c->Invoke(99, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(c->Invoke(15, IID_NULL, 0, DISPATCH_METHOD, &none, &v, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(c->Invoke(15, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  // SetEHDDCommon takes one text.
  VARIANT arg;
  arg.vt = VT_I4;
  arg.lVal = 3;
  DISPPARAMS one;
  one.rgvarg = &arg;
  one.cArgs = 1;
  uint32_t error = 99;
  EXPECT_EQ(c->Invoke(27, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, &error),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(c->Invoke(27, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
  ScopedBstr texto(u"data\\common.dat");
  arg.vt = VT_BSTR;
  arg.bstrVal = texto.get();
  EXPECT_EQ(c->Invoke(27, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Motor().nombre_common, "data\\common.dat");
  ASSERT_EQ(c->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr), S_OK);
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(Texto(v.bstrVal), "1.08.02.04A");
  VariantClear(&v);
}

TEST_F(ControlMembers, BothInterfacesShareOneIdentity) {
  CAXeTAE* c = Nuevo(false);
  void* desde_control = nullptr;
  void* ventana = nullptr;
  void* desde_ventana = nullptr;
  ASSERT_EQ(c->QueryInterface(IID_IUnknown, &desde_control), S_OK);
  ASSERT_EQ(c->QueryInterface(IID_IControlWindow, &ventana), S_OK);
  ASSERT_EQ(static_cast<IControlWindow*>(ventana)->QueryInterface(IID_IUnknown, &desde_ventana),
            S_OK);
  EXPECT_EQ(desde_control, desde_ventana);
  void* nada = reinterpret_cast<void*>(1);
  EXPECT_EQ(c->QueryInterface(IID_IClassFactory, &nada), E_NOINTERFACE);
  EXPECT_EQ(nada, nullptr);
  static_cast<IUnknown*>(desde_control)->Release();
  static_cast<IUnknown*>(desde_ventana)->Release();
  static_cast<IControlWindow*>(ventana)->Release();
}

TEST_F(ControlMembers, TheModuleUnloadsOnlyWithNoObjectAndNoLock) {
  EXPECT_TRUE(ModuloDescargable());
  CAXeTAE* c = Nuevo(false);
  EXPECT_FALSE(ModuloDescargable());
  Soltar(c);
  EXPECT_TRUE(ModuloDescargable());
  void* f = nullptr;
  ASSERT_EQ(ObtenerFactoriaAXeTAE(lectoria::CLSID_AXeTAE, IID_IClassFactory, &f), S_OK);
  auto* factoria = static_cast<IClassFactory*>(f);
  EXPECT_FALSE(ModuloDescargable());
  factoria->LockServer(true);
  factoria->Release();
  EXPECT_FALSE(ModuloDescargable());
  factoria->LockServer(false);
  EXPECT_TRUE(ModuloDescargable());
  EXPECT_EQ(ObtenerFactoriaAXeTAE(lectoria::IID_IAXeTAE, IID_IClassFactory, &f),
            CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(ControlMembers, TheFirstIsUnitTheSecondMiniAndAThirdIsRefused) {
  CAXeTAE* unit = Nuevo();
  CAXeTAE* mini = Nuevo();
  ASSERT_NE(unit, nullptr);
  ASSERT_NE(mini, nullptr);
  EXPECT_EQ(unit->Modo(), kModoUnit);
  EXPECT_EQ(mini->Modo(), kModoMini);
  EXPECT_EQ(Leer(unit, lectoria::kDispAxStatus), 1);
  // The third: the box, then a refused creation; the process goes on.
  EXPECT_EQ(CAXeTAE::Crear(), nullptr);
  ASSERT_FALSE(Cajas().empty());
  EXPECT_EQ(Cajas().back(), "DEBUG: Creacion instancia AX erronea");
  void* f = nullptr;
  ASSERT_EQ(ObtenerFactoriaAXeTAE(lectoria::CLSID_AXeTAE, IID_IClassFactory, &f), S_OK);
  void* o = reinterpret_cast<void*>(1);
  EXPECT_EQ(static_cast<IClassFactory*>(f)->CreateInstance(nullptr, lectoria::IID_IAXeTAE, &o),
            E_FAIL);
  EXPECT_EQ(o, nullptr);
  static_cast<IClassFactory*>(f)->Release();
  // Once the unit control is unloaded the next control is a unit again.
  Soltar(mini);
  unit->UnloadAll();
  Soltar(unit);
  CAXeTAE* otra = Nuevo();
  ASSERT_NE(otra, nullptr);
  EXPECT_EQ(otra->Modo(), kModoUnit);
}

TEST_F(ControlMembers, ManyRefusedOrShortLivedControlsNeverResetTheEngine) {
  CAXeTAE* unit = Nuevo();
  unit->SetEHDDCommon(B("data\\common.dat").get());
  OSAL* osal = Motor().sesion.osal;
  ASSERT_NE(osal, nullptr);
  // Far more constructions than the count holds: a mini-course control made
  // and released, and a third control refused, again and again.
  for (int i = 0; i < 300; ++i) {
    CAXeTAE* mini = CAXeTAE::Crear();
    ASSERT_NE(mini, nullptr) << i;
    EXPECT_EQ(CAXeTAE::Crear(), nullptr) << i;
    mini->Release();
  }
  EXPECT_EQ(Motor().sesion.osal, osal);
  EXPECT_EQ(Motor().nombre_common, "data\\common.dat");
  EXPECT_EQ(Leer(unit, lectoria::kDispAxStatus), 1);
  EXPECT_EQ(Motor().texto_instancia, "UNIT");
}

TEST_F(ControlMembers, UnloadAllThenTheReleaseUnloadsOnce) {
  CAXeTAE* primera = Nuevo();
  primera->UnloadAll();
  EXPECT_TRUE(primera->Descargado());
  EXPECT_EQ(Motor().sesion.osal, nullptr);
  // A new unit control lives now; the first one's release must not unload it.
  CAXeTAE* segunda = Nuevo();
  ASSERT_NE(Motor().sesion.osal, nullptr);
  Soltar(primera);
  EXPECT_NE(Motor().sesion.osal, nullptr);
  // A start after this control's UnloadAll is refused.
  segunda->UnloadAll();
  UnidadFixture unidad;
  IniciarLocal(segunda, unidad.raiz());
  EXPECT_EQ(Motor().sesion.sesion_activa.load(), 0);
  EXPECT_EQ(Leer(segunda, lectoria::kDispTestResult), 99);
}

TEST_F(ControlMembers, TextsLongerThanTheirFieldsAreNotKept) {
  CAXeTAE* c = Nuevo();
  c->SetEHDDStudent(B(std::string(299, 's')).get());
  EXPECT_EQ(Motor().sesion.nombre_alumno.size(), 299u);
  c->SetEHDDStudent(B(std::string(300, 's')).get());
  EXPECT_EQ(Motor().sesion.nombre_alumno, "");
  c->SetEHDDStudent(B(std::string(2000, 's')).get());
  EXPECT_EQ(Motor().sesion.nombre_alumno, "");
  c->SetEHDDCommon(B(std::string(49, 'c')).get());
  EXPECT_EQ(Motor().nombre_common.size(), 49u);
  c->SetEHDDCommon(B(std::string(50, 'c')).get());
  EXPECT_EQ(Motor().nombre_common, "");
  c->SetEHDDUnits(B(std::string(50, 'u')).get());
  EXPECT_EQ(Motor().sesion.Unit().nombre_units, "");
  c->ServerEHDD(B(std::string(99, 'h')).get(), 80, 10);
  EXPECT_EQ(Motor().canal.servidor.size(), 99u);
  c->ServerEHDD(B(std::string(100, 'h')).get(), 80, 10);
  EXPECT_EQ(Motor().canal.servidor, "");
  // With the student emptied the start does nothing.
  c->SetEHDDCommon(B("data\\common.dat").get());
  c->ServerEHDD(B("127.0.0.1").get(), 80, 10);
  c->SetEHDDStudent(B(std::string(2000, 's')).get());
  c->InicializarAXeTAE();
  EXPECT_EQ(Leer(c, lectoria::kDispAxStatus), 1);
  EXPECT_EQ(Leer(c, lectoria::kDispTestResult), 99);
}

TEST_F(ControlMembers, TextArgumentsGoByTheirLengthToTheAnsiCodePage) {
  EXPECT_EQ(TextoAnsi(nullptr), "");
  const char16_t con_cero[] = {u'a', u'b', 0, u'c'};
  BSTR b = SysAllocStringLen(con_cero, 4);
  EXPECT_EQ(SysStringLen(b), 4u);
  EXPECT_EQ(TextoAnsi(b), "ab");
  SysFreeString(b);
  ScopedBstr euro(u"\u20AC\u00E9\u4E2D");
  EXPECT_EQ(TextoAnsi(euro.get()), "\x80\xE9?");
  EXPECT_EQ(TextoUtf8(euro.get()), "\xE2\x82\xAC\xC3\xA9\xE4\xB8\xAD");
}

TEST_F(ControlMembers, VersionAndCachePathAreWholeBeforeTheWindow) {
  CAXeTAE* c = Nuevo(false);
  BSTR v = nullptr;
  ASSERT_EQ(c->get_Version(&v), S_OK);
  EXPECT_EQ(Texto(v), "1.08.02.04A");
  SysFreeString(v);
  ASSERT_EQ(c->get_cachepath(&v), S_OK);
  EXPECT_EQ(Texto(v), temp_ + "eHDD");
  SysFreeString(v);
  EXPECT_EQ(c->get_Version(nullptr), E_POINTER);
  EXPECT_EQ(c->get_axstatus(nullptr), E_POINTER);
  EXPECT_EQ(c->get_TestResult(nullptr), E_POINTER);
}

TEST_F(ControlMembers, TheCachePathIsTheFoldersOwnUnicodeText) {
  const std::string carpeta = temp_ + "caf\xC3\xA9 \xE4\xB8\xAD/";
  ASSERT_TRUE(std::filesystem::create_directory(carpeta));
  setenv("TMPDIR", carpeta.c_str(), 1);
  CAXeTAE* c = Nuevo(false);
  ScopedBstr ruta;
  ASSERT_EQ(c->get_cachepath(ruta.out()), S_OK);
  const std::u16string esperado =
      std::u16string(temp_.begin(), temp_.end()) + u"caf\u00E9 \u4E2D/eHDD";
  EXPECT_EQ(ruta.str(), esperado);
  setenv("TMPDIR", temp_.c_str(), 1);
}

TEST_F(ControlMembers, BeforeAUnitTheFiguresAreZeroAndTheLearnerIdle) {
  CAXeTAE* c = Nuevo();
  for (int id : {14, 15, 16, 17, 20, 22, 23, 42, 43}) EXPECT_EQ(Leer(c, id), 0) << id;
  EXPECT_EQ(Leer(c, lectoria::kDispEsTiempoMuerto), 1);
  EXPECT_EQ(Leer(c, lectoria::kDispTestResult), 99);
  c->SetNavigationMode(1);
  EXPECT_EQ(Motor().sesion.modo_navegacion.load(), 0);
}

TEST_F(ControlMembers, GlossaryWordsAreFoundInTheirFolders) {
  EXPECT_EQ(ElegirCarpetaGlosario("G:\\X00737.OGG"), "G:\\GLO00\\X00737.OGG");
  EXPECT_EQ(ElegirCarpetaGlosario("G:\\X00738.OGG"), "G:\\GLO01\\X00738.OGG");
  EXPECT_EQ(ElegirCarpetaGlosario("G:\\X04500.OGG"), "G:\\GLO05\\X04500.OGG");
  EXPECT_EQ(ElegirCarpetaGlosario("G:\\X21486.OGG"), "G:\\GLO20\\X21486.OGG");
  // Past the last folder, or not a glossary name: nothing is played.
  EXPECT_EQ(ElegirCarpetaGlosario("G:\\X21487.OGG"), "");
  EXPECT_EQ(ElegirCarpetaGlosario("G:\\XABCDE.OGG"), "");
  EXPECT_EQ(ElegirCarpetaGlosario("G:X00001.OGG"), "");
  EXPECT_EQ(ElegirCarpetaGlosario("G:\\X0001"), "");
  // The tenth character becomes the dot.
  EXPECT_EQ(ElegirCarpetaGlosario("G:\\X00012_OGG"), "G:\\GLO00\\X00012.OGG");
}

TEST_F(ControlMembers, WindowMessagesOutsideTheTableAreNotHandled) {
  CAXeTAE* c = Nuevo();
  intptr_t r = 7;
  EXPECT_EQ(c->WindowMessage(WM_CLOSE, 0, 0, &r), S_OK);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(c->WindowMessage(0x0400, 0, 0, &r), S_FALSE);
  EXPECT_EQ(c->WindowMessage(0x202B, 0, 0, &r), S_OK);
  EXPECT_EQ(c->WindowMessage(WM_MOUSEMOVE, 0, MouseLParam(10, 20), nullptr), E_POINTER);
  EXPECT_EQ(c->Draw(), S_OK);
  // A second window for the same control is refused.
  platform::ui::HeadlessControlSite otro(687, 534);
  EXPECT_EQ(c->CreateWindow(&otro, host_), E_FAIL);
}

}  // namespace
