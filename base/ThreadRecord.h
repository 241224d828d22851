// The record every worker thread of the engine that is not a TThreadOSAL
// shares: a state byte (0 new, 1 running, 2 stop asked, 3 ended), the thread
// and its id, then the worker's own fields (a worker derives from it or holds
// one).
//
// A worker is created asleep and runs its body only after its first
// DespertarThread. A worker that goes idle calls SuspenderThread on itself;
// a DespertarThread given before it gets there is remembered, so no wake is
// ever lost. Every wait here is bounded or woken by the thread it waits on,
// and returns at once when there is no thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/WakeEvent.h"

class OSAL;

class ThreadRecord {
 public:
  static constexpr uint8_t kNuevo = 0;
  static constexpr uint8_t kCorriendo = 1;
  static constexpr uint8_t kParar = 2;
  static constexpr uint8_t kTerminado = 3;
  static constexpr uint32_t kEsperaParadaMs = 10000;

  ThreadRecord() = default;
  // Joins a thread that has ended. A thread that is still running (its stop
  // timed out) is detached: its owner must then keep the record alive.
  ~ThreadRecord();
  ThreadRecord(const ThreadRecord&) = delete;
  ThreadRecord& operator=(const ThreadRecord&) = delete;

  // Makes the thread, asleep until the first DespertarThread; it then sets
  // the state to 1 (unless a stop was asked first), runs body, and sets the
  // state to 3. The body loops while Estado() is 1. When the thread cannot be
  // made, the creation-failed text goes to osal->MostrarError (or the
  // message sink when osal is null), the record holds no thread and false is
  // returned. The name is used in the stop's time-out box.
  bool Crear(const std::string& name, const char* creation_failed_text, OSAL* osal,
             std::function<void()> body);

  bool TieneThread() const;
  uint8_t Estado() const { return state.load(std::memory_order_acquire); }
  void SetEstado(uint8_t value);

  // Wakes the thread: its first start, or the end of its next (or current)
  // SuspenderThread.
  void DespertarThread();
  // Called by the worker on itself: sleeps until woken.
  void SuspenderThread();
  // The same, for at most timeout_ms (the workers' polling sleeps); true
  // when woken.
  bool SuspenderThreadFor(uint32_t timeout_ms);

  // Waits until the thread runs (state 1 or past it). Returns at once when
  // there is no thread; gives up after timeout_ms (false).
  bool EsperarThreadArrancado(uint32_t timeout_ms = kEsperaParadaMs);

  // The stop of a looping worker: state 2, wake, wait until the thread sets
  // 3, join. True when no thread runs any more (also when there was none).
  // After timeout_ms the box "<name> no termina." is shown and false is
  // returned: the caller must then free nothing the worker uses.
  bool Parar(uint32_t timeout_ms = kEsperaParadaMs);
  // The stop of a worker that ends by itself (the unit loader): waits for
  // state 3 without asking for it, then joins; as Parar otherwise.
  bool EsperarFin(uint32_t timeout_ms = kEsperaParadaMs);

  // Waits until pred() holds or timeout_ms has passed, woken by every state
  // change and by Notificar; true when pred held. Lets waits on a worker's
  // own fields end as soon as the worker changes them or stops running.
  bool EsperarCondicion(const std::function<bool()>& pred, uint32_t timeout_ms);
  // Wakes every EsperarCondicion (after a worker changed what they test).
  void Notificar();

  uint32_t thread_id() const { return thread_id_.load(); }
  const std::string& name() const { return name_; }

  // For tests: the next n creations fail as if the system refused them.
  static void FailCreationsForTesting(int n);

  // The state byte. Prefer SetEstado, which also wakes the waits.
  std::atomic<uint8_t> state{kNuevo};

 private:
  bool Join(uint32_t timeout_ms, bool ask_stop);

  std::string name_;
  std::thread thread_;
  std::atomic<uint32_t> thread_id_{0};
  std::atomic<bool> has_thread_{false};
  platform::WakeEvent wake_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
};
