// The file-backed registry: round trips, case, deletion, damaged files and
// writes that never leave a half-written file.
#include <gtest/gtest.h>

#include "platform/FileIo.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
  EXPECT_EQ(reg::AccessList(reg::Root::kCurrentUser, key),
            std::vector<std::string>{"S-1-1-0:983103"});
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

TEST_F(RegistryTest, EveryByteButNulRoundTripsInNamesAndValuesAndOtherKeysSurvive) {
  std::string all;
  for (int c = 1; c <= 0xFF; ++c) all += static_cast<char>(c);
  ASSERT_TRUE(reg::CreateKey(reg::Root::kCurrentUser, "Other"));
  ASSERT_TRUE(reg::CreateKey(reg::Root::kCurrentUser, "Key\tab\there"));
  reg::Value v;
  v.text = "a\tb\t\tc" + all;
  ASSERT_TRUE(reg::SetValue(reg::Root::kCurrentUser, "Key\tab\there", "name\twith tab" + all, v));
  // The next load reads the file written above.
  reg::Value out;
  ASSERT_TRUE(
      reg::QueryValue(reg::Root::kCurrentUser, "Key\tab\there", "name\twith tab" + all, out));
  EXPECT_EQ(out.text, v.text);
  EXPECT_TRUE(reg::KeyExists(reg::Root::kCurrentUser, "Other"));
  EXPECT_FALSE(fs::exists(dir_ / "HKEY_CURRENT_USER.reg.damaged"));
}

TEST_F(RegistryTest, ChangesFromSeveralProcessesAtOnceAreAllKept) {
  ASSERT_TRUE(reg::CreateKey(reg::Root::kCurrentUser, "Shared"));
  constexpr int kProcesses = 4;
  constexpr int kValues = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int i = 0; i < kValues; ++i) {
        reg::Value v;
        v.type = reg::Type::kDword;
        v.dword = static_cast<uint32_t>(i);
        ok = reg::SetValue(reg::Root::kCurrentUser, "Shared",
                           "p" + std::to_string(p) + "v" + std::to_string(i), v) &&
             ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int found = 0;
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kValues; ++i) {
      reg::Value out;
      if (reg::QueryValue(reg::Root::kCurrentUser, "Shared",
                          "p" + std::to_string(p) + "v" + std::to_string(i), out) &&
          out.dword == static_cast<uint32_t>(i)) {
        ++found;
      }
    }
  }
  EXPECT_EQ(found, kProcesses * kValues);
}

TEST_F(RegistryTest, AFolderOthersCanWriteIsNeitherReadNorWritten) {
  ASSERT_TRUE(reg::CreateKey(reg::Root::kClassesRoot, "CLSID\\{X}\\InprocServer32"));
  reg::Value planted;
  planted.text = "/home/user/liblectoria.so";
  ASSERT_TRUE(reg::SetValue(reg::Root::kClassesRoot, "CLSID\\{X}\\InprocServer32", "", planted));
  const std::string before = [&] {
    std::ifstream in(dir_ / "HKEY_CLASSES_ROOT.reg", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();

  for (mode_t mode : {0720, 0702}) {
    ASSERT_EQ(chmod(dir_.c_str(), mode), 0);
    reg::Value out;
    EXPECT_FALSE(reg::QueryValue(reg::Root::kClassesRoot, "CLSID\\{X}\\InprocServer32", "", out))
        << mode;
    EXPECT_FALSE(reg::KeyExists(reg::Root::kClassesRoot, "CLSID")) << mode;
    EXPECT_FALSE(reg::CreateKey(reg::Root::kClassesRoot, "New")) << mode;
  }
  ASSERT_EQ(chmod(dir_.c_str(), 0700), 0);
  if (geteuid() == 0) {
    // A folder owned by another account is refused as well.
    ASSERT_EQ(chown(dir_.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(reg::KeyExists(reg::Root::kClassesRoot, "CLSID"));
    EXPECT_FALSE(reg::CreateKey(reg::Root::kClassesRoot, "New"));
    ASSERT_EQ(chown(dir_.c_str(), 0, 0), 0);
  }
  std::ifstream in(dir_ / "HKEY_CLASSES_ROOT.reg", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
  EXPECT_TRUE(reg::KeyExists(reg::Root::kClassesRoot, "CLSID"));
}

TEST(RegistryFolder, WithoutHomeTheAccountsOwnHomeFolderIsUsed) {
  const char* names[] = {"LECTORIA_REGISTRY_DIR", "XDG_CONFIG_HOME", "HOME"};
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* name : names) {
    if (const char* v = std::getenv(name)) saved.emplace_back(name, v);
    unsetenv(name);
  }
  passwd* entry = getpwuid(geteuid());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(reg::Folder(), std::string(entry->pw_dir) + "/.config/lectoria");
  setenv("HOME", "", 1);  // an empty HOME is no folder either
  EXPECT_EQ(reg::Folder(), std::string(entry->pw_dir) + "/.config/lectoria");
  unsetenv("HOME");
  for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace
