// The screens that cover the lesson area while the learner waits: the unit
// loading screen (the cover revealed from left to right as the load goes
// on), the page-loading box of a part still arriving, and the end-of-unit
// texts. Other threads raise requests; this thread serves them every 100 ms
// and sleeps when there are none.
//
// Each request wakes the thread (a wake given before it sleeps is kept).
// The page-wait request and its delay change under one lock with the
// thread's test, so no box is drawn once FinEsperaPagina has returned. Every
// wait on this thread is woken by it and returns once it does not run. The
// sleeps are on the platform clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "base/TGestorGDI.h"
#include "base/ThreadRecord.h"

struct SesionAX;

class ThreadPeriodicEvents {
 public:
  static constexpr uint16_t kAncho = 687;
  static constexpr uint16_t kAlto = 534;
  static constexpr uint32_t kEsperadoInicialMs = 180000;
  static constexpr uint32_t kTurnoMs = 100;
  static constexpr uint8_t kRetardoCaja = 3;
  static const char* const kTextosFinUnit[6];  // by phase (1: none)

  explicit ThreadPeriodicEvents(SesionAX& sesion);
  ~ThreadPeriodicEvents();
  ThreadPeriodicEvents(const ThreadPeriodicEvents&) = delete;
  ThreadPeriodicEvents& operator=(const ThreadPeriodicEvents&) = delete;

  // Takes a 687 x 534 slot on the unit window at (0, 0) and makes the
  // thread asleep; "ThreadPeriodicEvents creation failed." when it cannot.
  bool Crear();
  void DespertarThread() { record_.DespertarThread(); }
  bool EsperarThreadArrancado() { return record_.EsperarThreadArrancado(); }
  // Stops the thread (bounded), then frees the cover and the slot.
  bool Terminar();

  // The loading screen of a unit: steps 0, the unit, the request on; wakes.
  void PedirProgresoUnit(uint8_t unidad);
  // Waits until the loading screen has ended or the thread does not run,
  // or until parar() holds (the waiter's own stop); true when it ended.
  bool EsperarFinProgreso(const std::function<bool()>& parar = {});
  // The load's progress in steps (0 to 100), advanced by the unit loader
  // and the animation loader.
  std::atomic<uint8_t>& Progreso() { return progreso_; }
  void SumarProgreso(uint8_t pasos);
  void FijarProgreso(uint8_t pasos);

  // Before a page is prepared: outside part 0, a copy of the page surface
  // and a request that shows the box only if the wait lasts three turns.
  void InicioEsperaPagina(uint8_t parte, uint16_t superficie_pagina);
  // After the page is ready: a box not yet drawn is called off; one being
  // drawn is waited for.
  void FinEsperaPagina();

  // The end-of-unit screen: the other requests off, the end-unit request on
  // at phase 0; wakes.
  void PedirFinUnit();
  // Shows phase p at least 1000 ms after the phase before it was drawn;
  // false when the thread does not run.
  bool FaseFinUnit(uint8_t fase);
  // Serves the GUI until the phase last asked for is on screen, for at most
  // ms; false when it is not (or the thread does not run).
  bool EsperarFaseDibujada(uint32_t ms);

  // One step of each screen (the thread's turns; callable without it).
  void ProgresoCargaUnit();
  void PintarCargandoPagina();
  void PantallaFinUnit();

  uint16_t Superficie() const { return superficie_; }
  uint16_t PosicionBarra() const { return posicion_.load(); }
  uint32_t TiempoEsperado() const { return esperado_.load(); }
  bool PeticionProgreso() const { return peticion_progreso_.load() != 0; }
  bool PeticionEsperaPagina() const { return peticion_espera_.load() != 0; }
  bool PeticionFinUnit() const { return peticion_fin_.load() != 0; }
  uint8_t FaseFin() const { return fase_fin_.load(); }
  HBITMAP Portada() const { return portada_; }
  ThreadRecord& record() { return record_; }

  // For tests: told what was just drawn (a phase 0-5 of the end-of-unit
  // screen, or kCajaDibujada).
  static constexpr int kCajaDibujada = 100;
  void SetObservadorParaPruebas(std::function<void(int)> observador) {
    observador_ = std::move(observador);
  }

 private:
  void Bucle();
  void TextoFinUnit(uint8_t fase);
  void Dormir();
  bool Corriendo() const;
  void Observar(int que) {
    if (observador_) observador_(que);
  }

  SesionAX& sesion_;
  ThreadRecord record_;
  uint16_t superficie_ = TGestorGDI::kBufferInvalido;
  std::atomic<uint8_t> peticion_progreso_{0};
  std::atomic<uint8_t> unidad_{0};
  std::atomic<uint8_t> progreso_{0};
  std::atomic<uint16_t> posicion_{0};
  float objetivo_ = 0.0f;
  std::atomic<uint32_t> esperado_{kEsperadoInicialMs};
  HBITMAP portada_ = nullptr;
  uint32_t inicio_ = 0;
  std::mutex cerrojo_espera_;  // the page-wait request and its delay
  std::atomic<uint8_t> peticion_espera_{0};
  std::atomic<uint8_t> retardo_espera_{0};
  std::atomic<uint8_t> peticion_fin_{0};
  std::atomic<uint8_t> fase_fin_{1};
  std::function<void(int)> observador_;
};
