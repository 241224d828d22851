#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace platform {
namespace {

class SystemClock : public Clock {
 public:
  uint32_t Now() override {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
  }
  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

SystemClock g_system_clock;
std::atomic<Clock*> g_clock{&g_system_clock};

}  // namespace

uint32_t TickCount() { return g_clock.load()->Now(); }

void SleepMs(uint32_t ms) { g_clock.load()->Sleep(ms); }

void SetClock(Clock* clock) { g_clock.store(clock ? clock : &g_system_clock); }

void ManualClock::Sleep(uint32_t ms) {
  now_.fetch_add(ms);
  std::this_thread::yield();
}

}  // namespace platform
