// units.alu at the window's start and close: a table that could not be read
// is never written over, and a control that refused its first start (the
// student's session is open in another program) leaves the table alone.
#include <fcntl.h>

#include <cerrno>
#include <set>

#include "WindowFixture.h"
#include "host/qorUnitsManager.h"
#include "platform/FileIo.h"

namespace fs = std::filesystem;

namespace {

class UnitsTableTest : public WindowTest {
 protected:
  void TearDown() override {
    platform::SetFileOpsForTesting(nullptr);
    WindowTest::TearDown();
  }
  static std::string Table(int percent) {
    std::string text;
    for (int n = 1; n <= 144; ++n)
      text += std::to_string(n) + ":0:1:0:0:0:" + std::to_string(percent) + "\r\n";
    return text;
  }
};

TEST_F(UnitsTableTest, ATableWithAReadErrorSurvivesTheStartAndTheClose) {
  FolderOptions options;
  options.units_alu = Table(70) + std::string(100 * 1024, ' ');
  // The table's second read fails; every other file reads as it is.
  platform::FileOps ops = platform::SystemFileOps();
  std::set<int> table_fds;
  int table_reads = 0;
  ops.open = [&](const std::string& path, int flags, mode_t mode) {
    const int fd = platform::SystemFileOps().open(path, flags, mode);
    if (fd >= 0 && path.size() >= 9 && path.compare(path.size() - 9, 9, "units.alu") == 0)
      table_fds.insert(fd);
    return fd;
  };
  ops.read_at = [&](int fd, void* b, size_t n, off_t at) -> ssize_t {
    if (table_fds.count(fd) && ++table_reads == 2) return errno = EIO, -1;
    return platform::SystemFileOps().read_at(fd, b, n, at);
  };
  ops.close = [&](int fd) {
    table_fds.erase(fd);
    return platform::SystemFileOps().close(fd);
  };
  platform::SetFileOpsForTesting(&ops);
  TForm1& form = Open(options);
  platform::SetFileOpsForTesting(nullptr);
  EXPECT_EQ(table_reads, 2);
  const std::string before = ReadFile(folder_ + "data/units.alu");
  form.show();
  Study(5);
  testing::internal::CaptureStderr();
  form.Image16Click();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(ReadFile(folder_ + "data/units.alu"), before);
  const std::string said = "units.alu could not be read at the start: it is not saved\n";
  ASSERT_NE(err.find(said), std::string::npos) << err;
  EXPECT_EQ(err.find(said, err.find(said) + 1), std::string::npos) << err;  // once
}

TEST_F(UnitsTableTest, ATableThatCannotBeOpenedSurvivesTooAndAMissingOneIsCreated) {
  FolderOptions options;
  options.units_alu = Table(40);
  platform::FileOps ops = platform::SystemFileOps();
  ops.open = [&](const std::string& path, int flags, mode_t mode) {
    if (path.size() >= 9 && path.compare(path.size() - 9, 9, "units.alu") == 0)
      return errno = EACCES, -1;
    return platform::SystemFileOps().open(path, flags, mode);
  };
  platform::SetFileOpsForTesting(&ops);
  TForm1& form = Open(options);
  platform::SetFileOpsForTesting(nullptr);
  form.show();
  testing::internal::CaptureStderr();
  form.Image16Click();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadFile(folder_ + "data/units.alu"), Table(40));
  form_.reset();
  qorUnitsManager::Release();
  fs::remove_all(root_);
  fs::create_directories(root_);
  // No table at all: the close makes it, as ever.
  TForm1& fresh = Open();
  ASSERT_FALSE(fs::exists(folder_ + "data/units.alu"));
  fresh.show();
  fresh.Image16Click();
  EXPECT_EQ(ReadFile(folder_ + "data/units.alu").substr(0, 15), "1:0:0:0:0:0:0\r\n");
}

TEST_F(UnitsTableTest, ARefusedFirstStartLeavesTheTableAsItWas) {
  FolderOptions options;
  options.units_alu = "5:0:3:1:0:5:40\n";  // not as the window would write it
  control_->test_result = 2;
  TForm1& form = Open(options);
  form.show();
  Study(5);
  EXPECT_FALSE(form.UnitLoaded);
  form.Image16Click();
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(ReadFile(folder_ + "data/units.alu"), "5:0:3:1:0:5:40\n");
}

}  // namespace
