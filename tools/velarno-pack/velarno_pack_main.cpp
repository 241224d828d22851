// velarno-pack: builds and reads the host's pack archives.
//
//   velarno-pack build OUT_FILE SRC_FOLDER [--prefix-bytes N]
//   velarno-pack list PACK
//   velarno-pack cat PACK MEMBER
#include <minizip/zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/qorFileManager.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: velarno-pack build OUT_FILE SRC_FOLDER [--prefix-bytes N]\n"
               "       velarno-pack list PACK\n"
               "       velarno-pack cat PACK MEMBER\n");
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "velarno-pack: %s\n", message.c_str());
  return 1;
}

bool Compressed(const fs::path& p) {
  std::string ext = p.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".png" || ext == ".jpg" || ext == ".ogg" || ext == ".zip";
}

int Build(const std::string& out, const std::string& source, uint32_t prefix) {
  if (!fs::is_directory(source)) return Fail(source + ": not a folder");
  const std::string zip_path = out + ".zip.tmp";
  zipFile zip = zipOpen64(zip_path.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return Fail(out + ": cannot create");
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(source)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    const std::string name = fs::relative(file, source).generic_string();
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    zip_fileinfo info{};
    const int method = Compressed(file) ? 0 : Z_DEFLATED;
    if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                              Z_DEFAULT_COMPRESSION, bytes.size() > 0xFFFFFFFFu) != ZIP_OK ||
        zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size())) != ZIP_OK ||
        zipCloseFileInZip(zip) != ZIP_OK) {
      zipClose(zip, nullptr);
      fs::remove(zip_path);
      return Fail(name + ": cannot add");
    }
  }
  if (zipClose(zip, nullptr) != ZIP_OK) return Fail(out + ": cannot finish");
  std::ifstream in(zip_path, std::ios::binary);
  std::string archive((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(zip_path);
  std::ofstream pack(out, std::ios::binary | std::ios::trunc);
  if (prefix > 0) {
    pack << std::string(prefix, '\0') << archive << "QOR" << '\0';
    const char base[4] = {static_cast<char>(prefix), static_cast<char>(prefix >> 8),
                          static_cast<char>(prefix >> 16), static_cast<char>(prefix >> 24)};
    pack.write(base, 4);
  } else {
    pack << archive;
  }
  return pack.good() ? 0 : Fail(out + ": cannot write");
}

int List(const std::string& path) {
  bool valid = true;
  ReadPackTrailer(path, &valid);
  if (!valid) return Fail(path + ": damaged pack");
  qorZipManager zip;
  zip.SetPath(path);
  std::vector<std::pair<std::string, uint64_t>> members;
  if (!zip.Open() || !zip.ListMembers(members)) return Fail(path + ": not a pack or damaged");
  for (const auto& [name, size] : members) std::printf("%llu %s\n", static_cast<unsigned long long>(size), name.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  SetPackTrace(nullptr);  // standard output carries the listing or the member
  if (args[0] == "build") {
    uint32_t prefix = 0;
    std::vector<std::string> rest;
    for (size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--prefix-bytes" && i + 1 < args.size()) {
        prefix = static_cast<uint32_t>(std::strtoul(args[++i].c_str(), nullptr, 10));
      } else {
        rest.push_back(args[i]);
      }
    }
    if (rest.size() != 2) return Usage();
    return Build(rest[0], rest[1], prefix);
  }
  if (args[0] == "cat" && args.size() == 3) {
    qorFileManager files;
    files.OpenArchive("pack", args[1]);
    files.SetAlias("0", "pack");
    std::fflush(stdout);
    std::unique_ptr<unsigned char[]> bytes;
    uint32_t length = 0;
    if (!files.ReadWholeFile("0:" + args[2], bytes, length)) {
      return Fail(args[2] + ": not found or damaged in " + args[1]);
    }
    std::fwrite(bytes.get(), 1, length, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (args[0] == "list" && args.size() == 2) return List(args[1]);
  return Usage();
}
