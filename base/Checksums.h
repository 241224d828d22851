// CRC-32 over memory and file ranges, the cache key of a path, and the
// integrity trailer of course data files.
#pragma once

#include <cstdint>
#include <string>

#include <zlib.h>  // crc32: the standard reflected CRC-32; crc32(0, nullptr, n) is 0

// CRC of the byte range of a file, starting from crc. A length of 0 means up
// to the end of the file; a negative length means the file size plus it,
// counted from offset 0 (-256: all but the last 256 bytes), and nothing when
// that is not above 0. 0 when the file does not open.
uint32_t FileCrc32(const char* path, uint32_t crc, int64_t start, int64_t length);

// "%08X_%X" of the CRC-32 of the path and of its length.
std::string CacheName(const char* path);

// The 256-byte trailer at the end of a data file: "QOR", one free byte, then
// a zero-terminated text that is "%lX%lX%lX" of the CRC-32 of every byte
// before the trailer, three times.
constexpr int kTrailerSize = 256;
bool VerifyFileTrailer(const char* path);
