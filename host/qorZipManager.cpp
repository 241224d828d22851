#include "host/qorZipManager.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Handle {
  FILE* file = nullptr;
  int error = 0;
};

// The zip reader sees every position relative to the archive's base, and
// the end of the archive 8 bytes before the end of the file when there is
// a trailer. The base travels with the archive (the opaque pointer).
voidpf PackIoOpen(voidpf opaque, const void* filename, int mode) {
  const char* access = nullptr;
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ)
    access = "rb";
  else if (mode & ZLIB_FILEFUNC_MODE_EXISTING)
    access = "r+b";
  else if (mode & ZLIB_FILEFUNC_MODE_CREATE)
    access = "w+b";
  if (access == nullptr || filename == nullptr) return nullptr;
  FILE* f = std::fopen(static_cast<const char*>(filename), access);
  if (f == nullptr) return nullptr;
  auto* io = static_cast<qorZipManager::Io*>(opaque);
  if (fseeko(f, io->base, SEEK_SET) != 0) {
    std::fclose(f);
    return nullptr;
  }
  return new Handle{f, 0};
}

uLong PackIoRead(voidpf, voidpf stream, void* buf, uLong size) {
  auto* h = static_cast<Handle*>(stream);
  size_t n = std::fread(buf, 1, size, h->file);
  if (n < size && std::ferror(h->file)) h->error = 1;
  return static_cast<uLong>(n);
}

uLong PackIoWrite(voidpf, voidpf stream, const void* buf, uLong size) {
  auto* h = static_cast<Handle*>(stream);
  size_t n = std::fwrite(buf, 1, size, h->file);
  if (n < size) h->error = 1;
  return static_cast<uLong>(n);
}

ZPOS64_T PackIoTell(voidpf opaque, voidpf stream) {
  auto* h = static_cast<Handle*>(stream);
  off_t at = ftello(h->file);
  auto* io = static_cast<qorZipManager::Io*>(opaque);
  if (at < 0 || at < static_cast<off_t>(io->base)) {
    h->error = 1;
    return static_cast<ZPOS64_T>(-1);
  }
  return static_cast<ZPOS64_T>(at - io->base);
}

long PackIoSeek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin) {
  auto* h = static_cast<Handle*>(stream);
  auto* io = static_cast<qorZipManager::Io*>(opaque);
  int rc;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      rc = fseeko(h->file, static_cast<off_t>(offset + io->base), SEEK_SET);
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      rc = fseeko(h->file, static_cast<off_t>(offset), SEEK_CUR);
      break;
    case ZLIB_FILEFUNC_SEEK_END:
      rc = fseeko(h->file, static_cast<off_t>(offset) - static_cast<off_t>(io->trailer), SEEK_END);
      break;
    default:
      return -1;
  }
  if (rc != 0) {
    h->error = 1;
    return -1;
  }
  return 0;
}

int PackIoClose(voidpf, voidpf stream) {
  auto* h = static_cast<Handle*>(stream);
  if (h == nullptr || h->file == nullptr) return -1;
  std::fclose(h->file);
  delete h;
  return 0;
}

int PackIoError(voidpf, voidpf stream) {
  auto* h = static_cast<Handle*>(stream);
  return h == nullptr ? -1 : h->error;
}

FILE* g_trace = stdout;

}  // namespace

void SetPackTrace(FILE* stream) {
  g_trace = stream;
}

