#include "tools/course-draw/BmpWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/gfx/Dib.h"

namespace course_draw {

namespace {

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  Put16(out, at, v);
  Put16(out, at + 2, v >> 16);
}

constexpr size_t kFileHeader = 14;
constexpr size_t kInfoHeader = 40;
constexpr uint32_t kPixelsPerMetre = 2835;  // 72 dots per inch

}  // namespace

std::vector<uint8_t> EncodeBmp24(const platform::gfx::Surface& surface) {
  if (surface.Empty()) return {};
  const uint32_t width = static_cast<uint32_t>(surface.Width());
  const uint32_t height = static_cast<uint32_t>(surface.Height());
  const size_t stride = platform::gfx::DibStride24(width);
  const size_t pixels = stride * height;
  const size_t offset = kFileHeader + kInfoHeader;
  std::vector<uint8_t> out(offset + pixels, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<uint32_t>(out.size()));
  Put32(out, 10, static_cast<uint32_t>(offset));
  Put32(out, 14, kInfoHeader);
  Put32(out, 18, width);
  Put32(out, 22, height);  // positive: the last row of the picture comes first
  Put16(out, 26, 1);
  Put16(out, 28, 24);
  Put32(out, 30, platform::gfx::BI_RGB);
  Put32(out, 34, static_cast<uint32_t>(pixels));
  Put32(out, 38, kPixelsPerMetre);
  Put32(out, 42, kPixelsPerMetre);
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t* row = surface.Row(static_cast<int>(height - 1 - y));
    uint8_t* dst = out.data() + offset + y * stride;
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t p = row[x];  // XRGB
      dst[3 * x] = static_cast<uint8_t>(p);
      dst[3 * x + 1] = static_cast<uint8_t>(p >> 8);
      dst[3 * x + 2] = static_cast<uint8_t>(p >> 16);
    }
  }
  return out;
}

bool WriteBmp24(const platform::gfx::Surface& surface, const std::string& path,
                std::string* error) {
  const std::vector<uint8_t> bytes = EncodeBmp24(surface);
  if (bytes.empty()) {
    if (error) *error = "empty surface";
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int saved = errno;
  if (std::fclose(file) != 0 || !written) {
    if (error) *error = std::strerror(written ? errno : saved);
    return false;
  }
  return true;
}

}  // namespace course_draw
