// A 32-bit XRGB pixel surface and the drawing operations on it.
//
// Every operation clips to the surfaces it touches, so a rectangle or a line
// that runs past an edge draws only its visible part and reads nothing past
// the source's pixels. Colours are COLORREF at this interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gfx/Colour.h"

namespace platform::gfx {

struct Rect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  bool Empty() const { return w <= 0 || h <= 0; }
  bool operator==(const Rect&) const = default;
};

class Surface {
 public:
  Surface() = default;
  // A surface of the size, every pixel black. Negative sizes give an empty one.
  Surface(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  uint32_t* Row(int y) { return pixels_.data() + static_cast<size_t>(y) * width_; }
  const uint32_t* Row(int y) const { return pixels_.data() + static_cast<size_t>(y) * width_; }
  const std::vector<uint32_t>& Pixels() const { return pixels_; }

  // Single pixels; outside the surface a write does nothing and a read gives 0.
  void SetPixel(int x, int y, COLORREF colour);
  COLORREF GetPixel(int x, int y) const;

  // Fills the rectangle, clipped to the surface.
  void Fill(Rect r, COLORREF colour);

  // A 1-pixel line from (x1, y1) towards (x2, y2); the end point is not drawn.
  void DrawLine(int x1, int y1, int x2, int y2, COLORREF colour);

  // Blends the colour over the pixel with a coverage of 0 (keep) to 255 (replace).
  void BlendPixel(int x, int y, COLORREF colour, uint8_t coverage);

  // The intersection of the rectangle with the surface.
  Rect Clip(Rect r) const;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint32_t> pixels_;
};

// Copies the w x h rectangle at (sx, sy) of src to (dx, dy) of dst, clipped
// to both surfaces. src and dst may be the same surface with overlapping
// rectangles: the result is as if the source had been copied aside first.
void CopyRect(Surface& dst, int dx, int dy, const Surface& src, int sx, int sy, int w, int h);

// Writes the surface as an 8-bit RGB PNG; false (with errno-free reason in
// *error when given) when the file cannot be written.
bool WritePng(const Surface& surface, const std::string& path, std::string* error = nullptr);

}  // namespace platform::gfx
