#include "platform/FileIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
  ops.stat = [](const std::string& path, struct stat* st) { return ::stat(path.c_str(), st); };
  ops.make_folder = [](const std::string& folder, mode_t mode) {
    return ::mkdir(folder.c_str(), mode);
  };
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

ReadStatus ReadFileInPieces(const std::string& path,
                            const std::function<void(const char* data, size_t n)>& piece) {
  const FileOps& ops = CurrentFileOps();
  int fd = ops.open(path, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadStatus::kMissing : ReadStatus::kFailed;
  std::vector<char> buffer(64 * 1024);
  off_t at = 0;
  ReadStatus status = ReadStatus::kRead;
  for (;;) {
    const ssize_t got = ops.read_at(fd, buffer.data(), buffer.size(), at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      status = ReadStatus::kFailed;
      break;
    }
    if (got == 0) break;
    piece(buffer.data(), static_cast<size_t>(got));
    at += got;
  }
  ops.close(fd);
  return status;
}

namespace {

// Reads into bytes up to limit; *more tells whether the file went on.
ReadStatus ReadUpTo(const std::string& path, size_t limit, std::string& bytes, bool* more) {
  bytes.clear();
  *more = false;
  const FileOps& ops = CurrentFileOps();
  int fd = ops.open(path, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadStatus::kMissing : ReadStatus::kFailed;
  char buffer[16 * 1024];
  ReadStatus status = ReadStatus::kRead;
  for (;;) {
    // One byte past the limit tells a longer file from one of exactly it.
    const size_t want = std::min(sizeof(buffer), limit + 1 - bytes.size());
    const ssize_t got = ops.read_at(fd, buffer, want, static_cast<off_t>(bytes.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      status = ReadStatus::kFailed;
      break;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
    if (bytes.size() > limit) {
      bytes.resize(limit);
      *more = true;
      break;
    }
  }
  ops.close(fd);
  return status;
}

}  // namespace

ReadStatus ReadWholeFile(const std::string& path, size_t limit, std::string& bytes) {
  bool more = false;
  const ReadStatus status = ReadUpTo(path, limit, bytes, &more);
  return status == ReadStatus::kRead && more ? ReadStatus::kTooLarge : status;
}

ReadStatus ReadFileStart(const std::string& path, size_t n, std::string& bytes) {
  bool more = false;
  return ReadUpTo(path, n, bytes, &more);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return CurrentFileOps().stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool FileMode(const std::string& path, mode_t& mode) {
  struct stat st {};
  if (CurrentFileOps().stat(path, &st) != 0) return false;
  mode = st.st_mode & 07777;
  return true;
}

bool MakeFoldersUnder(const std::string& base, const std::string& rest, mode_t mode) {
  const FileOps& ops = CurrentFileOps();
  std::string folder = base;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    const std::string part = rest.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    folder += "/" + part;
    if (ops.make_folder(folder, mode) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (ops.stat(folder, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (path.empty() || ::realpath(path.c_str(), resolved) == nullptr) return std::string();
  return resolved;
}

std::vector<std::string> RegularFilesIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::lstat((prefix + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

FileLock::Result FileLock::Take(const std::string& path) {
  Release();
  int fd = CurrentFileOps().open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Result::kFailed;
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const bool busy = errno == EWOULDBLOCK;
    ::close(fd);
    return busy ? Result::kBusy : Result::kFailed;
  }
  fd_ = fd;
  path_ = path;
  return Result::kTaken;
}

void FileLock::Release() {
  if (fd_ < 0) return;
  // Closing the descriptor drops the lock; the file stays for the next
  // holder (removing it could let two holders lock two different files).
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

}  // namespace platform
