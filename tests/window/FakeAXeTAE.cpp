#include "FakeAXeTAE.h"

#include <cstdio>

std::vector<std::string> FakeControlState::Take() {
  std::vector<std::string> out(calls.begin() + static_cast<long>(taken), calls.end());
  taken = calls.size();
  return out;
}

FakeAXeTAE::~FakeAXeTAE() {
  s_->calls.push_back("Release");
}

bool FakeAXeTAE::CreateWindow(platform::ui::IControlSite* site,
                              std::shared_ptr<platform::ui::IUiHost> host, std::string& reason) {
  Log("CreateWindow");
  if (s_->refuse_window) {
    reason = "the window was refused";
    return false;
  }
  s_->site = site;
  s_->host = std::move(host);
  return true;
}

bool FakeAXeTAE::WindowMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  char text[64];
  std::snprintf(text, sizeof(text), "0x%03X %u 0x%08X", message, static_cast<unsigned>(wparam),
                static_cast<unsigned>(lparam));
  s_->messages.push_back(text);
  return true;
}

void FakeAXeTAE::ServerEHDD(const std::string& ip, int32_t portc, int32_t portd) {
  Log("ServerEHDD " + ip + " " + std::to_string(portc) + " " + std::to_string(portd));
}
void FakeAXeTAE::SetEHDDUnits(const std::string& name) {
  Log("SetEHDDUnits " + name);
}
void FakeAXeTAE::SetEHDDStudent(const std::string& name) {
  Log("SetEHDDStudent " + name);
}
void FakeAXeTAE::InicializarAXeTAE() {
  Log("InicializarAXeTAE");
}
void FakeAXeTAE::SetNavigationMode(int32_t value) {
  Log("SetNavigationMode " + std::to_string(value));
}
void FakeAXeTAE::CargarUnit(int32_t unit) {
  Log("CargarUnit " + std::to_string(unit));
  s_->page = 1;
  s_->part = 0;
}
void FakeAXeTAE::UnloadAll() {
  Log("UnloadAll");
  if (s_->on_unload) s_->on_unload();
}
void FakeAXeTAE::PaginaSiguiente() {
  Log("PaginaSiguiente");
  if (s_->page < s_->total) ++s_->page;
}
void FakeAXeTAE::PaginaAnterior() {
  Log("PaginaAnterior");
  if (s_->page > 1) --s_->page;
}
void FakeAXeTAE::TeclaPulsada(int32_t virtual_key) {
  char text[32];
  std::snprintf(text, sizeof(text), "TeclaPulsada 0x%02X", virtual_key);
  Log(text);
  if (s_->site != nullptr) s_->key_char_seen = s_->site->KeyChar();
  if (s_->on_key) s_->on_key(virtual_key);
}
void FakeAXeTAE::CambiarDeParte(int32_t part) {
  Log("CambiarDeParte " + std::to_string(part));
  s_->part = part;
}
void FakeAXeTAE::EsperaFinEvento() {
  Log("EsperaFinEvento");
  if (s_->on_wait) s_->on_wait();
}
void FakeAXeTAE::SeleccionarAuditoria(int32_t part) {
  Log("SeleccionarAuditoria " + std::to_string(part));
  s_->selected = part;
}
void FakeAXeTAE::SetEHDDMultimedia(const std::string& name) {
  Log("SetEHDDMultimedia " + name);
}
void FakeAXeTAE::SetEHDDCommon(const std::string& name) {
  Log("SetEHDDCommon " + name);
}

int32_t FakeAXeTAE::GetIntProperty(int32_t dispid) {
  Log("get " + std::to_string(dispid));
  const auto& audit = s_->audit[static_cast<size_t>(s_->selected & 7)];
  switch (dispid) {
    case kDispidNumeroPaginaActual:
      return s_->page;
    case kDispidNumTotalPaginas:
      return s_->total;
    case kDispidTiempoActivoHoras:
      return s_->hours;
    case kDispidTiempoActivoMinutos:
      return s_->minutes;
    case kDispidPorcentajeAuditoria:
      return audit[0];
    case kDispidAnswersAuditoria:
      return audit[1];
    case kDispidErrorsAuditoria:
      return audit[2];
    case kDispidTestResult: {
      const int32_t result = s_->test_result;
      s_->test_result = 99;
      return result;
    }
    case kDispidParteUnit:
      return s_->part;
    default:
      return 0;
  }
}

std::string FakeAXeTAE::Version() {
  Log("get 1");
  return s_->version;
}
