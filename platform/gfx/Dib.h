// Device-independent bitmap headers and their conversion to a surface.
//
// The bitmap manager builds 24-bit bitmaps in this layout: BGR pixels, each
// row padded to a multiple of 4 bytes, rows top-down when the height is
// negative and bottom-up when it is positive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/gfx/Surface.h"

namespace platform::gfx {

constexpr uint32_t BI_RGB = 0;

#pragma pack(push, 1)
struct BITMAPFILEHEADER {
  uint16_t bfType = 0;
  uint32_t bfSize = 0;
  uint16_t bfReserved1 = 0;
  uint16_t bfReserved2 = 0;
  uint32_t bfOffBits = 0;
};

struct BITMAPINFOHEADER {
  uint32_t biSize = 0;
  int32_t biWidth = 0;
  int32_t biHeight = 0;
  uint16_t biPlanes = 0;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};

struct RGBQUAD {
  uint8_t rgbBlue = 0;
  uint8_t rgbGreen = 0;
  uint8_t rgbRed = 0;
  uint8_t rgbReserved = 0;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
#pragma pack(pop)

static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(BITMAPINFOHEADER) == 40);

// Largest side of a bitmap that is made into a surface.
constexpr int32_t kMaxDibSide = 16384;

// Bytes per row of a 24-bit bitmap of the width: width x 3 rounded up to 4.
constexpr size_t DibStride24(uint32_t width) {
  return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
}

// A surface from a 24-bit uncompressed bitmap whose pixel bytes are at bits
// and span bits_size bytes. Null when the header is not 24-bit BI_RGB, a side
// is 0 or past kMaxDibSide, or bits_size is short of stride x height.
std::unique_ptr<Surface> SurfaceFromDib(const BITMAPINFOHEADER& header, const void* bits,
                                        size_t bits_size);

}  // namespace platform::gfx
