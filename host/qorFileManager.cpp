#include "host/qorFileManager.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

std::unique_ptr<qorFileManager> g_instance;

}  // namespace

qorFileManager* qorFileManager::Instance() {
  if (!g_instance) g_instance = std::make_unique<qorFileManager>();
  return g_instance.get();
}

void qorFileManager::Release() { g_instance.reset(); }

bool qorFileManager::OpenArchive(const std::string& name, const std::string& path) {
  if (archives_.count(name)) return false;
  auto archive = std::make_unique<qorZipManager>();
  archive->SetPath(path);
  archive->Open();  // a pack that does not open stays registered, with no members
  archives_[name] = std::move(archive);
  return true;
}

std::string qorFileManager::MemberName(const std::string& text) {
  std::string out = text;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

AFILE* qorFileManager::Open(const std::string& path, const char* mode) {
  if (path.size() > 2 && path[1] == ':' && aliases_.count(path.substr(0, 1))) {
    auto archive = archives_.find(aliases_[path.substr(0, 1)]);
    if (archive == archives_.end()) return nullptr;
    qorZipManager* zip = archive->second.get();
    uint32_t size = 0;
    if (!zip->OpenMember(MemberName(path.substr(2)), size)) return nullptr;
    auto handle = std::make_unique<AFILE>();
    handle->in_archive = true;
    handle->archive = zip;
    handle->size = size;
    handle->data.reset(new (std::nothrow) unsigned char[size > 0 ? size : 1]);
    // A member read short, or whose CRC does not match, counts as missing.
    const bool whole = handle->data && zip->ReadMember(handle->data.get(), size) == size;
    const bool checked = zip->CloseMember();
    if (!whole || !checked) return nullptr;
    open_.push_back(handle.get());
    return handle.release();
  }
  FILE* f = std::fopen(path.c_str(), mode ? mode : "rb");
  if (f == nullptr) return nullptr;
  // A plain file is bounded as a member is: one that cannot be measured, or
  // is larger than a member may be, is refused as damaged rather than read
  // as empty.
  off_t size = -1;
  if (fseeko(f, 0, SEEK_END) == 0) size = ftello(f);
  if (size < 0 || size > static_cast<off_t>(qorZipManager::kMaxMember) ||
      fseeko(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    return nullptr;
  }
  auto handle = std::make_unique<AFILE>();
  handle->stream = f;
  handle->size = static_cast<uint32_t>(size);
  open_.push_back(handle.get());
  return handle.release();
}

size_t qorFileManager::Read(void* destination, size_t item_size, size_t count, AFILE* handle) {
  if (handle == nullptr || std::find(open_.begin(), open_.end(), handle) == open_.end()) return 0;
  if (!handle->in_archive) return std::fread(destination, item_size, count, handle->stream);
  const uint64_t asked = static_cast<uint64_t>(item_size) * count;
  const uint64_t n = std::min<uint64_t>(asked, handle->size - handle->position);
  std::memcpy(destination, handle->data.get() + handle->position, static_cast<size_t>(n));
  handle->position += static_cast<uint32_t>(n);
  return static_cast<size_t>(n);
}

int qorFileManager::Close(AFILE* handle) {
  // Look first: an unknown or closed handle is never touched.
  auto it = std::find(open_.begin(), open_.end(), handle);
  if (it == open_.end()) return 1;
  open_.erase(it);
  if (!handle->in_archive && handle->stream != nullptr) std::fclose(handle->stream);
  delete handle;
  return 0;
}

bool qorFileManager::ReadWholeFile(const std::string& path, std::unique_ptr<unsigned char[]>& buffer,
                                   uint32_t& length) {
  AFILE* handle = Open(path, "rb");
  if (handle == nullptr) return false;
  buffer.reset(new (std::nothrow) unsigned char[handle->size > 0 ? handle->size : 1]);
  if (!buffer) {
    Close(handle);
    return false;
  }
  length = static_cast<uint32_t>(Read(buffer.get(), 1, handle->size, handle));
  Close(handle);
  return true;
}
