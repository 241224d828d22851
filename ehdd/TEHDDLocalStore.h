// The local side of the eHDD client: plain files under the local root and
// members of local container volumes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TEHDDClient;
struct TFicheroEHDD;
struct TDestinoLectura;

class TEHDDLocalStore {
 public:
  explicit TEHDDLocalStore(TEHDDClient* client) : client_(client) {}

  // The folder every local path is joined to. It is kept ending in exactly
  // one separator, so "dir" and "dir/" (or "dir//") name the same folder;
  // an empty root leaves paths as they are.
  void SetRoot(const std::string& root);
  const std::string& root() const { return root_; }

  // Opens a resolved path: a container member (read only) or a plain file
  // under the root. Null when absent, refused or damaged.
  TFicheroEHDD* Abrir(const std::string& resolved_path, int32_t mode);

  // Reads up to count blocks of block_size bytes from start, never past the
  // file's length; returns the bytes read (0 when start is past the length).
  uint32_t LeerBloques(unsigned char* buffer, uint64_t start, uint32_t block_size, uint32_t count,
                       TFicheroEHDD* file);
  // The same into the pieces of `destino` (as many bytes as they hold, never
  // past the file's length).
  uint32_t LeerBloquesEn(const TDestinoLectura& destino, uint64_t start, TFicheroEHDD* file);

  // Splits at the last '#': the container part before it (empty when there
  // is none, or when '#' is the first character) and the member after it.
  static void SplitContainerPath(const std::string& path, std::string& container,
                                 std::string& member);
  // The same as views into the path.
  static void SplitContainerPath(std::string_view path, std::string_view& container,
                                 std::string_view& member);

 private:
  // The path under the root; an absolute path (a folder a tool mounted by
  // its full name) stands as it is.
  std::string UnderRoot(const std::string& path) const {
    return !path.empty() && path[0] == '/' ? path : root_ + path;
  }
  // The same with '\\' written as '/', into `out`.
  void LocalUnderRoot(std::string_view path, std::string& out) const;

  TEHDDClient* client_;
  std::string root_;
};

// Local file helpers shared by the client's plain-file paths.
namespace ehdd_local {
// '\' written as '/'.
std::string ToLocalPath(const std::string& path);
// True when a '/'- or '\'-separated component is "..".
bool HasParentComponent(std::string_view path);
// Size of a regular file opened read-only; false when absent or not a file.
bool RegularFileSize(const std::string& path, uint64_t* size);
// Creates or empties a regular file; false on failure or when it is a folder.
bool CreateEmptyFile(const std::string& path);
// Reads up to n bytes at offset; the number read (0 on failure).
uint32_t ReadAt(const std::string& path, uint64_t offset, unsigned char* buffer, uint32_t n);
// The same into the pieces of `destino` (n at most their capacity).
uint32_t ReadAtInto(const std::string& path, uint64_t offset, const TDestinoLectura& destino,
                    uint32_t n);
// Makes one folder; an existing one is no failure.
bool MakeDirectory(const std::string& path);
// Writes n bytes at offset of an existing file; the number written.
uint32_t WriteAt(const std::string& path, uint64_t offset, const unsigned char* data, uint32_t n);
}  // namespace ehdd_local
