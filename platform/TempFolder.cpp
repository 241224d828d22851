#include "platform/TempFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

}  // namespace

namespace {

bool PrivateFolderOf(const std::string& given, uid_t uid, std::string* error) {
  std::string path = given;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    SetError(error, "cannot create " + path + ": " + std::strerror(errno));
    return false;
  }
  // Open without following a link, then check what was opened, so the folder
  // cannot be swapped between the check and the use.
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, path + " is not a folder of its own: " + std::strerror(errno));
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    close(fd);
    SetError(error, path + " is not a folder");
    return false;
  }
  if (st.st_uid != uid) {
    close(fd);
    SetError(error, path + " belongs to another user");
    return false;
  }
  if ((st.st_mode & 0777) != 0700 && fchmod(fd, 0700) != 0) {
    close(fd);
    SetError(error, "cannot make " + path + " private: " + std::strerror(errno));
    return false;
  }
  close(fd);
  return true;
}

}  // namespace

std::string PrivateTempFolderIn(const std::string& base, uid_t uid, std::string* error) {
  std::string path = base;
  if (path.empty() || path.back() != '/') path += '/';
  path += "lectoria-" + std::to_string(uid);
  return PrivateFolderOf(path, uid, error) ? path + '/' : "";
}

bool PrivateFolder(const std::string& path, std::string* error) {
  return PrivateFolderOf(path, geteuid(), error);
}

std::string TempFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir && *tmpdir) {
    std::string path = tmpdir;
    if (path.back() != '/') path += '/';
    return path;
  }
  return PrivateTempFolderIn("/tmp", geteuid());
}

}  // namespace platform
