// The lesson control: one object per control the host creates, in one of
// two instance modes (the first control of the process is UNIT, the second
// MINI; a third is refused). It serves the IAXeTAE interface (its 43
// members through the call table, and by DISPID through IDispatch from a
// member table) and IControlWindow (its window, messages and painting).
//
// Every member runs on the host's GUI thread and returns S_OK; failures show
// through TestResult, axstatus and boxes. Nothing thrown leaves a member.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <vector>
#include "platform/com/Com.h"
#include "platform/com/IControlWindow.h"
#include "platform/com/Registration.h"
#include "player/IAXeTAE.h"

using platform::com::BSTR;
using platform::com::DISPID;
using platform::com::DISPPARAMS;
using platform::com::GUID;
using platform::com::HRESULT;
using platform::com::LCID;
using platform::com::VARIANT;

class CAXeTAE final : public lectoria::IAXeTAE, public platform::com::IControlWindow {
 public:
  // Makes a control (one reference). Null after the box "Creacion
  // instancia AX erronea" when two controls exist already.
  static CAXeTAE* Crear();

  // IUnknown (one identity for both interfaces).
  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  // IDispatch.
  HRESULT GetTypeInfoCount(uint32_t* count) override;
  HRESULT GetTypeInfo(uint32_t index, LCID lcid, platform::com::ITypeInfo** info) override;
  HRESULT GetIDsOfNames(const GUID& iid, const char16_t** names, uint32_t count, LCID lcid,
                        DISPID* dispids) override;
  HRESULT Invoke(DISPID member, const GUID& iid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                 VARIANT* result, void* exception_info, uint32_t* argument_error) override;

  // IAXeTAE (CAXeTAE_members.cpp).
  HRESULT get_Version(BSTR* value) override;
  HRESULT ServerEHDD(BSTR ip, int32_t portc, int32_t portd) override;
  HRESULT SetEHDDUnits(BSTR nameehdd) override;
  HRESULT SetEHDDStudent(BSTR nameehdd) override;
  HRESULT InicializarAXeTAE() override;
  HRESULT SetLimiteVelocidad(int32_t value) override;
  HRESULT SetNavigationMode(int32_t value) override;
  HRESULT CargarUnit(int32_t value) override;
  HRESULT UnloadAll() override;
  HRESULT PaginaSiguiente() override;
  HRESULT PaginaAnterior() override;
  HRESULT TeclaPulsada(int32_t value) override;
  HRESULT CambiarDeParte(int32_t value) override;
  HRESULT get_numeropaginaactual(int32_t* value) override;
  HRESULT get_numtotalpaginas(int32_t* value) override;
  HRESULT get_tiempoactivohoras(int32_t* value) override;
  HRESULT get_tiempoactivominutos(int32_t* value) override;
  HRESULT EsperaFinEvento() override;
  HRESULT SeleccionarAuditoria(int32_t value) override;
  HRESULT get_porcentajeauditoria(int32_t* value) override;
  HRESULT get_estiempomuerto(int32_t* value) override;
  HRESULT get_answersauditoria(int32_t* value) override;
  HRESULT get_errorsauditoria(int32_t* value) override;
  HRESULT SincronizarFichero(BSTR filename) override;
  HRESULT EsperaSincronizarFichero(BSTR filename) override;
  HRESULT SetEHDDMultimedia(BSTR nameehdd) override;
  HRESULT SetEHDDCommon(BSTR nameehdd) override;
  HRESULT InicializarAXTestMode() override;
  HRESULT TestMode_Conection(BSTR ip, int32_t portc, int32_t portd) override;
  HRESULT get_TestResult(int32_t* value) override;
  HRESULT TestMode_PlayAudio() override;
  HRESULT TestMode_PlayAnim() override;
  HRESULT TestMode_Keyboard() override;
  HRESULT TestMode_ClearCache(BSTR cachename) override;
  HRESULT TestMode_PlayAudio2() override;
  HRESULT get_cachepath(BSTR* value) override;
  HRESULT get_axstatus(int32_t* value) override;
  HRESULT get_parteunit(int32_t* value) override;
  HRESULT CargarMiniCourse(BSTR efilename) override;
  HRESULT PlayOGG(BSTR efilename) override;
  HRESULT PlaySTR(BSTR efilename) override;
  HRESULT get_PlaySTR_GetPos(int32_t* value) override;
  HRESULT get_PlaySTR_GetLength(int32_t* value) override;

  // IControlWindow.
  HRESULT CreateWindow(platform::ui::IControlSite* site,
                       std::shared_ptr<platform::ui::IUiHost> host) override;
  HRESULT WindowMessage(uint32_t message, uintptr_t wparam, intptr_t lparam,
                        intptr_t* result) override;
  HRESULT Draw() override;

  uint8_t Modo() const { return modo_; }
  bool Descargado() const { return descargado_ != 0; }

 private:
  explicit CAXeTAE(uint8_t modo) : modo_(modo) {}
  ~CAXeTAE() = default;
  void FinalRelease();
  // The I4 member's figure, by DISPID (for Invoke).
  HRESULT Propiedad(DISPID member, VARIANT* result);
  HRESULT Metodo(DISPID member, const VARIANT* args);

  std::atomic<uint32_t> refs_{1};
  const uint8_t modo_;
  uint8_t descargado_ = 0;
  bool ventana_creada_ = false;
  platform::ui::IControlSite* site_ = nullptr;
  std::shared_ptr<platform::ui::IUiHost> host_;
};

// The member table: one row per member in DISPID order.
const platform::com::MemberInfo* MiembrosAXeTAE();
// The argument types of a member: 'B' a text, 'I' a 32-bit number, in order.
const char* FirmaAXeTAE(DISPID member);

// A text argument as 8-bit text of the ANSI code page (characters it lacks
// become '?'), by its length: null is empty, a zero unit ends it.
std::string TextoAnsi(BSTR texto);
// The same text in UTF-8 (for paths of the file system).
std::string TextoUtf8(BSTR texto);
// The glossary path PlayOGG plays for a name "L:\Annnnn.EXT"; empty for a
// malformed name or a word number past the glossary's last folder.
std::string ElegirCarpetaGlosario(const std::string& nombre);

// The module: live objects and server locks; it can be unloaded at zero.
bool ModuloDescargable();
// The class factory of AXeTAE for DllGetClassObject.
HRESULT ObtenerFactoriaAXeTAE(const GUID& clsid, const GUID& iid, void** object);
// The registry keys of the class for a library at that path.
std::vector<platform::com::RegistryKey> GuionRegistroAXeTAE(const std::string& modulo);
// Between the library's load and unload.
void FijarLibreriaAdjuntada(bool adjuntada);
bool LibreriaAdjuntada();
