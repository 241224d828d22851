// Decodes arbitrary bytes as an OGG Vorbis file from memory the way playback
// fills its buffers: opened and checked for mono 22050 Hz, optionally sought
// (the first byte picks a start), then 2205-sample buffers until the end or
// a failure.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "media/LectorOGG.h"

namespace {

constexpr size_t kMaxInput = size_t{1} << 20;
// Far more than any accepted input of that size can decode to in practice,
// and a bound on a stream that decodes forever.
constexpr int kMaxBuffers = 50000;

struct Memoria {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

size_t Read(void* ptr, size_t size, size_t count, void* source) {
  auto* m = static_cast<Memoria*>(source);
  if (size == 0) return 0;
  const size_t n = std::min(size * count, m->size - m->pos) / size;
  std::memcpy(ptr, m->data + m->pos, n * size);
  m->pos += n * size;
  return n;
}

int Seek(void* source, ogg_int64_t offset, int whence) {
  auto* m = static_cast<Memoria*>(source);
  const int64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? static_cast<int64_t>(m->pos)
                       : whence == SEEK_END ? static_cast<int64_t>(m->size)
                                            : -1;
  if (base < 0) return -1;
  const int64_t target = base + offset;
  if (target < 0 || target > static_cast<int64_t>(m->size)) return -1;
  m->pos = static_cast<size_t>(target);
  return 0;
}

int Close(void*) {
  return 0;
}

long Tell(void* source) {
  return static_cast<long>(static_cast<Memoria*>(source)->pos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput || size == 0) return 0;
  const uint32_t start_ms = (data[0] & 0x80) ? (data[0] & 0x7F) * 50u : 0;
  Memoria memoria{data + 1, size - 1, 0};
  LectorOGG lector;
  if (!lector.Abrir(&memoria, ov_callbacks{&Read, &Seek, &Close, &Tell}, start_ms)) {
    if (lector.abierto()) std::abort();
    return 0;
  }
  static int16_t buffer[2205];
  for (int i = 0; i < kMaxBuffers; ++i) {
    if (lector.Llenar(buffer, 2205) != LectorOGG::kLleno) break;
  }
  lector.Cerrar();
  return 0;
}
