// The command worker: one thread that runs the page, part and unit commands
// the control posts, one at a time, so the host's thread never blocks on a
// mount or on a part still arriving from the server.
//
// A post made while a command is pending is dropped. The pending command is
// cleared only once it has finished, so EsperarFin returns only after the
// page is on screen. The test of the pending command and its store happen
// under one lock; a post given while the worker is between its test and its
// sleep still wakes it (the record remembers wakes).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "base/ThreadRecord.h"

struct SesionAX;

class ThreadEvents {
 public:
  static constexpr uint8_t kNinguno = 0;
  static constexpr uint8_t kEventoPaginaAnterior = 1;
  static constexpr uint8_t kEventoPaginaSiguiente = 2;
  static constexpr uint8_t kEventoCargarUnit = 3;
  static constexpr uint8_t kEventoCambiarParte = 4;
  // How long EsperarFin waits for a command at most.
  static constexpr uint32_t kEsperaFinMs = 60000;

  explicit ThreadEvents(SesionAX& sesion);
  ~ThreadEvents();
  ThreadEvents(const ThreadEvents&) = delete;
  ThreadEvents& operator=(const ThreadEvents&) = delete;

  // Makes the worker asleep; "ThreadEvents creation failed." when it cannot.
  bool Crear();
  // Stores the command and wakes the worker; false (nothing stored) when a
  // command is pending, when there is no worker or it is stopping.
  bool Post(uint8_t comando, uint32_t valor, uint8_t modo);
  // Waits until no command is pending or the worker does not run; false
  // after timeout_ms.
  bool EsperarFin(uint32_t timeout_ms = kEsperaFinMs);
  // Stops the worker (bounded); a command it never started is cleared and
  // its waiters woken. False when the worker did not end.
  bool Terminar();

  uint8_t Pendiente() const { return comando_.load(); }
  // True when no command is pending or nothing will run one.
  bool Libre() const;
  // Asks the worker to stop without waiting: the command it runs leaves at
  // its next wait or step, and no command runs after it.
  void PedirParada();
  // True once the worker's stop is asked: every wait of a command ends.
  bool ParadaPedida() const { return record_.Estado() >= ThreadRecord::kParar; }
  ThreadRecord& record() { return record_; }

  // For tests: runs on the worker between its finding no command and its
  // sleep.
  void SetPausaParaPruebas(std::function<void()> pausa) { pausa_ = std::move(pausa); }

 private:
  void Bucle();
  void Ejecutar(uint8_t comando, uint32_t valor, uint8_t modo);

  SesionAX& sesion_;
  ThreadRecord record_;
  std::mutex cerrojo_;  // the pending command, its value and mode
  std::atomic<uint8_t> comando_{kNinguno};
  uint32_t valor_ = 0;
  uint8_t modo_ = 0;
  std::function<void()> pausa_;
};
