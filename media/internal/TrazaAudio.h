// A formatted line for OSAL::Trace, for the audio code's traces with values.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "base/OSAL.h"

namespace media_internal {

inline void Traza(int categoria, const char* formato, ...) __attribute__((format(printf, 2, 3)));

inline void Traza(int categoria, const char* formato, ...) {
  char linea[512];
  va_list args;
  va_start(args, formato);
  std::vsnprintf(linea, sizeof linea, formato, args);
  va_end(args);
  OSAL::Trace(categoria, linea);
}

}  // namespace media_internal
