#include "platform/WakeEvent.h"

#include <chrono>

namespace platform {

void WakeEvent::Wake() {
  // Under the lock, so a waiter that returns and destroys the event never
  // races the notification.
  std::lock_guard<std::mutex> lock(mutex_);
  woken_ = true;
  cv_.notify_all();
}

void WakeEvent::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return woken_; });
  woken_ = false;
}

bool WakeEvent::WaitFor(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return woken_; })) {
    return false;
  }
  woken_ = false;
  return true;
}

bool WakeEvent::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return woken_;
}

}  // namespace platform
