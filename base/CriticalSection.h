// A recursive lock: the same thread may enter it again.
#pragma once

#include <mutex>

class CriticalSection {
 public:
  CriticalSection& Initialize() { return *this; }
  void Delete() {}
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }

  // BasicLockable, for std::lock_guard / std::unique_lock.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return mutex_.try_lock(); }

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
