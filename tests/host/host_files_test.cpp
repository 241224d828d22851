// The host's tokenizer, its key/value files and the units.alu table.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/qorSettings.h"
#include "host/qorStringTokenizer.h"
#include "host/qorUnitsManager.h"
#include "platform/FileIo.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Tokens(const std::string& text, char sep) {
  qorStringTokenizer t(text, sep);
  std::vector<std::string> out;
  while (t.HasMoreTokens()) out.push_back(t.NextToken());
  return out;
}

TEST(HostTokenizer, NeverEmptyTokens) {
  EXPECT_EQ(Tokens("::a::b:", ':'), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Tokens("1:2::3", ':'), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_TRUE(Tokens("", ':').empty());
  EXPECT_TRUE(Tokens(":::", ':').empty());
  qorStringTokenizer done("a", ':');
  done.NextToken();
  EXPECT_EQ(done.NextToken(), "");
}

class HostFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-host-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  fs::path dir_;
};

TEST_F(HostFilesTest, SettingsLines) {
  qorSettings s;
  s.SetFile(Write("a.txt", "a=1\r\nb=2"));
  EXPECT_EQ(s.Load(), 1);
  EXPECT_EQ(s.entries().size(), 2u);

  s.SetFile(Write("b.txt", "x=y=z\r\nlist=1,\r\n2,3\r\nk=first\r\nk=second\r\nB=up\r\na=low\r\nnoequals\r\n"));
  ASSERT_EQ(s.Load(), 1);
  std::string v;
  ASSERT_TRUE(s.Get("x", v));
  EXPECT_EQ(v, "y=z");
  ASSERT_TRUE(s.Get("list", v));
  EXPECT_EQ(v, "1,2,3");
  ASSERT_TRUE(s.Get("k", v));
  EXPECT_EQ(v, "first");
  EXPECT_EQ(s.entries().begin()->first, "B");  // byte order: upper case first
  EXPECT_FALSE(s.Get("K", v));
  EXPECT_EQ(v, "first");  // unchanged on a miss

  s.SetFile(Write("lf.txt", "p=1\nq=2\n"));
  ASSERT_EQ(s.Load(), 1);
  ASSERT_TRUE(s.Get("p", v));
  EXPECT_EQ(v, "1q=2");  // LF alone ends nothing
  s.SetFile((dir_ / "none").string());
  EXPECT_EQ(s.Load(), 0);
  EXPECT_TRUE(s.entries().empty());
}

TEST_F(HostFilesTest, UnitsTableLoadAndSave) {
  qorUnitsManager units;
  const std::string path = (dir_ / "units.alu").string();
  EXPECT_FALSE(units.Load(path));
  ASSERT_TRUE(units.Save(path));
  std::string saved = Read(path);
  EXPECT_EQ(saved.substr(0, 15), "1:0:0:0:0:0:0\r\n");
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 144);

  Write("units.alu", "5:1:20:3:0:45:80\r\n200:1:2:3:4:5:6\r\n0:9:9\r\n7:1:2\r\n7:1:3\r\n9:99999999999:-99999999999\r\n");
  ASSERT_TRUE(units.Load(path));
  const qorUnit* five = units.Entry(5);
  EXPECT_EQ(five->flag, 1);
  EXPECT_EQ(five->answers, 20);
  EXPECT_EQ(five->errors, 3);
  EXPECT_EQ(five->minutes, 45);
  EXPECT_EQ(five->percent, 80);
  EXPECT_EQ(units.Entry(7)->answers, 3);  // the later line wins
  EXPECT_EQ(units.Entry(7)->errors, 0);
  EXPECT_EQ(units.Entry(9)->flag, INT32_MAX);  // clamped, not wrapped
  EXPECT_EQ(units.Entry(9)->answers, INT32_MIN);
  EXPECT_EQ(units.Entry(0), nullptr);
  EXPECT_EQ(units.Entry(145), nullptr);
  ASSERT_TRUE(units.Save(path));
  saved = Read(path);
  EXPECT_NE(saved.find("\r\n5:1:20:3:0:45:80\r\n"), std::string::npos);
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 144);

  // LF-only files are one line: only its first fields count.
  qorUnitsManager lf;
  Write("lf.alu", "3:1:2:3:4:5:6\n4:1:1:1:1:1:1\n");
  ASSERT_TRUE(lf.Load((dir_ / "lf.alu").string()));
  EXPECT_EQ(lf.Entry(3)->percent, 64);  // "6" and the next line's "4" run together
  EXPECT_EQ(lf.Entry(4)->flag, 0);
}

