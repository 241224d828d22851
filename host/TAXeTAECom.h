// The lesson control of the installed engine, reached through the component
// layer: its methods through its interface's call table, its properties by
// member number through IDispatch, its window through IControlWindow. Texts
// go to it as UTF-16 from the ANSI code page and come back the same way.
#pragma once

#include "host/TAXeTAE.h"
#include "platform/com/IControlWindow.h"
#include "player/IAXeTAE.h"

class TAXeTAECom : public TAXeTAE {
 public:
  // Takes over one reference of each.
  TAXeTAECom(lectoria::IAXeTAE* control, platform::com::IControlWindow* window);
  // Releases the control; its library stays loaded.
  ~TAXeTAECom() override;
  TAXeTAECom(const TAXeTAECom&) = delete;
  TAXeTAECom& operator=(const TAXeTAECom&) = delete;

  bool CreateWindow(platform::ui::IControlSite* site, std::shared_ptr<platform::ui::IUiHost> host,
                    std::string& reason) override;
  bool WindowMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
  void ServerEHDD(const std::string& ip, int32_t portc, int32_t portd) override;
  void SetEHDDUnits(const std::string& name) override;
  void SetEHDDStudent(const std::string& name) override;
  void InicializarAXeTAE() override;
  void SetNavigationMode(int32_t value) override;
  void CargarUnit(int32_t unit) override;
  void UnloadAll() override;
  void PaginaSiguiente() override;
  void PaginaAnterior() override;
  void TeclaPulsada(int32_t virtual_key) override;
  void CambiarDeParte(int32_t part) override;
  void EsperaFinEvento() override;
  void SeleccionarAuditoria(int32_t part) override;
  void SetEHDDMultimedia(const std::string& name) override;
  void SetEHDDCommon(const std::string& name) override;
  int32_t GetIntProperty(int32_t dispid) override;
  std::string Version() override;

 private:
  lectoria::IAXeTAE* control_;
  platform::com::IControlWindow* window_;
};
