// Atomic saves: a unique temporary beside the target, the old file whole
// until the rename, no temporary left whatever step fails.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/FileIo.h"

namespace {

class AtomicSave : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/fileio-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
    path_ = folder_ + "/target";
  }
  void TearDown() override {
    platform::SetFileOpsForTesting(nullptr);
    for (const auto& entry : Entries()) unlink((folder_ + "/" + entry).c_str());
    rmdir(folder_.c_str());
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    DIR* dir = opendir(folder_.c_str());
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
  }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  std::string folder_;
  std::string path_;
};

TEST_F(AtomicSave, WritesTheBytesWithTheModeAndLeavesOnlyTheTarget) {
  ASSERT_TRUE(platform::WriteFileAtomically(path_, "first", 0600));
  ASSERT_TRUE(platform::WriteFileAtomically(path_, std::string("se\0cond", 7), 0640));
  EXPECT_EQ(Read(), std::string("se\0cond", 7));
  struct stat info {};
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"target"});
}

TEST_F(AtomicSave, AFixedTemporaryNameIsNeverUsedSoAStaleOneDoesNotMatter) {
  // A leftover "target.tmp" (say a link planted by someone) is neither
  // followed nor truncated.
  std::ofstream(folder_ + "/other") << "keep";
  ASSERT_EQ(symlink((folder_ + "/other").c_str(), (path_ + ".tmp").c_str()), 0);
  ASSERT_TRUE(platform::WriteFileAtomically(path_, "new"));
  std::ifstream other(folder_ + "/other");
  std::string kept;
  other >> kept;
  EXPECT_EQ(kept, "keep");
  EXPECT_EQ(Read(), "new");
}

// Fails the k-th call of the table (counting every operation), with EIO.
struct FailingOps {
  explicit FailingOps(int fail_at) : fail_at(fail_at) {
    const platform::FileOps& real = platform::SystemFileOps();
    ops = real;
    ops.open_temporary = [this, &real](std::string& name) {
      return Step() ? real.open_temporary(name) : -1;
    };
    ops.write_at = [this, &real](int fd, const void* data, size_t n, off_t at) {
      return Step() ? real.write_at(fd, data, n, at) : static_cast<ssize_t>(-1);
    };
    ops.chmod = [this, &real](int fd, mode_t mode) { return Step() ? real.chmod(fd, mode) : -1; };
    ops.fsync = [this, &real](int fd) { return Step() ? real.fsync(fd) : -1; };
    ops.close = [this, &real](int fd) {
      int result = real.close(fd);  // the descriptor is gone either way
      return Step() ? result : -1;
    };
    ops.rename = [this, &real](const std::string& from, const std::string& to) {
      return Step() ? real.rename(from, to) : -1;
    };
    ops.fsync_folder = [this, &real](const std::string& folder) {
      return Step() ? real.fsync_folder(folder) : -1;
    };
  }
  bool Step() {
    if (++calls != fail_at) return true;
    errno = EIO;
    return false;
  }
  int fail_at;
  int calls = 0;
  platform::FileOps ops;
};

TEST_F(AtomicSave, EveryFailedStepKeepsTheOldFileOrGivesTheNewOneAndLeavesNoTemporary) {
  int k = 1;
  for (;; ++k) {
    ASSERT_TRUE(platform::WriteFileAtomically(path_, "old"));
    FailingOps failing(k);
    platform::SetFileOpsForTesting(&failing.ops);
    const bool saved = platform::WriteFileAtomically(path_, "new contents");
    platform::SetFileOpsForTesting(nullptr);
    const std::string now = Read();
    EXPECT_TRUE(now == "old" || now == "new contents") << "step " << k;
    EXPECT_EQ(Entries(), std::vector<std::string>{"target"}) << "step " << k;
    if (failing.calls < k) {
      EXPECT_TRUE(saved);
      EXPECT_EQ(now, "new contents");
      break;
    }
    EXPECT_FALSE(saved) << "step " << k;
  }
  // open, write, chmod, fsync, close, rename, folder fsync.
  EXPECT_EQ(k, 8);
}

TEST(FolderOf, SplitsAtTheLastSlash) {
  EXPECT_EQ(platform::FolderOf("/a/b/c"), "/a/b");
  EXPECT_EQ(platform::FolderOf("/c"), "/");
  EXPECT_EQ(platform::FolderOf("c"), ".");
}

}  // namespace
