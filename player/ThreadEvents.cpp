#include "player/ThreadEvents.h"

#include <string>

#include "platform/ui/UiHost.h"
#include "player/InterfaceAXNavegacion.h"
#include "player/SesionAX.h"

ThreadEvents::ThreadEvents(SesionAX& sesion) : sesion_(sesion) {}

ThreadEvents::~ThreadEvents() {
  // A worker still running here would use a freed record: stop it first.
  if (record_.TieneThread()) Terminar();
}

bool ThreadEvents::Crear() {
  return record_.Crear("ThreadEvents", "ThreadEvents creation failed.", sesion_.osal,
                       [this] { Bucle(); });
}

bool ThreadEvents::Post(uint8_t comando, uint32_t valor, uint8_t modo) {
  if (comando == kNinguno || !record_.TieneThread() || record_.Estado() >= ThreadRecord::kParar) {
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(cerrojo_);
    if (comando_.load() != kNinguno) return false;  // one pending command at a time
    valor_ = valor;
    modo_ = modo;
    comando_.store(comando);
  }
  record_.DespertarThread();
  return true;
}

bool ThreadEvents::Libre() const {
  if (comando_.load() == kNinguno) return true;
  return !record_.TieneThread() || record_.Estado() == ThreadRecord::kTerminado;
}

void ThreadEvents::PedirParada() {
  if (!record_.TieneThread()) return;
  // A worker never woken skips its body; a running one leaves its loop.
  uint8_t estado = ThreadRecord::kNuevo;
  if (!record_.state.compare_exchange_strong(estado, ThreadRecord::kParar) &&
      estado == ThreadRecord::kCorriendo) {
    record_.state.compare_exchange_strong(estado, ThreadRecord::kParar);
  }
  record_.Notificar();
  record_.DespertarThread();
}

bool ThreadEvents::EsperarFin(uint32_t timeout_ms) {
  return record_.EsperarCondicion([this] { return Libre(); }, timeout_ms);
}

bool ThreadEvents::Terminar() {
  OSAL::Trace(kTraceModulos, "Esperando a ThreadEvents terminar.");
  if (!record_.Parar()) return false;
  {
    std::lock_guard<std::mutex> lock(cerrojo_);
    comando_.store(kNinguno);  // a command the worker never started
  }
  record_.Notificar();
  if (auto host = platform::ui::UiHost()) host->Wake();
  OSAL::Trace(kTraceModulos, "ThreadEvents Terminado.");
  return true;
}

void ThreadEvents::Bucle() {
  while (record_.Estado() == ThreadRecord::kCorriendo) {
    uint8_t comando = kNinguno;
    uint32_t valor = 0;
    uint8_t modo = 0;
    {
      std::lock_guard<std::mutex> lock(cerrojo_);
      comando = comando_.load();
      valor = valor_;
      modo = modo_;
    }
    if (comando == kNinguno) {
      if (pausa_) pausa_();
      record_.SuspenderThread();
      continue;
    }
    Ejecutar(comando, valor, modo);
    {
      std::lock_guard<std::mutex> lock(cerrojo_);
      comando_.store(kNinguno);
    }
    record_.Notificar();
    if (auto host = platform::ui::UiHost()) host->Wake();
  }
}

void ThreadEvents::Ejecutar(uint8_t comando, uint32_t valor, uint8_t modo) {
  try {
    switch (comando) {
      case kEventoPaginaAnterior:
        InterfaceAXPaginaAnterior(sesion_, modo);
        break;
      case kEventoPaginaSiguiente:
        InterfaceAXPaginaSiguiente(sesion_, modo);
        break;
      case kEventoCargarUnit:
        InterfaceAXCargarUnit(sesion_, valor);
        break;
      case kEventoCambiarParte:
        InterfaceAXCambiarDeParte(sesion_, valor);
        break;
      default:
        break;
    }
  } catch (const std::string& texto) {
    TrazarF(kTraceError, "ThreadEvents: comando %u interrumpido: %s", comando, texto.c_str());
  } catch (...) {
    TrazarF(kTraceError, "ThreadEvents: comando %u interrumpido.", comando);
  }
}
