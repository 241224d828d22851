// velarno-update: checks, installs and prepares the program's updates.
//
//   velarno-update check PROGRAMDIR       validate the pending update
//   velarno-update apply PROGRAMDIR       install it (never restarts)
//   velarno-update manifest UPDDIR [--restart]
//                                         write UPDDIR/manifest.qor
//
// check and apply print "install NAME" per file in install order, then
// "restart" when the update asks for one; exit 0. With no manifest: "no
// pending update", exit 3. A refusal or a failed install: one line on
// stderr, exit 1. Usage errors: exit 2.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "host/qorUpdate.h"
#include "host/qorUtils.h"
#include "platform/FileIo.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: velarno-update check PROGRAMDIR | apply PROGRAMDIR | manifest UPDDIR "
               "[--restart]\n");
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "velarno-update: %s\n", message.c_str());
  return 1;
}

int Run(const std::string& program_folder, UpdateMode mode) {
  const UpdateReport report = ProcessPendingUpdate(program_folder, mode);
  switch (report.outcome) {
    case UpdateReport::Outcome::kNoUpdate:
      std::printf("no pending update\n");
      return 3;
    case UpdateReport::Outcome::kRefused:
      return Fail("refused: " + report.reason);
    case UpdateReport::Outcome::kFailed:
      return Fail("failed: " + report.reason);
    case UpdateReport::Outcome::kDone:
      break;
  }
  for (const std::string& name : report.files) std::printf("install %s\n", name.c_str());
  if (report.restart_listed) std::printf("restart\n");
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// A file's name in a manifest: relative to the update folder, '\' between
// folders.
std::string ManifestName(const fs::path& relative) {
  std::string name;
  for (const fs::path& part : relative) {
    if (!name.empty()) name += '\\';
    name += part.string();
  }
  return name;
}

int WriteManifest(const std::string& upd, bool restart) {
  const fs::path root(upd);
  std::vector<std::pair<std::string, fs::path>> files;
  std::error_code error;
  fs::recursive_directory_iterator it(root, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::file_status status = it->symlink_status(error);
    if (error) break;
    if (status.type() != fs::file_type::regular) continue;
    const fs::path relative = it->path().lexically_relative(root);
    if (relative == "manifest.qor") continue;
    files.emplace_back(ManifestName(relative), it->path());
  }
  if (error) return Fail(upd + ": cannot be listed: " + error.message());
  std::sort(files.begin(), files.end());
  std::string bytes;
  for (const auto& [name, path] : files) {
    if (name.find_first_of("=\r\n") != std::string::npos)
      return Fail(name + ": a name may not hold '=', CR or LF");
    // A '\' inside a file's own name would read back as a folder, and the
    // restart entry's name is no file.
    for (const fs::path& part : path.lexically_relative(root)) {
      if (part.string().find('\\') != std::string::npos)
        return Fail(name + ": a name may not hold '\\'");
    }
    if (name == kRestartEntry) return Fail(name + ": the name is kept for the restart entry");
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return Fail(name + ": cannot be read");
    std::fclose(f);
    char crc[16];
    std::snprintf(crc, sizeof crc, "%lX",
                  static_cast<unsigned long>(FileCrc32(path.c_str(), 0, 0, 0)));
    bytes += name + "=" + crc + "\r\n";
  }
  if (restart) bytes += std::string(kRestartEntry) + "=1\r\n";
  if (bytes.size() > kMaxManifestBytes)
    return Fail("the manifest would be over " + std::to_string(kMaxManifestBytes) + " bytes");
  if (!platform::WriteFileAtomically((root / "manifest.qor").string(), bytes, 0644))
    return Fail((root / "manifest.qor").string() + ": cannot be written");
  return 0;
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && (args[0] == "check" || args[0] == "apply")) {
    if (!IsFolder(args[1])) return Usage();
    return Run(args[1], args[0] == "check" ? UpdateMode::kCheck : UpdateMode::kInstall);
  }
  if (!args.empty() && args[0] == "manifest" &&
      (args.size() == 2 || (args.size() == 3 && args[2] == "--restart"))) {
    if (!IsFolder(args[1])) return Usage();
    return WriteManifest(args[1], args.size() == 3);
  }
  return Usage();
}
