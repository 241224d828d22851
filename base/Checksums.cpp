#include "base/Checksums.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

constexpr size_t kChunk = 0x8000;

bool FileSize(FILE* f, int64_t* size) {
  if (fseeko(f, 0, SEEK_END) != 0) return false;
  off_t end = ftello(f);
  if (end < 0) return false;
  *size = end;
  return true;
}

// CRC of up to `count` bytes from the current position of f (fewer when the
// file ends first).
uint32_t CrcOfRange(FILE* f, uint32_t crc, int64_t count) {
  std::vector<unsigned char> buffer(kChunk);
  while (count > 0) {
    size_t want = count < static_cast<int64_t>(kChunk) ? static_cast<size_t>(count) : kChunk;
    size_t got = std::fread(buffer.data(), 1, want, f);
    if (got == 0) break;
    crc = crc32(crc, buffer.data(), static_cast<uInt>(got));
    count -= static_cast<int64_t>(got);
  }
  return crc;
}

}  // namespace

uint32_t FileCrc32(const char* path, uint32_t crc, int64_t start, int64_t length) {
  FilePtr f(std::fopen(path, "rb"));
  if (!f) return 0;
  int64_t size = 0;
  if (!FileSize(f.get(), &size)) return 0;
  if (length == 0) {
    length = size;
  } else if (length < 0) {
    length += size;
    if (length <= 0) return crc;  // nothing left to cover
  }
  if (start < 0 || fseeko(f.get(), start, SEEK_SET) != 0) return crc;
  return CrcOfRange(f.get(), crc, length);
}

std::string CacheName(const char* path) {
  size_t length = std::strlen(path);
  uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(path), static_cast<uInt>(length));
  char text[32];
  std::snprintf(text, sizeof(text), "%08X_%zX", crc, length);
  return text;
}

bool VerifyFileTrailer(const char* path) {
  FilePtr f(std::fopen(path, "rb"));
  if (!f) return false;
  int64_t size = 0;
  if (!FileSize(f.get(), &size) || size < kTrailerSize) return false;

  char trailer[kTrailerSize + 1] = {};
  if (fseeko(f.get(), size - kTrailerSize, SEEK_SET) != 0) return false;
  if (std::fread(trailer, 1, kTrailerSize, f.get()) != static_cast<size_t>(kTrailerSize)) {
    return false;
  }
  if (std::memcmp(trailer, "QOR", 3) != 0) return false;
  // The text from byte 4 must end inside the trailer.
  const char* text = trailer + 4;
  if (std::memchr(text, '\0', kTrailerSize - 4) == nullptr) return false;

  // Every byte before the trailer; a file that is only a trailer covers none.
  if (fseeko(f.get(), 0, SEEK_SET) != 0) return false;
  uint32_t c = CrcOfRange(f.get(), 0, size - kTrailerSize);

  char expected[64];
  std::snprintf(expected, sizeof(expected), "%X%X%X", c, c, c);
  return std::strcmp(text, expected) == 0;
}
