// Trace lines of the animation player and its loader.
#pragma once

#include <cstdio>

#include "base/OSAL.h"

namespace anim_trace {

constexpr int kTraceAnim = 18;     // play, pause, recap, close
constexpr int kTraceTicAnim = 19;  // the frame step
constexpr int kTraceCarga = 20;    // load figures

template <typename... Args>
void Trace(int categoria, const char* formato, Args... args) {
  char linea[256];
  std::snprintf(linea, sizeof(linea), formato, args...);
  OSAL::Trace(categoria, linea);
}

inline void Trace(int categoria, const char* linea) {
  OSAL::Trace(categoria, linea);
}

}  // namespace anim_trace
