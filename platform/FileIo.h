// Whole reads and writes at an offset, retried on interruption, and a file
// written atomically (unique temporary file in the same folder, flush,
// rename, flush of the folder).
//
// The steps of an atomic save (and of the program's self-update copy) go
// through a table of file operations that tests replace to make the N-th
// call fail, so every way a save can be cut short can be tried.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

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

}  // namespace platform
