// The lesson control as the main window sees it: the members of the control's
// interface that the window calls, its properties read by dispatch
// identifier, and its window (created on a control site, fed mouse
// messages, platform::com::WM_MOUSEMOVE and the rest). Texts are 8-bit ANSI (cp1252); the
// implementation over the component converts them. Results of the calls are not examined.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/com/IControlWindow.h"
#include "platform/ui/ControlSite.h"
#include "platform/ui/UiHost.h"

// Dispatch identifiers of the properties the window reads.
constexpr int32_t kDispidVersion = 1;
constexpr int32_t kDispidNumeroPaginaActual = 14;
constexpr int32_t kDispidNumTotalPaginas = 15;
constexpr int32_t kDispidTiempoActivoHoras = 16;
constexpr int32_t kDispidTiempoActivoMinutos = 17;
constexpr int32_t kDispidPorcentajeAuditoria = 20;
constexpr int32_t kDispidAnswersAuditoria = 22;
constexpr int32_t kDispidErrorsAuditoria = 23;
constexpr int32_t kDispidTestResult = 30;
constexpr int32_t kDispidParteUnit = 38;

// Button state flags of a mouse message's wParam.
constexpr uintptr_t kMkLButton = 0x0001;
constexpr uintptr_t kMkRButton = 0x0002;

class TAXeTAE {
 public:
  virtual ~TAXeTAE() = default;

  // The control's window on the site (the moment its window is created);
  // false, with the reason, when the control refuses it.
  virtual bool CreateWindow(platform::ui::IControlSite* site,
                            std::shared_ptr<platform::ui::IUiHost> host, std::string& reason) = 0;
  // A window message for the control window; false when it was not handled.
  virtual bool WindowMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;

  virtual void ServerEHDD(const std::string& ip, int32_t portc, int32_t portd) = 0;
  virtual void SetEHDDUnits(const std::string& name) = 0;
  virtual void SetEHDDStudent(const std::string& name) = 0;
  virtual void InicializarAXeTAE() = 0;
  virtual void SetNavigationMode(int32_t value) = 0;
  virtual void CargarUnit(int32_t unit) = 0;
  virtual void UnloadAll() = 0;
  virtual void PaginaSiguiente() = 0;
  virtual void PaginaAnterior() = 0;
  virtual void TeclaPulsada(int32_t virtual_key) = 0;
  virtual void CambiarDeParte(int32_t part) = 0;
  virtual void EsperaFinEvento() = 0;
  virtual void SeleccionarAuditoria(int32_t part) = 0;
  virtual void SetEHDDMultimedia(const std::string& name) = 0;
  virtual void SetEHDDCommon(const std::string& name) = 0;

  // An integer property by dispatch identifier (0 when it cannot be read).
  virtual int32_t GetIntProperty(int32_t dispid) = 0;
  // The Version property as ANSI text (empty when it cannot be read).
  virtual std::string Version() = 0;

  int32_t numeropaginaactual() { return GetIntProperty(kDispidNumeroPaginaActual); }
  int32_t numtotalpaginas() { return GetIntProperty(kDispidNumTotalPaginas); }
  int32_t tiempoactivohoras() { return GetIntProperty(kDispidTiempoActivoHoras); }
  int32_t tiempoactivominutos() { return GetIntProperty(kDispidTiempoActivoMinutos); }
  int32_t porcentajeauditoria() { return GetIntProperty(kDispidPorcentajeAuditoria); }
  int32_t answersauditoria() { return GetIntProperty(kDispidAnswersAuditoria); }
  int32_t errorsauditoria() { return GetIntProperty(kDispidErrorsAuditoria); }
  int32_t TestResult() { return GetIntProperty(kDispidTestResult); }
  int32_t parteunit() { return GetIntProperty(kDispidParteUnit); }
};

// Creates the lesson control of the installed engine; null, with the reason,
// when it cannot be created (not registered, library missing or broken).
std::unique_ptr<TAXeTAE> CreateAXeTAE(std::string& reason);
