#include "platform/FileIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

bool ReadFullyAt(int fd, void* buffer, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    ssize_t got = pread(fd, static_cast<char*>(buffer) + done, n - done, at + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool WriteFullyAt(int fd, const void* data, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    ssize_t put = pwrite(fd, static_cast<const char*>(data) + done, n - done, at + static_cast<off_t>(done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, mode_t mode) {
  const std::string temporary = path + ".tmp";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  const bool written = WriteFullyAt(fd, bytes.data(), bytes.size(), 0) && fsync(fd) == 0;
  close(fd);
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace platform
