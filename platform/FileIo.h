// Whole reads and writes at an offset, retried on interruption, and a file
// written atomically (temporary file, flush, rename).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace platform {

// True when all n bytes were read (or written) at the offset.
bool ReadFullyAt(int fd, void* buffer, size_t n, off_t at);
bool WriteFullyAt(int fd, const void* data, size_t n, off_t at);

// Writes the bytes to "<path>.tmp", flushes them to disk and renames the
// file over path, so the old file stays whole until the new one is. False
// (with the old file untouched) when any step fails.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, mode_t mode = 0644);

}  // namespace platform
