// Decoding a page-sized RGB picture through the bitmap manager (eHDD file
// reads, transforms, the RGB buffer and the bitmap) beside a bare libpng
// decode of the same file from stdio.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "ehdd/TEHDDClient.h"

namespace {

constexpr int kW = 687;
constexpr int kH = 534;

// A page-sized RGB picture with gradients and noise, written once.
const std::string& PicturePath() {
  static std::string path = [] {
    char folder[] = "/tmp/lectoria-bench-bmp-XXXXXX";
    if (mkdtemp(folder) == nullptr) std::abort();
    std::string p = std::string(folder) + "/page.png";
    std::vector<uint8_t> rgb(static_cast<size_t>(kW) * kH * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        seed = seed * 1103515245u + 12345u;
        uint8_t* px = &rgb[(static_cast<size_t>(y) * kW + x) * 3];
        px[0] = static_cast<uint8_t>(x * 255 / kW);
        px[1] = static_cast<uint8_t>(y * 255 / kH);
        px[2] = static_cast<uint8_t>((seed >> 24) & 0x3F);
      }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kW;
    image.height = kH;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, p.c_str(), 0, rgb.data(), 0, nullptr)) std::abort();
    return p;
  }();
  return path;
}

void BM_BareLibpngDecode(benchmark::State& state) {
  const std::string& path = PicturePath();
  std::vector<uint8_t> rgb(static_cast<size_t>(kW) * kH * 3);
  std::vector<png_bytep> rows(kH);
  for (int y = 0; y < kH; ++y) rows[y] = &rgb[static_cast<size_t>(y) * kW * 3];
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) std::abort();
    png_init_io(png, f);
    png_read_info(png, info);
    png_read_update_info(png, info);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    benchmark::DoNotOptimize(rgb.data());
  }
}
BENCHMARK(BM_BareLibpngDecode)->Unit(benchmark::kMillisecond);

struct Manager {
  Manager() { client.SetPlainLocalFiles(true); }
  TEHDDClient client;
  TGestorGDI gdi;
  TGestorBMP bmp{nullptr, &gdi, &client};
};

void BM_GestorBMPToRGB(benchmark::State& state) {
  Manager m;
  const std::string& path = PicturePath();
  for (auto _ : state) {
    uint8_t* rgb = m.bmp.LeerPNGToMemoryRGB(path.c_str());
    if (rgb == nullptr) std::abort();
    OSAL::Free(rgb);
  }
}
BENCHMARK(BM_GestorBMPToRGB)->Unit(benchmark::kMillisecond);

void BM_GestorBMPToBitmap(benchmark::State& state) {
  Manager m;
  const std::string& path = PicturePath();
  for (auto _ : state) {
    HBITMAP bitmap = m.bmp.LeerBitmapPNGDisco(0, path.c_str());
    if (bitmap == nullptr || bitmap->Width() != kW) std::abort();
    m.bmp.DeleteBitmap(bitmap);
  }
}
BENCHMARK(BM_GestorBMPToBitmap)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
