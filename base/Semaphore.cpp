#include "base/Semaphore.h"

#include <algorithm>
#include <chrono>

Semaphore::Semaphore(long inicial) : count_(std::clamp(inicial, 0L, kMaximo)) {}

bool Semaphore::Release() {
  // Notify under the lock: the waiter may destroy the semaphore as soon as
  // it has taken its count (a request's reply lives on the waiter's stack).
  std::lock_guard<std::mutex> lock(mutex_);
  if (count_ >= kMaximo) return false;
  ++count_;
  liberado_ = true;
  cv_.notify_one();
  return true;
}

void Semaphore::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return count_ > 0; });
  --count_;
}

bool Semaphore::WaitFor(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return count_ > 0; })) {
    return false;
  }
  --count_;
  return true;
}

long Semaphore::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

bool Semaphore::Liberado() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return liberado_;
}
