#include "platform/gfx/Dib.h"

#include <cstdlib>

namespace platform::gfx {

std::unique_ptr<Surface> SurfaceFromDib(const BITMAPINFOHEADER& header, const void* bits,
                                        size_t bits_size) {
  if (bits == nullptr || header.biBitCount != 24 || header.biCompression != BI_RGB) return nullptr;
  int64_t width = header.biWidth;
  int64_t height = std::llabs(static_cast<int64_t>(header.biHeight));
  if (width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide) return nullptr;
  size_t stride = DibStride24(static_cast<uint32_t>(width));
  if (bits_size / stride < static_cast<size_t>(height)) return nullptr;
  bool top_down = header.biHeight < 0;
  auto surface = std::make_unique<Surface>(static_cast<int>(width), static_cast<int>(height));
  const auto* base = static_cast<const uint8_t*>(bits);
  for (int y = 0; y < height; ++y) {
    size_t src_row = top_down ? static_cast<size_t>(y) : static_cast<size_t>(height - 1 - y);
    const uint8_t* p = base + src_row * stride;
    uint32_t* out = surface->Row(y);
    for (int x = 0; x < width; ++x, p += 3)
      out[x] = (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[0];
  }
  return surface;
}

}  // namespace platform::gfx
