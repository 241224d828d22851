#include "player/EsperaGui.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/Clock.h"
#include "platform/ui/UiHost.h"

namespace {

constexpr uint32_t kPasoPausaMs = 50;

}  // namespace

bool EsperarEnGui(const std::function<bool()>& done, uint32_t timeout_ms) {
  if (auto host = platform::ui::UiHost()) return host->WaitOnGuiThread(done, timeout_ms);
  const auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= limite) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void PausaEnGui(uint32_t ms) {
  auto host = platform::ui::UiHost();
  for (uint32_t hecho = 0; hecho < ms; hecho += kPasoPausaMs) {
    if (host) host->WaitOnGuiThread([] { return false; }, 0);
    platform::SleepMs(std::min(kPasoPausaMs, ms - hecho));
  }
}
