// A lesson control for the window's tests: it records every call in order
// ("SetEHDDStudent userdata", "get 30", ...), keeps a page, a page total and
// a part that the page and part calls move, serves scripted audit figures per
// selected part, and runs test hooks inside EsperaFinEvento and UnloadAll.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/TAXeTAE.h"

struct FakeControlState {
  std::string version = "1.08.02.04A";
  int32_t test_result = 0;  // read once, 99 afterwards
  int32_t page = 1;
  int32_t total = 12;
  int32_t part = 0;
  int32_t hours = 0;
  int32_t minutes = 0;
  // percent, answers, errors of each part
  std::array<std::array<int32_t, 3>, 8> audit{};
  bool refuse_window = false;
  std::function<void()> on_wait;        // inside EsperaFinEvento
  std::function<void()> on_unload;      // inside UnloadAll
  std::function<void(int32_t)> on_key;  // inside TeclaPulsada

  std::vector<std::string> calls;
  std::vector<std::string> messages;  // window messages: "0x201 1 0x00200010"
  uint16_t key_char_seen = 0;         // the site's key character inside TeclaPulsada
  platform::ui::IControlSite* site = nullptr;
  std::shared_ptr<platform::ui::IUiHost> host;
  int selected = 0;

  // The calls made since the last Take.
  std::vector<std::string> Take();
  size_t taken = 0;
};

class FakeAXeTAE : public TAXeTAE {
 public:
  explicit FakeAXeTAE(std::shared_ptr<FakeControlState> state) : s_(std::move(state)) {}
  ~FakeAXeTAE() override;

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
  void Log(std::string call) { s_->calls.push_back(std::move(call)); }
  std::shared_ptr<FakeControlState> s_;
};
