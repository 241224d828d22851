// Whole-file reads through the operation table (a missing file told from
// one that cannot be read, a read failing part way, the size limit at and
// past its bound), folders made under a base, the regular files of a
// folder, and the session lock file: two holders conflict even in one
// process, and a killed holder leaves the lock free.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/FileIo.h"

namespace fs = std::filesystem;

namespace {

class FileRead : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/fileread-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
  }
  void TearDown() override {
    platform::SetFileOpsForTesting(nullptr);
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::string folder_;
};

TEST_F(FileRead, AMissingFileIsToldFromOneThatCannotBeRead) {
  std::string bytes = "stale";
  EXPECT_EQ(platform::ReadWholeFile(folder_ + "/none", 100, bytes), platform::ReadStatus::kMissing);
  EXPECT_EQ(bytes, "");
  // A folder on the way that is not there is missing too.
  EXPECT_EQ(platform::ReadWholeFile(folder_ + "/no/none", 100, bytes),
            platform::ReadStatus::kMissing);
  const std::string path = Write("f", "abc");
  platform::FileOps ops = platform::SystemFileOps();
  ops.open = [](const std::string&, int, mode_t) { return errno = EACCES, -1; };
  platform::SetFileOpsForTesting(&ops);
  EXPECT_EQ(platform::ReadWholeFile(path, 100, bytes), platform::ReadStatus::kFailed);
  platform::SetFileOpsForTesting(nullptr);
  EXPECT_EQ(platform::ReadWholeFile(path, 100, bytes), platform::ReadStatus::kRead);
  EXPECT_EQ(bytes, "abc");
}

TEST_F(FileRead, AReadFailingPartWayFailsAndKeepsWhatCameBefore) {
  const std::string path = Write("big", std::string(200 * 1024, 'x'));
  platform::FileOps ops = platform::SystemFileOps();
  int reads = 0;
  ops.read_at = [&](int fd, void* b, size_t n, off_t at) -> ssize_t {
    if (++reads == 2) return errno = EIO, -1;
    return platform::SystemFileOps().read_at(fd, b, n, at);
  };
  platform::SetFileOpsForTesting(&ops);
  size_t seen = 0;
  EXPECT_EQ(platform::ReadFileInPieces(path, [&](const char*, size_t n) { seen += n; }),
            platform::ReadStatus::kFailed);
  EXPECT_EQ(seen, 64u * 1024);
  reads = 0;
  std::string bytes;
  EXPECT_EQ(platform::ReadWholeFile(path, 1 << 20, bytes), platform::ReadStatus::kFailed);
  // Interrupted reads are retried, not failures.
  ops.read_at = [&](int fd, void* b, size_t n, off_t at) -> ssize_t {
    if (++reads % 2 == 1) return errno = EINTR, -1;
    return platform::SystemFileOps().read_at(fd, b, n, at);
  };
  EXPECT_EQ(platform::ReadWholeFile(path, 1 << 20, bytes), platform::ReadStatus::kRead);
  EXPECT_EQ(bytes.size(), 200u * 1024);
}

TEST_F(FileRead, TheLimitHoldsAFileOfItsSizeAndRefusesOneByteMore) {
  const std::string path = Write("f", std::string(32, 'a'));
  std::string bytes;
  EXPECT_EQ(platform::ReadWholeFile(path, 32, bytes), platform::ReadStatus::kRead);
  EXPECT_EQ(bytes.size(), 32u);
  EXPECT_EQ(platform::ReadWholeFile(path, 31, bytes), platform::ReadStatus::kTooLarge);
  EXPECT_EQ(bytes.size(), 31u);
  // The start of a file is read whatever follows it.
  EXPECT_EQ(platform::ReadFileStart(path, 31, bytes), platform::ReadStatus::kRead);
  EXPECT_EQ(bytes, std::string(31, 'a'));
  EXPECT_EQ(platform::ReadFileStart(path, 40, bytes), platform::ReadStatus::kRead);
  EXPECT_EQ(bytes.size(), 32u);
}

TEST_F(FileRead, FoldersAreMadeUnderTheBaseOnly) {
  EXPECT_TRUE(platform::MakeFoldersUnder(folder_, "a/b//c"));
  EXPECT_TRUE(fs::is_directory(folder_ + "/a/b/c"));
  EXPECT_TRUE(platform::MakeFoldersUnder(folder_ + "/", "a/b"));  // already there
  EXPECT_FALSE(platform::MakeFoldersUnder(folder_, "a/../../x"));
  EXPECT_FALSE(fs::exists(folder_ + "/../x"));
  Write("file", "x");
  EXPECT_FALSE(platform::MakeFoldersUnder(folder_, "file/sub"));
}

TEST_F(FileRead, TheRegularFilesOfAFolderLeaveOutLinksAndFolders) {
  Write("one", "1");
  Write("two.QOL", "2");
  fs::create_directories(folder_ + "/sub");
  fs::create_symlink(folder_ + "/one", folder_ + "/link");
  std::vector<std::string> names = platform::RegularFilesIn(folder_);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"one", "two.QOL"}));
  EXPECT_TRUE(platform::RegularFilesIn(folder_ + "/none").empty());
  EXPECT_EQ(platform::RealPath(folder_ + "/sub/../link"), platform::RealPath(folder_ + "/one"));
  EXPECT_EQ(platform::RealPath(folder_ + "/none"), "");
}

TEST_F(FileRead, TwoLocksOnOneFileConflictEvenInOneProcess) {
  const std::string path = folder_ + "/work.lck";
  platform::FileLock first, second;
  EXPECT_EQ(first.Take(path), platform::FileLock::Result::kTaken);
  EXPECT_TRUE(first.held());
  EXPECT_EQ(first.path(), path);
  EXPECT_EQ(second.Take(path), platform::FileLock::Result::kBusy);
  EXPECT_FALSE(second.held());
  first.Release();
  EXPECT_FALSE(first.held());
  EXPECT_TRUE(fs::exists(path));  // the file stays for the next holder
  EXPECT_EQ(second.Take(path), platform::FileLock::Result::kTaken);
  EXPECT_EQ(platform::FileLock().Take(folder_ + "/no/work.lck"),
            platform::FileLock::Result::kFailed);
  // A link in the lock file's place is not followed.
  fs::create_symlink(path, folder_ + "/link.lck");
  EXPECT_EQ(platform::FileLock().Take(folder_ + "/link.lck"), platform::FileLock::Result::kFailed);
}

TEST_F(FileRead, AKilledHolderLeavesTheLockFree) {
  const std::string path = folder_ + "/work.lck";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::FileLock lock;
    const char taken = lock.Take(path) == platform::FileLock::Result::kTaken ? 'y' : 'n';
    (void)!write(ready[1], &taken, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char taken = 0;
  ASSERT_EQ(read(ready[0], &taken, 1), 1);
  close(ready[0]);
  EXPECT_EQ(taken, 'y');
  platform::FileLock lock;
  EXPECT_EQ(lock.Take(path), platform::FileLock::Result::kBusy);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(lock.Take(path), platform::FileLock::Result::kTaken);
}

}  // namespace