uint32_t ReadPackTrailer(const std::string& path, bool* valid) {
  if (valid) *valid = true;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    if (g_trace) std::fprintf(g_trace, "No puedo abrir %s\n", path.c_str());
    return 0;
  }
  unsigned char trailer[8];
  uint32_t base = 0;
  if (fseeko(f, 0, SEEK_END) == 0) {
    const off_t size = ftello(f);
    if (size >= 8 && fseeko(f, size - 8, SEEK_SET) == 0 && std::fread(trailer, 1, 8, f) == 8 &&
        std::memcmp(trailer, "QOR", 3) == 0) {
      base = trailer[4] | (trailer[5] << 8) | (trailer[6] << 16) |
             (static_cast<uint32_t>(trailer[7]) << 24);
      // The archive must lie between the base and the trailer.
      if (static_cast<uint64_t>(base) > static_cast<uint64_t>(size) - 8 && valid) *valid = false;
      if (g_trace) std::fprintf(g_trace, "\n%ld", static_cast<long>(base));
    }
  }
  std::fclose(f);
  return base;
}

bool qorZipManager::Open() {
  Close();
  bool valid = true;
  base_ = ReadPackTrailer(path_, &valid);
  if (!valid) return false;
  io_.base = base_;
  io_.trailer = base_ != 0 ? 8 : 0;
  zlib_filefunc64_def functions{};
  functions.zopen64_file = PackIoOpen;
  functions.zread_file = PackIoRead;
  functions.zwrite_file = PackIoWrite;
  functions.ztell64_file = PackIoTell;
  functions.zseek64_file = PackIoSeek;
  functions.zclose_file = PackIoClose;
  functions.zerror_file = PackIoError;
  functions.opaque = &io_;
  zip_ = unzOpen2_64(path_.c_str(), &functions);
  zip_open_ = zip_ != nullptr;
  return zip_open_;
}

bool qorZipManager::Close() {
  if (!zip_open_) return false;
  if (member_open_) unzCloseCurrentFile(zip_);
  unzClose(zip_);
  zip_ = nullptr;
  zip_open_ = false;
  member_open_ = false;
  return true;
}

bool qorZipManager::OpenMember(const std::string& name, uint32_t& size) {
  if (member_open_) {
    unzCloseCurrentFile(zip_);
    member_open_ = false;
  }
  if (!zip_open_) return false;
  unz_file_info64 info{};
  if (unzLocateFile(zip_, name.c_str(), 2 /* ASCII case ignored */) != UNZ_OK ||
      unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
      info.uncompressed_size > kMaxMember) {
    return false;
  }
  size = static_cast<uint32_t>(info.uncompressed_size);
  if (unzOpenCurrentFilePassword(zip_, nullptr) != UNZ_OK) return false;
  member_open_ = true;
  return true;
}

uint32_t qorZipManager::ReadMember(void* destination, uint32_t length) {
  if (!zip_open_ || !member_open_) return 0;
  uint32_t done = 0;
  while (done < length) {
    int got = unzReadCurrentFile(zip_, static_cast<char*>(destination) + done, length - done);
    if (got <= 0) break;
    done += static_cast<uint32_t>(got);
  }
  return done;
}

bool qorZipManager::CloseMember() {
  if (!zip_open_ || !member_open_) return false;
  member_open_ = false;
  return unzCloseCurrentFile(zip_) == UNZ_OK;
}

bool qorZipManager::ListMembers(std::vector<std::pair<std::string, uint64_t>>& members) {
  members.clear();
  if (!zip_open_) return false;
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(zip_, &global) != UNZ_OK) return false;
  int rc = unzGoToFirstFile(zip_);
  for (uint64_t i = 0; i < global.number_entry && rc == UNZ_OK; ++i) {
    // The name is sized from the entry's own length: minizip leaves a name
    // that fills the buffer without a terminator.
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
      return false;
    }
    std::vector<char> name(static_cast<size_t>(info.size_filename) + 1, '\0');
    if (unzGetCurrentFileInfo64(zip_, &info, name.data(), static_cast<uLong>(name.size()), nullptr,
                                0, nullptr, 0) != UNZ_OK) {
      return false;
    }
    members.emplace_back(std::string(name.data(), info.size_filename), info.uncompressed_size);
    rc = unzGoToNextFile(zip_);
  }
  return rc == UNZ_OK || rc == UNZ_END_OF_LIST_OF_FILE;
}
