// A key/value file as it may be found on disk, and the same bytes as an
// update manifest over a fixed program folder: no crash, and nothing is
// written beside the program folder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "host/qorSettings.h"
#include "host/qorUpdate.h"
#include "platform/FileIo.h"

namespace fs = std::filesystem;

namespace {

void Put(const fs::path& path, const char* bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// The program folder: upd offers "f1" (CRC 7A6C86F1) over an old f1 and
// "d/f2" (CRC 11CA8A66) as a new file.
void MakeProgramFolder(const fs::path& program, const std::string& manifest) {
  fs::remove_all(program);
  fs::create_directories(program / "upd" / "d");
  fs::create_directories(program / "d");
  Put(program / "f1", "old");
  Put(program / "upd" / "f1", "one");
  Put(program / "upd" / "d" / "f2", "two");
  std::ofstream(program / "upd" / "manifest.qor", std::ios::binary) << manifest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string folder = [] {
    char pattern[] = "/tmp/lectoria-fuzz-settings-XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  // Flushes to disk only slow the runs down here.
  static const platform::FileOps quick_ops = [] {
    platform::FileOps ops = platform::SystemFileOps();
    ops.fsync = [](int) { return 0; };
    ops.fsync_folder = [](const std::string&) { return 0; };
    return ops;
  }();
  const std::string path = folder + "/list.txt";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  qorSettings settings;
  settings.SetFile(path);
  settings.Load();
  std::string value;
  settings.Get("a", value);

  const fs::path program = fs::path(folder) / "a" / "prog";
  MakeProgramFolder(program, std::string(reinterpret_cast<const char*>(data), size));
  platform::SetFileOpsForTesting(&quick_ops);
  ProcessPendingUpdate(program.string(), UpdateMode::kInstall);
  platform::SetFileOpsForTesting(nullptr);
  if (Names(folder) != std::set<std::string>{"a", "list.txt"}) std::abort();
  if (Names(fs::path(folder) / "a") != std::set<std::string>{"prog"}) std::abort();
  fs::remove_all(program);
  return 0;
}
