// Waits of the GUI thread while the engine works: the frames its workers
// present and the boxes they ask for are served meanwhile, through the UI
// host when one is installed.
#pragma once

#include <cstdint>
#include <functional>

// Waits until done() holds, at most timeout_ms; true when it held.
bool EsperarEnGui(const std::function<bool()>& done, uint32_t timeout_ms);
// A pause on the platform clock that keeps serving the UI host (free under
// a manual clock).
void PausaEnGui(uint32_t ms);
