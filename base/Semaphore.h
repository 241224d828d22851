// A counting semaphore with a maximum count of 99999: the completion signal
// of one eHDD request.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class Semaphore {
 public:
  static constexpr long kMaximo = 99999;

  explicit Semaphore(long inicial = 0);

  // Makes a semaphore with the initial count (clamped to 0..99999).
  static Semaphore* Create(long inicial) { return new Semaphore(inicial); }

  // Adds one to the count and wakes a waiter. A release past the maximum is
  // refused: the count is unchanged and the result is false.
  bool Release();
  // Waits until the count is above 0 and takes one.
  void Wait();
  // As Wait, for at most timeout_ms; true when one was taken.
  bool WaitFor(uint32_t timeout_ms);
  void Close() {}
  long Count() const;
  // Whether Release has ever been called and has returned its lock: the
  // semaphore may then be destroyed without taking a count.
  bool Liberado() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  long count_;
  bool liberado_ = false;
};
