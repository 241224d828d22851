#include "host/qorProgramFolder.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string Absolute(const std::string& folder) {
  char resolved[PATH_MAX];
  if (realpath(folder.c_str(), resolved) != nullptr) return resolved;
  // A folder that does not exist (yet): made absolute as written.
  std::error_code error;
  auto absolute = std::filesystem::absolute(folder, error);
  return error ? folder : absolute.lexically_normal().string();
}

}  // namespace

std::string ProgramFolder() {
  const char* named = std::getenv("VELARNO_PROGRAM_DIR");
  if (named != nullptr && *named != '\0') return WithSlash(Absolute(named));
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return WithSlash(Absolute("."));
  return WithSlash(exe.parent_path().string());
}
