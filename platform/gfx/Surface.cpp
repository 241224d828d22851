#include "platform/gfx/Surface.h"

#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform::gfx {

Surface::Surface(int width, int height) {
  if (width <= 0 || height <= 0) return;
  width_ = width;
  height_ = height;
  pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
}

Rect Surface::Clip(Rect r) const {
  if (r.w <= 0 || r.h <= 0) return Rect{};
  // 64-bit ends so that huge sizes do not overflow.
  int64_t x0 = std::max<int64_t>(r.x, 0);
  int64_t y0 = std::max<int64_t>(r.y, 0);
  int64_t x1 = std::min<int64_t>(static_cast<int64_t>(r.x) + r.w, width_);
  int64_t y1 = std::min<int64_t>(static_cast<int64_t>(r.y) + r.h, height_);
  if (x1 <= x0 || y1 <= y0) return Rect{};
  return Rect{static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
              static_cast<int>(y1 - y0)};
}

void Surface::SetPixel(int x, int y, COLORREF colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  Row(y)[x] = ToXrgb(colour);
}

COLORREF Surface::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return FromXrgb(Row(y)[x]);
}

void Surface::BlendPixel(int x, int y, COLORREF colour, uint8_t coverage) {
  if (coverage == 0 || x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint32_t& p = Row(y)[x];
  uint32_t c = ToXrgb(colour);
  if (coverage == 255) {
    p = c;
    return;
  }
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    int d = static_cast<int>((p >> shift) & 0xFF);
    int s = static_cast<int>((c >> shift) & 0xFF);
    int v = d + ((s - d) * coverage + 127) / 255;
    out |= static_cast<uint32_t>(v & 0xFF) << shift;
  }
  p = out;
}

void Surface::Fill(Rect r, COLORREF colour) {
  Rect c = Clip(r);
  if (c.Empty()) return;
  uint32_t value = ToXrgb(colour);
  for (int y = c.y; y < c.y + c.h; ++y) std::fill_n(Row(y) + c.x, c.w, value);
}

void Surface::DrawLine(int x1, int y1, int x2, int y2, COLORREF colour) {
  // Bresenham's walk; the last point is left out as window-system lines are.
  int64_t dx = std::llabs(static_cast<int64_t>(x2) - x1);
  int64_t dy = -std::llabs(static_cast<int64_t>(y2) - y1);
  int sx = x1 < x2 ? 1 : -1;
  int sy = y1 < y2 ? 1 : -1;
  int64_t err = dx + dy;
  int64_t x = x1;
  int64_t y = y1;
  uint32_t value = ToXrgb(colour);
  while (x != x2 || y != y2) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) Row(static_cast<int>(y))[x] = value;
    int64_t e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

void CopyRect(Surface& dst, int dx, int dy, const Surface& src, int sx, int sy, int w, int h) {
  if (w <= 0 || h <= 0) return;
  // Clip the source rectangle to the source, moving the target with it.
  Rect s = src.Clip(Rect{sx, sy, w, h});
  if (s.Empty()) return;
  int64_t tx = static_cast<int64_t>(dx) + (s.x - static_cast<int64_t>(sx));
  int64_t ty = static_cast<int64_t>(dy) + (s.y - static_cast<int64_t>(sy));
  // Then the target rectangle to the target, moving the source with it.
  int64_t x0 = std::max<int64_t>(tx, 0);
  int64_t y0 = std::max<int64_t>(ty, 0);
  int64_t x1 = std::min<int64_t>(tx + s.w, dst.Width());
  int64_t y1 = std::min<int64_t>(ty + s.h, dst.Height());
  if (x1 <= x0 || y1 <= y0) return;
  int src_x = static_cast<int>(s.x + (x0 - tx));
  int src_y = static_cast<int>(s.y + (y0 - ty));
  int cw = static_cast<int>(x1 - x0);
  int ch = static_cast<int>(y1 - y0);
  int tx0 = static_cast<int>(x0);
  int ty0 = static_cast<int>(y0);
  // Rows are walked bottom-up when a copy within one surface moves down, so
  // no source row is overwritten before it is read; memmove covers each row.
  bool upwards = (&dst == &src) && ty0 > src_y;
  for (int i = 0; i < ch; ++i) {
    int row = upwards ? ch - 1 - i : i;
    std::memmove(dst.Row(ty0 + row) + tx0, src.Row(src_y + row) + src_x,
                 static_cast<size_t>(cw) * sizeof(uint32_t));
  }
}

bool WritePng(const Surface& surface, const std::string& path, std::string* error) {
  if (surface.Empty()) {
    if (error) *error = "empty surface";
    return false;
  }
  std::vector<uint8_t> rgb(static_cast<size_t>(surface.Width()) * surface.Height() * 3);
  size_t k = 0;
  for (uint32_t p : surface.Pixels()) {
    rgb[k++] = static_cast<uint8_t>(p >> 16);
    rgb[k++] = static_cast<uint8_t>(p >> 8);
    rgb[k++] = static_cast<uint8_t>(p);
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(surface.Width());
  image.height = static_cast<png_uint_32>(surface.Height());
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
    if (error) *error = image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}

}  // namespace platform::gfx
