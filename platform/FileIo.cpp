#include "platform/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

int SystemFsyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  int result = ::fsync(fd);
  int saved = errno;
  ::close(fd);
  errno = saved;
  return result;
}

FileOps MakeSystemFileOps() {
  FileOps ops;
  ops.open = [](const std::string& path, int flags, mode_t mode) {
    return ::open(path.c_str(), flags, mode);
  };
  ops.open_temporary = [](std::string& name_template) {
    std::vector<char> name(name_template.begin(), name_template.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) name_template.assign(name.data());
    return fd;
  };
  ops.read_at = [](int fd, void* buffer, size_t n, off_t at) { return ::pread(fd, buffer, n, at); };
  ops.write_at = [](int fd, const void* data, size_t n, off_t at) {
    return ::pwrite(fd, data, n, at);
  };
  ops.chmod = [](int fd, mode_t mode) { return ::fchmod(fd, mode); };
  ops.fsync = [](int fd) { return ::fsync(fd); };
  ops.rename = [](const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str());
  };
  ops.unlink = [](const std::string& path) { return ::unlink(path.c_str()); };
  ops.fsync_folder = SystemFsyncFolder;
  ops.close = [](int fd) { return ::close(fd); };
  ops.remove_folder = [](const std::string& folder) { return ::rmdir(folder.c_str()); };
  return ops;
}

const FileOps& SystemOpsInstance() {
  static const FileOps ops = MakeSystemFileOps();
  return ops;
}

std::atomic<const FileOps*> g_ops{nullptr};

}  // namespace

bool ReadFullyAt(int fd, void* buffer, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    ssize_t got =
        pread(fd, static_cast<char*>(buffer) + done, n - done, at + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool WriteFullyAt(int fd, const void* data, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    ssize_t put =
        pwrite(fd, static_cast<const char*>(data) + done, n - done, at + static_cast<off_t>(done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

const FileOps& SystemFileOps() {
  return SystemOpsInstance();
}

const FileOps& CurrentFileOps() {
  const FileOps* ops = g_ops.load(std::memory_order_acquire);
  return ops != nullptr ? *ops : SystemOpsInstance();
}

void SetFileOpsForTesting(const FileOps* ops) {
  g_ops.store(ops, std::memory_order_release);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, mode_t mode) {
  const FileOps& ops = CurrentFileOps();
  std::string temporary = path + ".XXXXXX";
  int fd = ops.open_temporary(temporary);
  if (fd < 0) return false;
  bool written = true;
  size_t done = 0;
  while (written && done < bytes.size()) {
    ssize_t put =
        ops.write_at(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0)
      written = false;
    else
      done += static_cast<size_t>(put);
  }
  written = written && ops.chmod(fd, mode) == 0 && ops.fsync(fd) == 0;
  if (ops.close(fd) != 0) written = false;
  if (!written || ops.rename(temporary, path) != 0) {
    ops.unlink(temporary);
    return false;
  }
  // The new file is in place; a failed folder flush only means the rename
  // may not survive a power loss, which the caller learns of.
  return ops.fsync_folder(FolderOf(path)) == 0;
}

}  // namespace platform
