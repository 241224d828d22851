// Decodes arbitrary bytes as a PNG picture, both into an RGB buffer and into
// a bitmap, through the eHDD client's plain local files. The input is
// written to one temporary file per process and read back from there.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "ehdd/TEHDDClient.h"

namespace {

constexpr size_t kMaxInput = size_t{1} << 20;

struct Harness {
  Harness() {
    char pattern[] = "/tmp/lectoria-fuzz-png-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    folder = pattern;
    path = folder + "/input.png";
    client.SetPlainLocalFiles(true);
  }
  ~Harness() {
    std::remove(path.c_str());
    rmdir(folder.c_str());
  }
  std::string folder;
  std::string path;
  TEHDDClient client;
  TGestorGDI gdi;
  TGestorBMP bmp{nullptr, &gdi, &client};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  static Harness harness_object;
  Harness* harness = &harness_object;
  FILE* out = std::fopen(harness->path.c_str(), "wb");
  if (out == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
  std::fclose(out);

  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t* rgb = harness->bmp.LeerPNGToMemoryRGB(harness->path.c_str(), &width, &height);
  if (rgb != nullptr && width > 0 && height > 0) {
    // Touch the last byte the size promises.
    volatile uint8_t last = rgb[size_t{width} * height * 3 - 1];
    (void)last;
  }
  OSAL::Free(rgb);
  HBITMAP bitmap = harness->bmp.LeerBitmapPNGDisco(0, harness->path.c_str());
  if (bitmap == nullptr) std::abort();  // never null: the placeholder at worst
  harness->bmp.DeleteBitmap(bitmap);
  return 0;
}
