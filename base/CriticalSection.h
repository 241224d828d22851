// The engine's lock: recursive, and counted per thread, so that a box asked
// for while a thread holds one is put off until it holds none (see
// platform::ShowMessageBox). Every engine lock that another thread can wait
// for is one of these; the mutex inside is never reached directly.
#pragma once

#include <mutex>

#include "platform/MessageBox.h"

class CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  CriticalSection& Initialize() { return *this; }
  void Delete() {}
  void Enter() {
    mutex_.lock();
    platform::EngineLockTaken();
  }
  // Shows the boxes put off when this was the thread's last engine lock.
  void Leave() {
    mutex_.unlock();
    platform::EngineLockReleased();
  }

  // Lockable, for std::lock_guard / std::unique_lock.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() {
    if (!mutex_.try_lock()) return false;
    platform::EngineLockTaken();
    return true;
  }

 private:
  std::recursive_mutex mutex_;
};

// Enters on construction, leaves on destruction, also when an exception
// passes through.
class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~CriticalSectionGuard() { section_.Leave(); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

 private:
  CriticalSection& section_;
};