TEST_F(HostFilesTest, AFailedSaveKeepsTheOldTable) {
  qorUnitsManager units;
  const std::string path = (dir_ / "units.alu").string();
  units.Entry(1)->percent = 50;
  ASSERT_TRUE(units.Save(path));
  const std::string before = Read(path);
  // The temporary file cannot be made: the save fails and the table stays.
  platform::FileOps no_temporary = platform::SystemFileOps();
  no_temporary.open_temporary = [](std::string&) {
    errno = ENOSPC;
    return -1;
  };
  platform::SetFileOpsForTesting(&no_temporary);
  units.Entry(1)->percent = 99;
  EXPECT_FALSE(units.Save(path));
  platform::SetFileOpsForTesting(nullptr);
  EXPECT_EQ(Read(path), before);
  EXPECT_FALSE(units.Save((dir_ / "no" / "units.alu").string()));
}

TEST_F(HostFilesTest, ATableThatCouldNotBeReadIsToldFromAMissingOne) {
  qorUnitsManager units;
  const std::string path = (dir_ / "units.alu").string();
  EXPECT_FALSE(units.Load(path));
  EXPECT_FALSE(units.LoadFailed());  // missing: created at the close as before
  // A read error part way: what came before it is kept, and it is told.
  std::string text;
  for (int n = 1; n <= 144; ++n) text += std::to_string(n) + ":0:" + std::to_string(n) + ":0:0:0:50\r\n";
  text += std::string(200 * 1024, ' ');
  Write("units.alu", text);
  platform::FileOps ops = platform::SystemFileOps();
  int reads = 0;
  ops.read_at = [&](int fd, void* b, size_t n, off_t at) -> ssize_t {
    if (++reads == 2) return errno = EIO, -1;
    return platform::SystemFileOps().read_at(fd, b, n, at);
  };
  platform::SetFileOpsForTesting(&ops);
  EXPECT_FALSE(units.Load(path));
  platform::SetFileOpsForTesting(nullptr);
  EXPECT_TRUE(units.LoadFailed());
  EXPECT_EQ(units.Entry(144)->answers, 144);
  // Refused at the open: told as well, the table as it was.
  ops.open = [](const std::string&, int, mode_t) { return errno = EACCES, -1; };
  qorUnitsManager refused;
  platform::SetFileOpsForTesting(&ops);
  EXPECT_FALSE(refused.Load(path));
  platform::SetFileOpsForTesting(nullptr);
  EXPECT_TRUE(refused.LoadFailed());
  EXPECT_EQ(refused.Entry(144)->answers, 0);
  // A later load that reads it whole clears it.
  EXPECT_TRUE(refused.Load(path));
  EXPECT_FALSE(refused.LoadFailed());
}

TEST_F(HostFilesTest, TheSaveKeepsTheFilesMode) {
  qorUnitsManager units;
  const std::string path = (dir_ / "units.alu").string();
  ASSERT_TRUE(units.Save(path));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);  // a new file
  for (mode_t mode : {mode_t{0600}, mode_t{0440}, mode_t{0664}}) {
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    units.Entry(1)->percent = static_cast<int32_t>(mode);
    ASSERT_TRUE(units.Save(path));
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_NE(Read(path).find("1:0:0:0:0:0:" + std::to_string(mode) + "\r\n"), std::string::npos);
  }
}

TEST_F(HostFilesTest, UnitNumbersAndLevelsAtTheirBounds) {
  qorUnitsManager units;
  ASSERT_NE(units.Entry(144), nullptr);
  EXPECT_EQ(units.Entry(144)->number, 144);
  EXPECT_EQ(units.Entry(1)->number, 1);
  EXPECT_EQ(units.Entry(145), nullptr);
  EXPECT_EQ(units.Entry(0), nullptr);
  ASSERT_NE(units.Level(5), nullptr);
  EXPECT_EQ(units.Level(6), nullptr);
  units.SetUnitName("last", 144);
  units.SetUnitName("past", 145);
  EXPECT_EQ(units.Level(5)->titles[23], "last");

  units.SetEntryFromLine("144:1:2:3:4:5:6");
  units.SetEntryFromLine("145:9:9:9:9:9:9");
  EXPECT_EQ(units.Entry(144)->percent, 6);
  // 32-bit values at the bound stay, one past it is clamped.
  units.SetEntryFromLine("1:2147483647:-2147483648:2147483648:-2147483649");
  EXPECT_EQ(units.Entry(1)->flag, INT32_MAX);
  EXPECT_EQ(units.Entry(1)->answers, INT32_MIN);
  EXPECT_EQ(units.Entry(1)->errors, INT32_MAX);
  EXPECT_EQ(units.Entry(1)->hours, INT32_MIN);
  const std::string path = (dir_ / "units.alu").string();
  ASSERT_TRUE(units.Save(path));
  const std::string saved = Read(path);
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 144);
  EXPECT_NE(saved.find("\r\n144:1:2:3:4:5:6\r\n"), std::string::npos);
  EXPECT_EQ(saved.find("145:"), std::string::npos);
}

}  // namespace
