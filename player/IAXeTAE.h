// The lesson control's interface as its hosts see it: the class and
// interface identifiers, the program identifiers, the member numbers, and
// the dual interface with its 43 members in member-number order (the call
// table is IUnknown's three, IDispatch's four, then these). Header-only: the
// host program and the tools call the control without linking the engine.
#pragma once

#include <cstdint>

#include "platform/com/Com.h"

namespace lectoria {

using platform::com::BSTR;
using platform::com::GUID;
using platform::com::HRESULT;

// {95A23E30-1FE4-42CE-B042-92318B67C9C8}
constexpr GUID CLSID_AXeTAE = {
    0x95A23E30, 0x1FE4, 0x42CE, {0xB0, 0x42, 0x92, 0x31, 0x8B, 0x67, 0xC9, 0xC8}};
// {AFCE8112-D483-4BE0-A81C-138289BEE92C}
constexpr GUID IID_IAXeTAE = {
    0xAFCE8112, 0xD483, 0x4BE0, {0xA8, 0x1C, 0x13, 0x82, 0x89, 0xBE, 0xE9, 0x2C}};
// {044D8B9E-574D-4E04-BDBC-22C9D1CD7122}: the events interface, which has no members.
constexpr GUID DIID_IAXeTAEEvents = {
    0x044D8B9E, 0x574D, 0x4E04, {0xBD, 0xBC, 0x22, 0xC9, 0xD1, 0xCD, 0x71, 0x22}};
// {902AC69F-65A3-4208-AC6D-D59EC677988D}
constexpr GUID LIBID_LECTORIALib = {
    0x902AC69F, 0x65A3, 0x4208, {0xAC, 0x6D, 0xD5, 0x9E, 0xC6, 0x77, 0x98, 0x8D}};

constexpr const char* kProgIdAXeTAE = "Lectoria.AXeTAE.1";
constexpr const char* kVersionIndependentProgIdAXeTAE = "Lectoria.AXeTAE";

// Member numbers (DISPIDs).
enum DispIdAXeTAE : int32_t {
  kDispVersion = 1,
  kDispServerEHDD = 2,
  kDispSetEHDDUnits = 3,
  kDispSetEHDDStudent = 4,
  kDispInicializarAXeTAE = 5,
  kDispSetLimiteVelocidad = 6,
  kDispSetNavigationMode = 7,
  kDispCargarUnit = 8,
  kDispUnloadAll = 9,
  kDispPaginaSiguiente = 10,
  kDispPaginaAnterior = 11,
  kDispTeclaPulsada = 12,
  kDispCambiarDeParte = 13,
  kDispNumeroPaginaActual = 14,
  kDispNumTotalPaginas = 15,
  kDispTiempoActivoHoras = 16,
  kDispTiempoActivoMinutos = 17,
  kDispEsperaFinEvento = 18,
  kDispSeleccionarAuditoria = 19,
  kDispPorcentajeAuditoria = 20,
  kDispEsTiempoMuerto = 21,
  kDispAnswersAuditoria = 22,
  kDispErrorsAuditoria = 23,
  kDispSincronizarFichero = 24,
  kDispEsperaSincronizarFichero = 25,
  kDispSetEHDDMultimedia = 26,
  kDispSetEHDDCommon = 27,
  kDispInicializarAXTestMode = 28,
  kDispTestModeConection = 29,
  kDispTestResult = 30,
  kDispTestModePlayAudio = 31,
  kDispTestModePlayAnim = 32,
  kDispTestModeKeyboard = 33,
  kDispTestModeClearCache = 34,
  kDispTestModePlayAudio2 = 35,
  kDispCachePath = 36,
  kDispAxStatus = 37,
  kDispParteUnit = 38,
  kDispCargarMiniCourse = 39,
  kDispPlayOGG = 40,
  kDispPlaySTR = 41,
  kDispPlaySTRGetPos = 42,
  kDispPlaySTRGetLength = 43,
};
constexpr int32_t kMiembrosAXeTAE = 43;

class IAXeTAE : public platform::com::IDispatch {
 public:
  virtual HRESULT get_Version(BSTR* value) = 0;                                   // 1
  virtual HRESULT ServerEHDD(BSTR ip, int32_t portc, int32_t portd) = 0;          // 2
  virtual HRESULT SetEHDDUnits(BSTR nameehdd) = 0;                                // 3
  virtual HRESULT SetEHDDStudent(BSTR nameehdd) = 0;                              // 4
  virtual HRESULT InicializarAXeTAE() = 0;                                        // 5
  virtual HRESULT SetLimiteVelocidad(int32_t value) = 0;                          // 6
  virtual HRESULT SetNavigationMode(int32_t value) = 0;                           // 7
  virtual HRESULT CargarUnit(int32_t value) = 0;                                  // 8
  virtual HRESULT UnloadAll() = 0;                                                // 9
  virtual HRESULT PaginaSiguiente() = 0;                                          // 10
  virtual HRESULT PaginaAnterior() = 0;                                           // 11
  virtual HRESULT TeclaPulsada(int32_t value) = 0;                                // 12
  virtual HRESULT CambiarDeParte(int32_t value) = 0;                              // 13
  virtual HRESULT get_numeropaginaactual(int32_t* value) = 0;                     // 14
  virtual HRESULT get_numtotalpaginas(int32_t* value) = 0;                        // 15
  virtual HRESULT get_tiempoactivohoras(int32_t* value) = 0;                      // 16
  virtual HRESULT get_tiempoactivominutos(int32_t* value) = 0;                    // 17
  virtual HRESULT EsperaFinEvento() = 0;                                          // 18
  virtual HRESULT SeleccionarAuditoria(int32_t value) = 0;                        // 19
  virtual HRESULT get_porcentajeauditoria(int32_t* value) = 0;                    // 20
  virtual HRESULT get_estiempomuerto(int32_t* value) = 0;                         // 21
  virtual HRESULT get_answersauditoria(int32_t* value) = 0;                       // 22
  virtual HRESULT get_errorsauditoria(int32_t* value) = 0;                        // 23
  virtual HRESULT SincronizarFichero(BSTR filename) = 0;                          // 24
  virtual HRESULT EsperaSincronizarFichero(BSTR filename) = 0;                    // 25
  virtual HRESULT SetEHDDMultimedia(BSTR nameehdd) = 0;                           // 26
  virtual HRESULT SetEHDDCommon(BSTR nameehdd) = 0;                               // 27
  virtual HRESULT InicializarAXTestMode() = 0;                                    // 28
  virtual HRESULT TestMode_Conection(BSTR ip, int32_t portc, int32_t portd) = 0;  // 29
  virtual HRESULT get_TestResult(int32_t* value) = 0;                             // 30
  virtual HRESULT TestMode_PlayAudio() = 0;                                       // 31
  virtual HRESULT TestMode_PlayAnim() = 0;                                        // 32
  virtual HRESULT TestMode_Keyboard() = 0;                                        // 33
  virtual HRESULT TestMode_ClearCache(BSTR cachename) = 0;                        // 34
  virtual HRESULT TestMode_PlayAudio2() = 0;                                      // 35
  virtual HRESULT get_cachepath(BSTR* value) = 0;                                 // 36
  virtual HRESULT get_axstatus(int32_t* value) = 0;                               // 37
  virtual HRESULT get_parteunit(int32_t* value) = 0;                              // 38
  virtual HRESULT CargarMiniCourse(BSTR efilename) = 0;                           // 39
  virtual HRESULT PlayOGG(BSTR efilename) = 0;                                    // 40
  virtual HRESULT PlaySTR(BSTR efilename) = 0;                                    // 41
  virtual HRESULT get_PlaySTR_GetPos(int32_t* value) = 0;                         // 42
  virtual HRESULT get_PlaySTR_GetLength(int32_t* value) = 0;                      // 43
};

}  // namespace lectoria
