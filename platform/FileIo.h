// Whole reads and writes at an offset, retried on interruption, and a file
// written atomically (unique temporary file in the same folder, flush,
// rename, flush of the folder).
//
// The steps of an atomic save (and of the program's self-update copy) go
// through a table of file operations that tests replace to make the N-th
// call fail, so every way a save can be cut short can be tried.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// True when all n bytes were read (or written) at the offset.
bool ReadFullyAt(int fd, void* buffer, size_t n, off_t at);
bool WriteFullyAt(int fd, const void* data, size_t n, off_t at);

// The operations an atomic save is made of. Each returns what its system
// call returns (-1 with errno set on failure).
struct FileOps {
  // open(2).
  std::function<int(const std::string& path, int flags, mode_t mode)> open;
  // Creates and opens a new file whose name is the template with its last
  // six 'X' replaced (mkostemp with O_CLOEXEC); the template receives the name.
  std::function<int(std::string& name_template)> open_temporary;
  // pread(2) and pwrite(2): one call, possibly short.
  std::function<ssize_t(int fd, void* buffer, size_t n, off_t at)> read_at;
  std::function<ssize_t(int fd, const void* data, size_t n, off_t at)> write_at;
  // fchmod(2).
  std::function<int(int fd, mode_t mode)> chmod;
  // fsync(2) of an open file.
  std::function<int(int fd)> fsync;
  // rename(2).
  std::function<int(const std::string& from, const std::string& to)> rename;
  // unlink(2).
  std::function<int(const std::string& path)> unlink;
  // Opens the folder and fsyncs it, so a rename inside it reaches the disk.
  std::function<int(const std::string& folder)> fsync_folder;
  // close(2).
  std::function<int(int fd)> close;
  // rmdir(2): removes an empty folder.
  std::function<int(const std::string& folder)> remove_folder;
  // stat(2): follows a final link.
  std::function<int(const std::string& path, struct stat* st)> stat;
  // mkdir(2).
  std::function<int(const std::string& folder, mode_t mode)> make_folder;
};

// The table in force (the real system calls unless a test replaced them).
const FileOps& CurrentFileOps();
// The real system calls, for a test table to delegate to.
const FileOps& SystemFileOps();
// Replaces the table for the whole process; nullptr restores the real one.
// The table must outlive its installation; tests install it while no other
// thread saves.
void SetFileOpsForTesting(const FileOps* ops);

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

// Writes the bytes to a new temporary file beside path (path + ".XXXXXX"),
// flushes it to disk, gives it the mode, renames it over path and flushes the
// folder, so the old file stays whole until the new one is. False (with the
// old file untouched and no temporary left) when any step fails.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, mode_t mode = 0644);

// How a read of a whole file ended.
enum class ReadStatus {
  kRead,      // every byte, up to the end of the file
  kMissing,   // there is no such file (ENOENT, or a folder on its way is missing)
  kFailed,    // it could not be opened (other than missing) or a read failed part way
  kTooLarge,  // it holds more bytes than the limit
};

// Reads a file from its start through the table, handing each piece read to
// `piece` (at most 64 KiB at a time), until its end. What was handed over
// before a failure stays handed over.
ReadStatus ReadFileInPieces(const std::string& path,
                            const std::function<void(const char* data, size_t n)>& piece);
// The whole file, at most `limit` bytes (kTooLarge past it, `bytes` then
// holding the first `limit`).
ReadStatus ReadWholeFile(const std::string& path, size_t limit, std::string& bytes);
// At most the first n bytes of a file (kRead also when it is longer).
ReadStatus ReadFileStart(const std::string& path, size_t n, std::string& bytes);

// True when the path names a regular file (following links).
bool IsRegularFile(const std::string& path);
// The permission bits of an existing file; false when it cannot be looked at.
bool FileMode(const std::string& path, mode_t& mode);
// Makes the folders of `rest` ('/'-separated, relative) one by one under
// `base`, which must exist; a folder that is already there is no failure.
// A ".." component is refused.
bool MakeFoldersUnder(const std::string& base, const std::string& rest, mode_t mode = 0755);

// The absolute path with every link and "." or ".." resolved; "" when it
// cannot be resolved (it does not exist).
std::string RealPath(const std::string& path);

// The names of the regular files directly in a folder (links and folders
// left out), in no particular order; empty when it cannot be read.
std::vector<std::string> RegularFilesIn(const std::string& folder);

// An exclusive advisory lock (flock) on a lock file, held through an open
// descriptor: it goes when released, when the object goes, or when the
// process ends however it ends, so a killed holder never blocks the next.
// Two locks on one file conflict even inside one process. The descriptor is
// not inherited by programs the process starts.
class FileLock {
 public:
  enum class Result {
    kTaken,   // the lock is held
    kBusy,    // another holder has it
    kFailed,  // the lock file cannot be made or opened
  };
  FileLock() = default;
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens (creating, mode 0600) the file and takes the lock without
  // waiting. A lock already held by this object is released first.
  Result Take(const std::string& path);
  void Release();
  bool held() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace platform
