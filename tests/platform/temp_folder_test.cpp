#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/TempFolder.h"

namespace fs = std::filesystem;

namespace {

class TempFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base_ = pattern;
    const char* old = std::getenv("TMPDIR");
    had_tmpdir_ = old != nullptr;
    if (had_tmpdir_) old_tmpdir_ = old;
  }
  void TearDown() override {
    if (had_tmpdir_) setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    else unsetenv("TMPDIR");
    fs::remove_all(base_);
  }
  std::string base_;
  bool had_tmpdir_ = false;
  std::string old_tmpdir_;
};

TEST_F(TempFolderTest, TmpdirWinsAndEndsInSeparator) {
  setenv("TMPDIR", base_.c_str(), 1);
  EXPECT_EQ(platform::TempFolder(), base_ + "/");
  setenv("TMPDIR", (base_ + "/").c_str(), 1);
  EXPECT_EQ(platform::TempFolder(), base_ + "/");
}

TEST_F(TempFolderTest, PrivateFolderIsMadeWithMode0700) {
  std::string path = platform::PrivateTempFolderIn(base_, geteuid());
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), '/');
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A second call finds the same folder, and narrows a widened mode.
  chmod(path.c_str(), 0755);
  EXPECT_EQ(platform::PrivateTempFolderIn(base_, geteuid()), path);
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(TempFolderTest, RefusesAFolderOwnedBySomeoneElse) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
  struct passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  std::string folder = base_ + "/lectoria-" + std::to_string(geteuid());
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  std::string why;
  EXPECT_EQ(platform::PrivateTempFolderIn(base_, geteuid(), &why), "");
  EXPECT_NE(why.find("another user"), std::string::npos);
}

TEST_F(TempFolderTest, RefusesALinkAndAFile) {
  std::string target = base_ + "/elsewhere";
  ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
  std::string link = base_ + "/lectoria-" + std::to_string(geteuid());
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(platform::PrivateTempFolderIn(base_, geteuid()), "");
  unlink(link.c_str());
  FILE* f = fopen(link.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_EQ(platform::PrivateTempFolderIn(base_, geteuid()), "");
}

}  // namespace
