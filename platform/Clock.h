// Millisecond tick and sleep of the engine, replaceable by tests.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

// The source of time behind TickCount and SleepMs.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since some fixed start, wrapping at 2^32 like GetTickCount.
  virtual uint32_t Now() = 0;
  virtual void Sleep(uint32_t ms) = 0;
};

// u32 millisecond tick of the installed clock (the system clock by default).
uint32_t TickCount();
// Sleeps on the installed clock.
void SleepMs(uint32_t ms);

// Installs a clock for the whole process; nullptr restores the system clock.
// The clock must outlive its installation.
void SetClock(Clock* clock);

// A clock that only moves when told to. Sleep advances it by the time slept
// (and yields), so code that sleeps until a deadline still reaches it.
class ManualClock : public Clock {
 public:
  explicit ManualClock(uint32_t start = 0) : now_(start) {}
  uint32_t Now() override { return now_.load(); }
  void Sleep(uint32_t ms) override;
  void Advance(uint32_t ms) { now_.fetch_add(ms); }
  void Set(uint32_t value) { now_.store(value); }

 private:
  std::atomic<uint32_t> now_;
};

// Installs a clock for the lifetime of the object (for tests).
class ScopedClock {
 public:
  explicit ScopedClock(Clock* clock) { SetClock(clock); }
  ~ScopedClock() { SetClock(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace platform
