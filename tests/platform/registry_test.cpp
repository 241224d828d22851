// The file-backed registry: round trips, case, deletion, damaged files and
// writes that never leave a half-written file.
#include <gtest/gtest.h>

#include "platform/FileIo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/registry/Registry.h"

namespace fs = std::filesystem;
namespace reg = platform::registry;

namespace {

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-registry-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("LECTORIA_REGISTRY_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("LECTORIA_REGISTRY_DIR");
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(RegistryTest, KeysAndTypedValues) {
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  EXPECT_FALSE(reg::KeyExists(reg::Root::kCurrentUser, key));
  reg::Value v;
  v.type = reg::Type::kDword;
  v.dword = 1;
  EXPECT_FALSE(reg::SetValue(reg::Root::kCurrentUser, key, "ProxyEnable", v));  // no key yet
  ASSERT_TRUE(reg::CreateKey(reg::Root::kCurrentUser, key, {"S-1-1-0:983103"}));
  EXPECT_TRUE(reg::KeyExists(reg::Root::kCurrentUser, "software\\microsoft"));  // parents, any case
  ASSERT_TRUE(reg::SetValue(reg::Root::kCurrentUser, key, "ProxyEnable", v));
  reg::Value s;
  s.type = reg::Type::kExpandSz;
  s.text = "%TEMP%\\a\nb";
  ASSERT_TRUE(reg::SetValue(reg::Root::kCurrentUser, key, "Path", s));
  reg::Value out;
  ASSERT_TRUE(reg::QueryValue(reg::Root::kCurrentUser, key, "proxyenable", out));
  EXPECT_EQ(out.type, reg::Type::kDword);
  EXPECT_EQ(out.dword, 1u);
  ASSERT_TRUE(reg::QueryValue(reg::Root::kCurrentUser, key, "Path", out));
  EXPECT_EQ(out.text, "%TEMP%\\a\nb");
  EXPECT_EQ(reg::AccessList(reg::Root::kCurrentUser, key), std::vector<std::string>{"S-1-1-0:983103"});
  EXPECT_FALSE(reg::QueryValue(reg::Root::kLocalMachine, key, "Path", out));  // roots are apart

  EXPECT_TRUE(reg::DeleteValue(reg::Root::kCurrentUser, key, "Path"));
  EXPECT_FALSE(reg::QueryValue(reg::Root::kCurrentUser, key, "Path", out));
  EXPECT_TRUE(reg::DeleteKey(reg::Root::kCurrentUser, "Software\\Microsoft"));
  EXPECT_FALSE(reg::KeyExists(reg::Root::kCurrentUser, key));
  EXPECT_TRUE(reg::KeyExists(reg::Root::kCurrentUser, "Software"));
}

TEST_F(RegistryTest, DamagedFilesAreSetAsideAndSavesAreWhole) {
  ASSERT_TRUE(reg::CreateKey(reg::Root::kLocalMachine, "A"));
  std::ofstream(dir_ / "HKEY_LOCAL_MACHINE.reg") << "garbage\x01\x02";
  EXPECT_FALSE(reg::KeyExists(reg::Root::kLocalMachine, "A"));
  EXPECT_TRUE(fs::exists(dir_ / "HKEY_LOCAL_MACHINE.reg.damaged"));

  // A save that cannot put its temporary file down leaves the old file.
  ASSERT_TRUE(reg::CreateKey(reg::Root::kClassesRoot, "Kept"));
  platform::FileOps no_temporary = platform::SystemFileOps();
  no_temporary.open_temporary = [](std::string&) {
    errno = ENOSPC;
    return -1;
  };
  platform::SetFileOpsForTesting(&no_temporary);
  EXPECT_FALSE(reg::CreateKey(reg::Root::kClassesRoot, "Lost"));
  platform::SetFileOpsForTesting(nullptr);
  EXPECT_TRUE(reg::KeyExists(reg::Root::kClassesRoot, "Kept"));
  EXPECT_FALSE(reg::KeyExists(reg::Root::kClassesRoot, "Lost"));
}

}  // namespace
