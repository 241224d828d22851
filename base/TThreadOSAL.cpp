#include "base/TThreadOSAL.h"

#include "platform/Clock.h"

TThreadOSAL::TThreadOSAL(uint32_t parametro_) : parametro(parametro_) {}

TThreadOSAL::~TThreadOSAL() { Join(); }

bool TThreadOSAL::Start() {
  std::lock_guard<std::mutex> lock(thread_mutex_);
  if (thread_.joinable()) {
    // A thread that still runs is kept: replacing it would lose it.
    if (!finished_.load()) return false;
    thread_.join();
  }
  finished_.store(false);
  thread_ = std::thread(&TThreadOSAL::ThreadProc, this);
  return true;
}

bool TThreadOSAL::Launch() {
  stop.store(0);
  return Start();
}

void TThreadOSAL::Join() {
  std::thread held;
  {
    std::lock_guard<std::mutex> lock(thread_mutex_);
    held = std::move(thread_);
  }
  if (held.joinable() && held.get_id() != std::this_thread::get_id()) held.join();
  else if (held.joinable()) held.detach();  // a thread cannot wait for itself
}

void TThreadOSAL::StopAndJoin() {
  stop.store(1);
  Join();
}

bool TThreadOSAL::HoldsThread() const {
  std::lock_guard<std::mutex> lock(thread_mutex_);
  return thread_.joinable();
}

void TThreadOSAL::Dormir(uint32_t ms) { platform::SleepMs(ms); }

void TThreadOSAL::ThreadProc(TThreadOSAL* self) {
  self->running.store(1);
  try {
    self->Run();
  } catch (...) {
    // Nothing escapes a thread: a body that throws just ends.
  }
  self->running.store(0);
  self->finished_.store(true);
}

void Dormir(uint32_t ms) { platform::SleepMs(ms); }
