// The member table of IAXeTAE (what a type library would hold) and the
// IDispatch served from it.
#include "platform/com/Dispatch.h"
#include "player/CAXeTAE.h"

using platform::com::DISP_E_BADINDEX;
using platform::com::DISP_E_BADPARAMCOUNT;
using platform::com::DISP_E_MEMBERNOTFOUND;
using platform::com::DISP_E_TYPEMISMATCH;
using platform::com::DISP_E_UNKNOWNINTERFACE;
using platform::com::E_OUTOFMEMORY;
using platform::com::E_POINTER;
using platform::com::MemberInfo;
using platform::com::MemberKind;
using platform::com::S_OK;

namespace {

constexpr MemberKind M = MemberKind::kMethod;
constexpr MemberKind P = MemberKind::kProperty;

#define MIEMBRO(id, kind, name, args) \
  { id, kind, #name, kind == M ? "method " #name : "property " #name, args }

constexpr MemberInfo kMiembros[lectoria::kMiembrosAXeTAE] = {
    MIEMBRO(1, P, Version, 0),
    MIEMBRO(2, M, ServerEHDD, 3),
    MIEMBRO(3, M, SetEHDDUnits, 1),
    MIEMBRO(4, M, SetEHDDStudent, 1),
    MIEMBRO(5, M, InicializarAXeTAE, 0),
    MIEMBRO(6, M, SetLimiteVelocidad, 1),
    MIEMBRO(7, M, SetNavigationMode, 1),
    MIEMBRO(8, M, CargarUnit, 1),
    MIEMBRO(9, M, UnloadAll, 0),
    MIEMBRO(10, M, PaginaSiguiente, 0),
    MIEMBRO(11, M, PaginaAnterior, 0),
    MIEMBRO(12, M, TeclaPulsada, 1),
    MIEMBRO(13, M, CambiarDeParte, 1),
    MIEMBRO(14, P, numeropaginaactual, 0),
    MIEMBRO(15, P, numtotalpaginas, 0),
    MIEMBRO(16, P, tiempoactivohoras, 0),
    MIEMBRO(17, P, tiempoactivominutos, 0),
    MIEMBRO(18, M, EsperaFinEvento, 0),
    MIEMBRO(19, M, SeleccionarAuditoria, 1),
    MIEMBRO(20, P, porcentajeauditoria, 0),
    MIEMBRO(21, P, estiempomuerto, 0),
    MIEMBRO(22, P, answersauditoria, 0),
    MIEMBRO(23, P, errorsauditoria, 0),
    MIEMBRO(24, M, SincronizarFichero, 1),
    MIEMBRO(25, M, EsperaSincronizarFichero, 1),
    MIEMBRO(26, M, SetEHDDMultimedia, 1),
    MIEMBRO(27, M, SetEHDDCommon, 1),
    MIEMBRO(28, M, InicializarAXTestMode, 0),
    MIEMBRO(29, M, TestMode_Conection, 3),
    MIEMBRO(30, P, TestResult, 0),
    MIEMBRO(31, M, TestMode_PlayAudio, 0),
    MIEMBRO(32, M, TestMode_PlayAnim, 0),
    MIEMBRO(33, M, TestMode_Keyboard, 0),
    MIEMBRO(34, M, TestMode_ClearCache, 1),
    MIEMBRO(35, M, TestMode_PlayAudio2, 0),
    MIEMBRO(36, P, cachepath, 0),
    MIEMBRO(37, P, axstatus, 0),
    MIEMBRO(38, P, parteunit, 0),
    MIEMBRO(39, M, CargarMiniCourse, 1),
    MIEMBRO(40, M, PlayOGG, 1),
    MIEMBRO(41, M, PlaySTR, 1),
    MIEMBRO(42, P, PlaySTR_GetPos, 0),
    MIEMBRO(43, P, PlaySTR_GetLength, 0),
};
#undef MIEMBRO

constexpr size_t kNumMiembros = sizeof(kMiembros) / sizeof(kMiembros[0]);

}  // namespace

const MemberInfo* MiembrosAXeTAE() {
  return kMiembros;
}

const char* FirmaAXeTAE(DISPID member) {
  switch (member) {
    case 2:
    case 29:
      return "BII";
    case 3:
    case 4:
    case 24:
    case 25:
    case 26:
    case 27:
    case 34:
    case 39:
    case 40:
    case 41:
      return "B";
    case 6:
    case 7:
    case 8:
    case 12:
    case 13:
    case 19:
      return "I";
    default:
      return "";
  }
}

HRESULT CAXeTAE::GetTypeInfoCount(uint32_t* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT CAXeTAE::GetTypeInfo(uint32_t index, LCID, platform::com::ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  *info = platform::com::NewTableTypeInfo(kMiembros, kNumMiembros);
  return *info != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CAXeTAE::GetIDsOfNames(const GUID& iid, const char16_t** names, uint32_t count, LCID,
                               DISPID* dispids) {
  if (iid != platform::com::IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  return platform::com::IdsOfNamesFromTable(kMiembros, kNumMiembros, names, count, dispids);
}

HRESULT CAXeTAE::Invoke(DISPID member, const GUID& iid, LCID, uint16_t flags, DISPPARAMS* params,
                        VARIANT* result, void*, uint32_t* argument_error) {
  if (iid != platform::com::IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const MemberInfo* info = platform::com::FindMember(kMiembros, kNumMiembros, member);
  if (info == nullptr) return DISP_E_MEMBERNOTFOUND;
  const uint32_t argumentos = params != nullptr ? params->cArgs : 0;
  if (params != nullptr && params->cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
  if (info->kind == MemberKind::kProperty) {
    if ((flags & platform::com::DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
    if (argumentos != 0) return DISP_E_BADPARAMCOUNT;
    if (result == nullptr) return E_POINTER;
    return Propiedad(member, result);
  }
  if ((flags & platform::com::DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
  if (argumentos != info->arguments) return DISP_E_BADPARAMCOUNT;
  // Arguments come last first; the body takes them in order.
  VARIANT en_orden[3];
  const char* firma = FirmaAXeTAE(member);
  for (uint32_t i = 0; i < argumentos; ++i) {
    const VARIANT& v = params->rgvarg[argumentos - 1 - i];
    const uint16_t esperado = firma[i] == 'B' ? platform::com::VT_BSTR : platform::com::VT_I4;
    if (v.vt != esperado) {
      if (argument_error != nullptr) *argument_error = argumentos - 1 - i;
      return DISP_E_TYPEMISMATCH;
    }
    en_orden[i] = v;
  }
  if (result != nullptr) platform::com::VariantClear(result);
  return Metodo(member, en_orden);
}

HRESULT CAXeTAE::Propiedad(DISPID member, VARIANT* result) {
  platform::com::VariantClear(result);
  if (member == lectoria::kDispVersion || member == lectoria::kDispCachePath) {
    BSTR texto = nullptr;
    const HRESULT hr =
        member == lectoria::kDispVersion ? get_Version(&texto) : get_cachepath(&texto);
    if (hr != S_OK) return hr;
    result->vt = platform::com::VT_BSTR;
    result->bstrVal = texto;
    return S_OK;
  }
  using Getter = HRESULT (CAXeTAE::*)(int32_t*);
  Getter getter = nullptr;
  switch (member) {
    case 14:
      getter = &CAXeTAE::get_numeropaginaactual;
      break;
    case 15:
      getter = &CAXeTAE::get_numtotalpaginas;
      break;
    case 16:
      getter = &CAXeTAE::get_tiempoactivohoras;
      break;
    case 17:
      getter = &CAXeTAE::get_tiempoactivominutos;
      break;
    case 20:
      getter = &CAXeTAE::get_porcentajeauditoria;
      break;
    case 21:
      getter = &CAXeTAE::get_estiempomuerto;
      break;
    case 22:
      getter = &CAXeTAE::get_answersauditoria;
      break;
    case 23:
      getter = &CAXeTAE::get_errorsauditoria;
      break;
    case 30:
      getter = &CAXeTAE::get_TestResult;
      break;
    case 37:
      getter = &CAXeTAE::get_axstatus;
      break;
    case 38:
      getter = &CAXeTAE::get_parteunit;
      break;
    case 42:
      getter = &CAXeTAE::get_PlaySTR_GetPos;
      break;
    case 43:
      getter = &CAXeTAE::get_PlaySTR_GetLength;
      break;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
  int32_t valor = 0;
  const HRESULT hr = (this->*getter)(&valor);
  if (hr != S_OK) return hr;
  result->vt = platform::com::VT_I4;
  result->lVal = valor;
  return S_OK;
}

HRESULT CAXeTAE::Metodo(DISPID member, const VARIANT* a) {
  switch (member) {
    case 2:
      return ServerEHDD(a[0].bstrVal, a[1].lVal, a[2].lVal);
    case 3:
      return SetEHDDUnits(a[0].bstrVal);
    case 4:
      return SetEHDDStudent(a[0].bstrVal);
    case 5:
      return InicializarAXeTAE();
    case 6:
      return SetLimiteVelocidad(a[0].lVal);
    case 7:
      return SetNavigationMode(a[0].lVal);
    case 8:
      return CargarUnit(a[0].lVal);
    case 9:
      return UnloadAll();
    case 10:
      return PaginaSiguiente();
    case 11:
      return PaginaAnterior();
    case 12:
      return TeclaPulsada(a[0].lVal);
    case 13:
      return CambiarDeParte(a[0].lVal);
    case 18:
      return EsperaFinEvento();
    case 19:
      return SeleccionarAuditoria(a[0].lVal);
    case 24:
      return SincronizarFichero(a[0].bstrVal);
    case 25:
      return EsperaSincronizarFichero(a[0].bstrVal);
    case 26:
      return SetEHDDMultimedia(a[0].bstrVal);
    case 27:
      return SetEHDDCommon(a[0].bstrVal);
    case 28:
      return InicializarAXTestMode();
    case 29:
      return TestMode_Conection(a[0].bstrVal, a[1].lVal, a[2].lVal);
    case 31:
      return TestMode_PlayAudio();
    case 32:
      return TestMode_PlayAnim();
    case 33:
      return TestMode_Keyboard();
    case 34:
      return TestMode_ClearCache(a[0].bstrVal);
    case 35:
      return TestMode_PlayAudio2();
    case 39:
      return CargarMiniCourse(a[0].bstrVal);
    case 40:
      return PlayOGG(a[0].bstrVal);
    case 41:
      return PlaySTR(a[0].bstrVal);
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}
