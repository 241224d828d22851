#include "host/qorUpdate.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "host/qorSettings.h"
#include "host/qorUtils.h"
#include "platform/FileIo.h"
#include "platform/MessageBox.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Files are copied through a buffer of this size.
constexpr size_t kCopyChunk = 1u << 20;

// One file of the update on its way to the program folder.
struct UpdateFile {
  std::string name;    // as the manifest writes it
  std::string value;   // the listed CRC text
  std::string path;    // relative, '/' between folders
  std::string source;  // program folder + "upd/" + path
  std::string target;  // program folder + path
  bool target_exists = false;
  mode_t target_mode = 0;
  std::string temporary;  // the staged copy, once made
};

std::string WithSlash(const std::string& folder) {
  if (folder.empty()) return "./";
  return folder.back() == '/' ? folder : folder + "/";
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

std::string CrcText(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(crc));
  return text;
}

// The entry's name in quotes, control bytes escaped.
std::string Quoted(const std::string& name) {
  std::string out = "\"";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Why a name may not be installed, or empty when it may.
std::string NameFault(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.find('\0') != std::string::npos) return "name holds a NUL byte";
  if (name[0] == '/' || name[0] == '\\') return "absolute name";
  const char first = name[0];
  const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
  if (letter && name.size() >= 2 && name[1] == ':') return "name with a drive prefix";
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of("/\\", start);
    const std::string part = name.substr(start, end == std::string::npos ? end : end - start);
    if (part.empty() || part == "." || part == "..")
      return "name with an empty, \".\" or \"..\" component";
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

bool Refuse(UpdateReport& report, const std::string& reason) {
  report.outcome = UpdateReport::Outcome::kRefused;
  report.reason = reason;
  report.files.clear();
  return false;
}

bool Fail(UpdateReport& report, const std::string& reason) {
  report.outcome = UpdateReport::Outcome::kFailed;
  report.reason = reason;
  report.files.clear();
  return false;
}

// The checks of a listed file and its target that need no reading; on success
// notes the target's mode.
std::string FileFault(UpdateFile& file) {
  struct stat info {};
  if (lstat(file.source.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "not in upd";
    return "upd/" + file.path + ": " + ErrorText(errno);
  }
  if (!S_ISREG(info.st_mode)) return "upd/" + file.path + " is not a regular file";
  if (lstat(file.target.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) return file.path + " is not a regular file";
    file.target_exists = true;
    file.target_mode = info.st_mode & 0777;
    return {};
  }
  if (errno != ENOENT) return file.path + ": " + ErrorText(errno);
  const std::string folder = platform::FolderOf(file.target);
  if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    return "the folder of " + file.path + " does not exist";
  return {};
}

// Reads n bytes at the offset through the table; false on a read that fails
// or ends early.
bool ReadChunk(const platform::FileOps& ops, int fd, char* buffer, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    const ssize_t got = ops.read_at(fd, buffer + done, n - done, at + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) {
      errno = EIO;  // the file got shorter while it was copied
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

bool WriteChunk(const platform::FileOps& ops, int fd, const char* data, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    const ssize_t put = ops.write_at(fd, data + done, n - done, at + static_cast<off_t>(done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return true;
}

// Copies the listed file to a new temporary file beside its target with the
// target's permission bits (the source's for a new file), flushes it and
// checks the CRC text of what was copied. An empty result when the copy is
// good.
std::string StageFile(const platform::FileOps& ops, UpdateFile& file, std::vector<char>& buffer) {
  const int in = ops.open(file.source, O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
  if (in < 0) return "cannot open upd/" + file.path + ": " + ErrorText(errno);
  std::string fault;
  struct stat info {};
  if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
    ops.close(in);
    return "upd/" + file.path + " is not a regular file";
  }
  const mode_t mode = file.target_exists ? file.target_mode : (info.st_mode & 0777);
  std::string temporary = file.target + ".XXXXXX";
  const int out = ops.open_temporary(temporary);
  if (out < 0) {
    fault = "cannot create a copy beside " + file.path + ": " + ErrorText(errno);
    ops.close(in);
    return fault;
  }
  file.temporary = temporary;
  // Exactly the size seen at the start is copied: a file still growing gives
  // a copy whose CRC does not match, never an unbounded copy. The CRC is
  // taken of the bytes as they go into the copy, the file's second reading.
  const off_t size = info.st_size;
  uint32_t crc = 0;
  for (off_t at = 0; fault.empty() && at < size;) {
    const size_t n = static_cast<size_t>(std::min<off_t>(size - at, buffer.size()));
    if (!ReadChunk(ops, in, buffer.data(), n, at))
      fault = "cannot read upd/" + file.path + ": " + ErrorText(errno);
    else if (!WriteChunk(ops, out, buffer.data(), n, at))
      fault = "cannot copy upd/" + file.path + ": " + ErrorText(errno);
    else
      crc = Crc32Update(crc, buffer.data(), static_cast<uint32_t>(n));
    at += static_cast<off_t>(n);
  }
  ops.close(in);
  if (fault.empty() && ops.chmod(out, mode) != 0)
    fault = "cannot set the mode of the copy of " + file.path + ": " + ErrorText(errno);
  if (fault.empty() && ops.fsync(out) != 0)
    fault = "cannot flush the copy of " + file.path + ": " + ErrorText(errno);
  if (ops.close(out) != 0 && fault.empty())
    fault = "cannot close the copy of " + file.path + ": " + ErrorText(errno);
  if (fault.empty() && CrcText(crc) != file.value)
    fault = "the copy's CRC is " + CrcText(crc) + ", listed as " + file.value;
  return fault;
}

void RemoveTemporaries(const platform::FileOps& ops, std::vector<UpdateFile>& files) {
  for (UpdateFile& file : files) {
    if (!file.temporary.empty()) ops.unlink(file.temporary);
    file.temporary.clear();
  }
}

}  // namespace

bool StartDetached(const std::string& executable) {
  char* argv[] = {const_cast<char*>(executable.c_str()), nullptr};
  pid_t pid = 0;
  return posix_spawn(&pid, executable.c_str(), nullptr, nullptr, argv, environ) == 0;
}

bool PathExists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

bool DeleteFolderFiles(const std::string& folder) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return false;
  // Listed first and deleted afterwards, so the listing is not disturbed.
  std::vector<std::string> doomed;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    const fs::file_status status = it->symlink_status(error);
    if (!error && status.type() != fs::file_type::directory) doomed.push_back(it->path().string());
  }
  const platform::FileOps& ops = platform::CurrentFileOps();
  for (const std::string& path : doomed) ops.unlink(path);
  return !doomed.empty();
}

bool RemoveFolderTree(const std::string& base, const std::string& relative, unsigned flags) {
  std::string path = relative;
  for (char& c : path)
    if (c == '\\') c = '/';
  const std::string root = base.empty() || base.back() == '/' ? base : base + "/";
  const platform::FileOps& ops = platform::CurrentFileOps();
  while (!path.empty()) {
    const std::string full = root + path;
    if (flags & 1) DeleteFolderFiles(full);
    ops.remove_folder(full);  // a folder that still holds something stays
    const size_t cut = path.find_last_of('/');
    if ((flags & 2) && cut != std::string::npos)
      path.resize(cut);
    else
      path.clear();
  }
  return true;
}

bool ApplyManifest(const std::string& program_folder, const qorSettings& manifest, UpdateMode mode,
                   std::string& restart_value, UpdateReport& report) {
  report = UpdateReport{};
  const std::string folder = WithSlash(program_folder);
  const std::string manifest_label = kManifestName;
  if (manifest.over_max_bytes())
    return Refuse(report,
                  manifest_label + ": over " + std::to_string(kMaxManifestBytes) + " bytes");
  if (manifest.ignored_lines() > 0)
    return Refuse(report, manifest_label + ": " + std::to_string(manifest.ignored_lines()) +
                              (manifest.ignored_lines() == 1 ? " line" : " lines") +
                              " without '='");
  if (manifest.entries().empty()) return Refuse(report, manifest_label + ": no entry");

  // 1. Validate everything, cheap checks first.
  std::vector<UpdateFile> files;
  for (const auto& [name, value] : manifest.entries()) {
    if (name == kRestartEntry) {
      report.restart_listed = true;
      restart_value = value;
      continue;
    }
    const std::string fault = NameFault(name);
    if (!fault.empty()) return Refuse(report, Quoted(name) + ": " + fault);
    UpdateFile file;
    file.name = name;
    file.value = value;
    file.path = name;
    for (char& c : file.path)
      if (c == '\\') c = '/';
    file.source = folder + kUpdateFolder + "/" + file.path;
    file.target = folder + file.path;
    files.push_back(std::move(file));
  }
  for (UpdateFile& file : files) {
    const std::string fault = FileFault(file);
    if (!fault.empty()) return Refuse(report, Quoted(file.name) + ": " + fault);
  }
  for (const UpdateFile& file : files) {
    const std::string crc = CrcText(FileCrc32(file.source.c_str(), 0, 0, 0));
    if (crc != file.value)
      return Refuse(report, Quoted(file.name) + ": CRC is " + crc + ", listed as " + file.value);
  }
  std::vector<std::string> names;
  for (const UpdateFile& file : files) names.push_back(file.name);
  if (mode == UpdateMode::kCheck) {
    report.outcome = UpdateReport::Outcome::kDone;
    report.files = std::move(names);
    return false;
  }

  // 2. Stage every file beside its target.
  const platform::FileOps& ops = platform::CurrentFileOps();
  std::vector<char> buffer(kCopyChunk);
  for (UpdateFile& file : files) {
    const std::string fault = StageFile(ops, file, buffer);
    if (!fault.empty()) {
      RemoveTemporaries(ops, files);
      return Refuse(report, Quoted(file.name) + ": " + fault);
    }
  }

  // 3. Commit in manifest order; each old file stays whole until its rename.
  for (UpdateFile& file : files) {
    if (ops.rename(file.temporary, file.target) != 0) {
      const std::string fault = Quoted(file.name) + ": cannot rename the copy over " + file.path +
                                ": " + ErrorText(errno);
      RemoveTemporaries(ops, files);
      return Fail(report, fault);
    }
    file.temporary.clear();
  }
  std::set<std::string> folders;
  for (const UpdateFile& file : files) folders.insert(platform::FolderOf(file.target));
  // The renames must reach the disk before the manifest goes, or a power cut
  // could leave some old files with no update left to install.
  for (const std::string& target_folder : folders) {
    if (ops.fsync_folder(target_folder) != 0)
      return Fail(report, "cannot flush the folder " + target_folder + ": " + ErrorText(errno));
  }

  // 4. Clean: the manifest first, so an update is never half removed.
  const std::string manifest_path = folder + kManifestName;
  if (ops.unlink(manifest_path) != 0 && errno != ENOENT)
    return Fail(report, manifest_label + ": cannot be deleted: " + ErrorText(errno));
  RemoveFolderTree(folder, kUpdateFolder, 3);

  report.outcome = UpdateReport::Outcome::kDone;
  report.files = std::move(names);
  report.restart = report.restart_listed && !PathExists(manifest_path);
  return report.restart;
}

UpdateReport ProcessPendingUpdate(const std::string& program_folder, UpdateMode mode) {
  UpdateReport report;
  const std::string folder = WithSlash(program_folder);
  const std::string manifest_path = folder + kManifestName;
  if (!PathExists(manifest_path)) return report;
  const std::string label = kManifestName;
  struct stat info {};
  if (stat(manifest_path.c_str(), &info) != 0) {
    Refuse(report, label + ": cannot be read: " + ErrorText(errno));
    return report;
  }
  // Only a regular file is opened: a FIFO or a device could block or never end.
  if (!S_ISREG(info.st_mode)) {
    Refuse(report, label + ": not a regular file");
    return report;
  }
  if (static_cast<uint64_t>(info.st_size) > kMaxManifestBytes) {
    Refuse(report, label + ": over " + std::to_string(kMaxManifestBytes) + " bytes");
    return report;
  }
  qorSettings* settings = qorSettings::Instance();
  settings->SetFile(manifest_path);
  settings->SetMaxBytes(kMaxManifestBytes);  // it may still be growing
  if (settings->Load() == 0) {
    Refuse(report, label + ": cannot be read");
  } else {
    std::string restart_value;
    ApplyManifest(folder, *settings, mode, restart_value, report);
  }
  qorSettings::Release();
  return report;
}

namespace {

// The running executable's path, empty when it cannot be had.
std::string RunningExecutable() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof path) return {};
  return std::string(path, static_cast<size_t>(n));
}

}  // namespace

UpdateReport ApplyPendingUpdate(const std::string& program_folder, const Restarter& restarter) {
  UpdateReport report = ProcessPendingUpdate(program_folder, UpdateMode::kInstall);
  if (report.outcome == UpdateReport::Outcome::kRefused)
    std::fprintf(stderr, "velarno: update refused: %s\n", report.reason.c_str());
  else if (report.outcome == UpdateReport::Outcome::kFailed)
    std::fprintf(stderr, "velarno: update failed: %s\n", report.reason.c_str());
  if (!report.restart) return report;
  std::string executable = WithSlash(program_folder) + kProgramName;
  if (!PathExists(executable)) executable = RunningExecutable();
  if (!executable.empty() && restarter && restarter(executable)) platform::ExitProcess(1);
  std::fprintf(stderr, "velarno: cannot start %s again; going on\n",
               executable.empty() ? kProgramName : executable.c_str());
  return report;
}
