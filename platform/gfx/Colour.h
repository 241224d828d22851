// Colours at the drawing interface are COLORREF values (0x00BBGGRR); surface
// pixels are XRGB words (0x00RRGGBB). These convert between the two.
#pragma once

#include <cstdint>

namespace platform::gfx {

using COLORREF = uint32_t;

constexpr COLORREF Rgb(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
         (static_cast<COLORREF>(b) << 16);
}

constexpr uint32_t ToXrgb(COLORREF c) {
  return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

constexpr COLORREF FromXrgb(uint32_t p) {
  return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16);
}

}  // namespace platform::gfx
