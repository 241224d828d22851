#include "base/ThreadRecord.h"

#include <chrono>
#include <system_error>

#include "base/OSAL.h"
#include "platform/MessageBox.h"

namespace {

std::atomic<int> g_failing_creations{0};
std::atomic<uint32_t> g_next_thread_id{1};

void Report(OSAL* osal, const std::string& text) {
  if (text.empty()) return;
  if (osal != nullptr) {
    osal->MostrarError(text.c_str());
  } else {
    platform::ShowMessageBox(text, "ERROR", platform::kMbOk);
  }
}

}  // namespace

void ThreadRecord::FailCreationsForTesting(int n) {
  g_failing_creations.store(n);
}

ThreadRecord::~ThreadRecord() {
  if (!thread_.joinable()) return;
  if (Estado() == kTerminado) {
    thread_.join();
  } else {
    thread_.detach();
  }
}

bool ThreadRecord::Crear(const std::string& name, const char* creation_failed_text, OSAL* osal,
                         std::function<void()> body) {
  name_ = name;
  SetEstado(kNuevo);
  const std::string failed = creation_failed_text != nullptr ? creation_failed_text : "";
  if (thread_.joinable() || has_thread_.load()) {
    Report(osal, failed);
    return false;
  }
  int failing = g_failing_creations.load();
  while (failing > 0 && !g_failing_creations.compare_exchange_weak(failing, failing - 1)) {
  }
  if (failing > 0) {
    Report(osal, failed);
    return false;
  }
  try {
    thread_ = std::thread([this, body = std::move(body)] {
      wake_.Wait();
      uint8_t expected = kNuevo;
      if (state.compare_exchange_strong(expected, kCorriendo, std::memory_order_acq_rel)) {
        Notificar();
        try {
          body();
        } catch (...) {
          // A worker's body reports its own failures; nothing may escape
          // the thread.
        }
      }
      SetEstado(kTerminado);
    });
  } catch (const std::system_error&) {
    Report(osal, failed);
    return false;
  }
  thread_id_.store(g_next_thread_id.fetch_add(1));
  has_thread_.store(true);
  return true;
}

bool ThreadRecord::TieneThread() const {
  return has_thread_.load();
}

void ThreadRecord::SetEstado(uint8_t value) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state.store(value, std::memory_order_release);
  }
  changed_.notify_all();
}

void ThreadRecord::Notificar() {
  { std::lock_guard<std::mutex> lock(mutex_); }
  changed_.notify_all();
}

void ThreadRecord::DespertarThread() {
  if (TieneThread()) wake_.Wake();
}

void ThreadRecord::SuspenderThread() {
  if (Estado() != kCorriendo) return;
  wake_.Wait();
}

bool ThreadRecord::SuspenderThreadFor(uint32_t timeout_ms) {
  if (Estado() != kCorriendo) return true;
  return wake_.WaitFor(timeout_ms);
}

bool ThreadRecord::EsperarCondicion(const std::function<bool()>& pred, uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), pred);
}

bool ThreadRecord::EsperarThreadArrancado(uint32_t timeout_ms) {
  if (!TieneThread()) return true;
  return EsperarCondicion([this] { return Estado() != kNuevo; }, timeout_ms);
}

bool ThreadRecord::Join(uint32_t timeout_ms, bool ask_stop) {
  if (!TieneThread()) return true;
  // A thread never woken skips its body: the stop comes before its start.
  uint8_t expected = kNuevo;
  bool never_started = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    never_started = state.compare_exchange_strong(expected, kParar, std::memory_order_acq_rel);
    if (!never_started && ask_stop && expected == kCorriendo) {
      state.store(kParar, std::memory_order_release);
    }
  }
  changed_.notify_all();
  if (ask_stop || never_started) DespertarThread();
  if (!EsperarCondicion([this] { return Estado() == kTerminado; }, timeout_ms)) {
    platform::ShowMessageBox(name_ + " no termina.", "ERROR", platform::kMbOk);
    return false;
  }
  if (thread_.joinable()) thread_.join();
  has_thread_.store(false);
  return true;
}

bool ThreadRecord::Parar(uint32_t timeout_ms) {
  return Join(timeout_ms, true);
}

bool ThreadRecord::EsperarFin(uint32_t timeout_ms) {
  return Join(timeout_ms, false);
}
