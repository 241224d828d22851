// A wake-up signal for one worker thread that is never lost: a wake given
// while the thread is not waiting is remembered and ends its next wait.
// Several wakes before one wait count as one (the thread is either asleep or
// not). This replaces suspending and resuming a thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

class WakeEvent {
 public:
  // Wakes the waiter, or the next wait if nobody waits now.
  void Wake();
  // Blocks until woken; consumes the wake.
  void Wait();
  // Blocks until woken or until timeout_ms has passed; true when woken.
  bool WaitFor(uint32_t timeout_ms);
  // True when a wake is pending (it is not consumed).
  bool Pending() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool woken_ = false;
};

}  // namespace platform
