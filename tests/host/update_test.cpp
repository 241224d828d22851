// The update at start-up: installed whole or not at all, names kept inside
// the program folder, cut manifests refused, the restart only once the
// manifest is gone, and the velarno-update tool over the same steps.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "host/qorSettings.h"
#include "host/qorUpdate.h"
#include "host/qorUtils.h"
#include "platform/FileIo.h"
#include "platform/MessageBox.h"

extern char** environ;

namespace fs = std::filesystem;
using Outcome = UpdateReport::Outcome;

namespace {

std::string Hex(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(crc));
  return text;
}

std::string CrcOf(const std::string& bytes) {
  return Hex(Crc32Update(0, bytes.data(), static_cast<uint32_t>(bytes.size())));
}

// Four bytes that, appended to data, give the wanted CRC-32: the CRC of a
// fixed length is affine in the appended bits, so solve over GF(2).
std::string WithCrc(const std::string& data, uint32_t wanted) {
  auto crc_with = [&](uint32_t x) {
    std::string b = data;
    for (int i = 0; i < 4; ++i) b += static_cast<char>(x >> (8 * i));
    return Crc32Update(0, b.data(), static_cast<uint32_t>(b.size()));
  };
  const uint32_t base = crc_with(0);
  uint32_t rows[32] = {}, combos[32] = {};
  for (int j = 0; j < 32; ++j) {
    uint32_t v = crc_with(1u << j) ^ base, c = 1u << j;
    for (int b = 31; b >= 0 && v != 0; --b) {
      if (!(v >> b & 1)) continue;
      if (rows[b] == 0) {
        rows[b] = v, combos[b] = c;
        break;
      }
      v ^= rows[b], c ^= combos[b];
    }
  }
  uint32_t t = wanted ^ base, x = 0;
  for (int b = 31; b >= 0; --b)
    if (t >> b & 1) t ^= rows[b], x ^= combos[b];
  std::string out = data;
  for (int i = 0; i < 4; ++i) out += static_cast<char>(x >> (8 * i));
  return out;
}

class Update : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-update-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    prog_ = root_ + "/prog/";
    fs::create_directories(prog_ + "upd");
  }
  void TearDown() override {
    platform::SetFileOpsForTesting(nullptr);
    platform::SetExitHook({});
    fs::remove_all(root_);
  }
  static void Put(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    chmod(path.c_str(), mode);
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return in ? s.str() : "<none>";
  }
  // Offers NAME with new bytes in upd and lists it.
  std::string Offer(const std::string& name, const std::string& bytes) {
    std::string path = name;
    for (char& c : path)
      if (c == '\\') c = '/';
    Put(prog_ + "upd/" + path, bytes);
    return name + "=" + CrcOf(bytes) + "\r\n";
  }
  void List(const std::string& manifest) { Put(prog_ + "upd/manifest.qor", manifest); }
  // Every entry under the test's folder: kind, mode and bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      struct stat info {};
      lstat(e.path().c_str(), &info);
      all[e.path().string()] =
          std::to_string(info.st_mode) + (S_ISREG(info.st_mode) ? Get(e.path().string()) : "");
    }
    return all;
  }
  std::string root_, prog_;
};

TEST(ManifestReading, CountsLinesWithoutEqualsAndStopsAtTheByteLimit) {
  char pattern[] = "/tmp/lectoria-qorset-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string path = std::string(pattern) + "/m";
  const std::string text = "a=1\r\nnoequals\r\n\r\nb\r\nc=3";
  std::ofstream(path, std::ios::binary) << text;
  qorSettings s;
  s.SetFile(path);
  s.SetMaxBytes(text.size());
  EXPECT_EQ(s.Load(), 1);
  EXPECT_EQ(s.ignored_lines(), 2);  // the empty line is not counted
  EXPECT_EQ(s.entries().size(), 2u);
  EXPECT_FALSE(s.over_max_bytes());
  s.SetMaxBytes(text.size() - 1);
  EXPECT_EQ(s.Load(), 1);
  EXPECT_TRUE(s.over_max_bytes());
  EXPECT_TRUE(s.entries().empty());
  EXPECT_EQ(s.ignored_lines(), 0);
  fs::remove_all(pattern);
}

TEST_F(Update, RestartAloneCopiesNothingAndStartsTheProgramOnceTheManifestIsGone) {
  Put(prog_ + "velarno", "#!/bin/sh\n", 0755);
  List("@RST@=anything\r\n");
  std::vector<std::string> started;
  bool manifest_gone = false;
  int exit_code = -1;
  platform::SetExitHook([&](int code) {
    exit_code = code;
    throw platform::ExitRequested(code);
  });
  auto restarter = [&](const std::string& path) {
    started.push_back(path);
    manifest_gone = !PathExists(prog_ + "upd/manifest.qor");
    return true;
  };
  EXPECT_THROW(ApplyPendingUpdate(prog_, restarter), platform::ExitRequested);
  EXPECT_EQ(started, std::vector<std::string>{prog_ + "velarno"});
  EXPECT_TRUE(manifest_gone);
  EXPECT_EQ(exit_code, 1);
  EXPECT_FALSE(PathExists(prog_ + "upd"));

  // Without a velarno file the running executable is started; when it
  // cannot be, start-up goes on.
  List("@RST@=1\r\n");
  started.clear();
  fs::remove(prog_ + "velarno");
  const UpdateReport report = ApplyPendingUpdate(prog_, [&](const std::string& path) {
    started.push_back(path);
    return false;
  });
  EXPECT_TRUE(report.restart);
  EXPECT_EQ(started, std::vector<std::string>{fs::read_symlink("/proc/self/exe").string()});
  EXPECT_FALSE(StartDetached(root_ + "/no-such-program"));
}

TEST_F(Update, TheDefaultRestarterPassesOnlyThePathAndKeepsTheEnvironment) {
  const std::string marker = root_ + "/marker";
  Put(prog_ + "velarno",
      "#!/bin/sh\necho \"$0 $# $UPDATE_TEST\" > " + marker + ".tmp && mv " + marker + ".tmp " +
          marker + "\n",
      0755);
  setenv("UPDATE_TEST", "kept", 1);
  ASSERT_TRUE(StartDetached(prog_ + "velarno"));
  for (int i = 0; i < 1000 && !PathExists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(Get(marker), prog_ + "velarno 0 kept\n");
}

TEST_F(Update, TheCrcTextIsUpperCaseHexWithoutLeadingZeros) {
  const std::string bytes = WithCrc("payload", 0x0000ABCD);
  ASSERT_EQ(CrcOf(bytes), "ABCD");
  Put(prog_ + "f", "old");
  for (const std::string listed : {"0000ABCD", "abcd"}) {
    Put(prog_ + "upd/f", bytes);
    List("f=" + listed + "\r\n");
    const UpdateReport report = ProcessPendingUpdate(prog_, UpdateMode::kInstall);
    EXPECT_EQ(report.outcome, Outcome::kRefused);
    EXPECT_EQ(report.reason, "\"f\": CRC is ABCD, listed as " + listed);
    EXPECT_EQ(Get(prog_ + "f"), "old");
    EXPECT_TRUE(PathExists(prog_ + "upd/manifest.qor"));
  }
  List("f=ABCD\r\n");
  Put(prog_ + "upd/unlisted", "stray");
  const UpdateReport report = ProcessPendingUpdate(prog_, UpdateMode::kInstall);
  EXPECT_EQ(report.outcome, Outcome::kDone);
  EXPECT_EQ(Get(prog_ + "f"), bytes);
  EXPECT_FALSE(PathExists(prog_ + "unlisted"));
  EXPECT_FALSE(PathExists(prog_ + "upd"));
}

TEST_F(Update, ARefusalNamesTheEntryAndChangesNothingAnywhere) {
  Put(root_ + "/x", "outside");
  Put(prog_ + "data/y", "old");
  fs::create_directories(prog_ + "folder");
  symlink("/etc/hostname", (prog_ + "upd/link").c_str());
  const std::string good = Offer("data\\y", "new");
  const std::pair<std::string, std::string> cases[] = {
      {good + Offer("..\\x", "a"), "\"..\\x\": name with an empty, \".\" or \"..\" component"},
      {good + Offer("../x", "a"), "\"../x\": name with an empty"},
      {good + Offer("data\\..\\..\\x", "a"), "\"data\\..\\..\\x\": name with an empty"},
      {good + "/abs/x=1\r\n", "\"/abs/x\": absolute name"},
      {good + "\\x=1\r\n", "\"\\x\": absolute name"},
      {good + "C:\\x=1\r\n", "\"C:\\x\": name with a drive prefix"},
      {good + "a\\\\b=1\r\n", "\"a\\\\b\": name with an empty"},
      {good + "=ABC\r\n", "\"\": empty name"},
      {good + std::string("n\0ul=1\r\n", 8), "\"n\\x00ul\": name holds a NUL byte"},
      {good + "missing=1\r\n", "\"missing\": not in upd"},
      {good + "link=1\r\n", "\"link\": upd/link is not a regular file"},
      {good + Offer("folder", "a"), "\"folder\": folder is not a regular file"},
      {good + Offer("nofolder/z", "a"), "\"nofolder/z\": the folder of nofolder/z does not exist"},
      {good + "noequals\r\n", "upd/manifest.qor: 1 line without '='"},
      {"\r\n", "upd/manifest.qor: no entry"},
      {good + std::string(kMaxManifestBytes - good.size() + 1, '\n'),
       "upd/manifest.qor: over 1048576 bytes"},
  };
  for (const auto& [manifest, reason] : cases) {
    List(manifest);
    const auto before = Snapshot();
    const UpdateReport report = ProcessPendingUpdate(prog_, UpdateMode::kInstall);
    EXPECT_EQ(report.outcome, Outcome::kRefused) << reason;
    EXPECT_EQ(report.reason.substr(0, reason.size()), reason);
    EXPECT_EQ(Snapshot(), before) << reason;
  }
  // At the size limit exactly the manifest is read.
  List(good + std::string(kMaxManifestBytes - good.size(), '\n'));
  EXPECT_EQ(ProcessPendingUpdate(prog_, UpdateMode::kCheck).outcome, Outcome::kDone);
  fs::create_directories(prog_ + "upd/manifest.qor.d");
  fs::remove(prog_ + "upd/manifest.qor");
  fs::rename(prog_ + "upd/manifest.qor.d", prog_ + "upd/manifest.qor");
  EXPECT_EQ(ProcessPendingUpdate(prog_, UpdateMode::kInstall).reason,
            "upd/manifest.qor: not a regular file");
}

TEST_F(Update, EveryPrefixOfAManifestInstallsNothingOrItsWholeEntries) {
  const std::string names[3] = {"a", "b", "c"};
  std::string manifest;
  std::vector<std::pair<size_t, size_t>> lines;  // where each "name=value" starts and ends
  for (const auto& n : names) {
    const size_t start = manifest.size();
    manifest += n + "=" + CrcOf("new " + n);
    lines.emplace_back(start, manifest.size());
    manifest += "\r\n";
  }
  for (size_t cut = 0; cut <= manifest.size(); ++cut) {
    fs::remove_all(prog_);
    for (const auto& n : names) Put(prog_ + n, "old"), Put(prog_ + "upd/" + n, "new " + n);
    List(manifest.substr(0, cut));
    size_t whole = 0;
    bool inside_line = false;
    for (const auto& [start, end] : lines) {
      whole += end <= cut;
      inside_line = inside_line || (start < cut && cut < end);
    }
    const auto before = Snapshot();
    const UpdateReport report = ProcessPendingUpdate(prog_, UpdateMode::kInstall);
    if (inside_line || whole == 0) {
      EXPECT_EQ(report.outcome, Outcome::kRefused) << cut;
      EXPECT_EQ(Snapshot(), before) << cut;
      continue;
    }
    EXPECT_EQ(report.outcome, Outcome::kDone) << cut;
    for (size_t i = 0; i < 3; ++i)
      EXPECT_EQ(Get(prog_ + names[i]), i < whole ? "new " + names[i] : "old") << cut;
  }
}

// Fails the N-th call of one kind of file operation with EIO.
struct FaultyOps {
  FaultyOps(const std::string& kind, int fail_at) : fail_at(fail_at) {
    const platform::FileOps& real = platform::SystemFileOps();
    ops = real;
    if (kind == "copy")
      ops.write_at = [this, &real](int fd, const void* d, size_t n, off_t at) {
        return Step() ? real.write_at(fd, d, n, at) : -1;
      };
    if (kind == "flush") {
      ops.fsync = [this, &real](int fd) { return Step() ? real.fsync(fd) : -1; };
      ops.fsync_folder = [this, &real](const std::string& f) {
        return Step() ? real.fsync_folder(f) : -1;
      };
    }
    if (kind == "rename")
      ops.rename = [this, &real](const std::string& a, const std::string& b) {
        return Step() ? real.rename(a, b) : -1;
      };
    if (kind == "delete") {
      ops.unlink = [this, &real](const std::string& p) { return Step() ? real.unlink(p) : -1; };
      ops.remove_folder = [this, &real](const std::string& p) {
        return Step() ? real.remove_folder(p) : -1;
      };
    }
  }
  bool Step() {
    if (++calls != fail_at) return true;
    errno = EIO;
    return false;
  }
  int fail_at, calls = 0;
  platform::FileOps ops;
};

TEST_F(Update, AFaultAtAnyStepLeavesEachFileOldOrNewAndTheUpdateToFinishLater) {
  const std::map<std::string, std::pair<std::string, std::string>> files = {
      {"a", {"old a", "new a, longer"}}, {"sub/b", {"old b", "new b"}}, {"c", {"<none>", "new c"}}};
  for (const std::string kind : {"copy", "flush", "rename", "delete"}) {
    for (int n = 1;; ++n) {
      fs::remove_all(prog_);
      std::string manifest;
      for (const auto& [name, bytes] : files) {
        if (bytes.first != "<none>") Put(prog_ + name, bytes.first, 0700);
        manifest += Offer(name, bytes.second);
      }
      List(manifest);
      FaultyOps faulty(kind, n);
      platform::SetFileOpsForTesting(&faulty.ops);
      const UpdateReport report = ProcessPendingUpdate(prog_, UpdateMode::kInstall);
      platform::SetFileOpsForTesting(nullptr);
      const std::string at = kind + " " + std::to_string(n);
      for (const auto& [name, bytes] : files) {
        const std::string now = Get(prog_ + name);
        EXPECT_TRUE(now == bytes.first || now == bytes.second) << at << " " << name;
      }
      EXPECT_EQ(PathExists(prog_ + "upd/manifest.qor"), report.outcome != Outcome::kDone) << at;
      for (const auto& e : fs::recursive_directory_iterator(prog_)) {
        const std::string rel = fs::relative(e.path(), prog_).string();
        EXPECT_TRUE(rel == "sub" || rel.starts_with("upd") || files.count(rel)) << at << rel;
      }
      if (faulty.calls < n) {
        EXPECT_EQ(report.outcome, Outcome::kDone) << at;
        EXPECT_GT(n, 3) << at;  // each kind is met at least three times
        break;
      }
      const UpdateReport again = ProcessPendingUpdate(prog_, UpdateMode::kInstall);
      EXPECT_TRUE(again.outcome == Outcome::kDone || again.outcome == Outcome::kNoUpdate) << at;
      for (const auto& [name, bytes] : files) EXPECT_EQ(Get(prog_ + name), bytes.second) << at;
      EXPECT_EQ(fs::status(prog_ + "a").permissions(), fs::perms::owner_all) << at;
    }
  }
}

TEST_F(Update, AFileThatChangesAfterItsCheckIsNotInstalled) {
  Put(prog_ + "f", "old");
  List(Offer("f", "checked bytes"));
  platform::FileOps ops = platform::SystemFileOps();
  ops.read_at = [](int fd, void* buffer, size_t n, off_t at) {
    const ssize_t got = platform::SystemFileOps().read_at(fd, buffer, n, at);
    if (got > 0) static_cast<char*>(buffer)[0] ^= 1;  // the delivery rewrote it meanwhile
    return got;
  };
  platform::SetFileOpsForTesting(&ops);
  const UpdateReport report = ProcessPendingUpdate(prog_, UpdateMode::kInstall);
  EXPECT_EQ(report.outcome, Outcome::kRefused);
  EXPECT_EQ(report.reason.rfind("\"f\": the copy's CRC is ", 0), 0u) << report.reason;
  EXPECT_EQ(Get(prog_ + "f"), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(prog_), {}), 2);  // f and upd: no copy left
  EXPECT_TRUE(PathExists(prog_ + "upd/manifest.qor"));
}

TEST_F(Update, AManifestThatWillNotGoMeansNoRestart) {
  List(Offer("f", "new") + "@RST@=1\r\n");
  platform::FileOps ops = platform::SystemFileOps();
  ops.unlink = [](const std::string& path) {
    errno = EACCES;
    return path.ends_with("manifest.qor") ? -1 : platform::SystemFileOps().unlink(path);
  };
  platform::SetFileOpsForTesting(&ops);
  int started = 0;
  const UpdateReport report =
      ApplyPendingUpdate(prog_, [&](const std::string&) { return ++started > 0; });
  EXPECT_EQ(report.outcome, Outcome::kFailed);
  EXPECT_EQ(report.reason, "upd/manifest.qor: cannot be deleted: Permission denied");
  EXPECT_EQ(started, 0);
  EXPECT_EQ(Get(prog_ + "f"), "new");
}

TEST_F(Update, ARunningProgramIsReplacedNotWritten) {
  std::string program = Get("/bin/sleep");
  Put(prog_ + "sleepy", program, 0755);
  const std::string path = prog_ + "sleepy";
  char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("60"), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
  List(Offer("sleepy", program + "trailing bytes"));
  EXPECT_EQ(ProcessPendingUpdate(prog_, UpdateMode::kInstall).outcome, Outcome::kDone);
  EXPECT_EQ(Get(path), program + "trailing bytes");
  EXPECT_EQ(fs::status(path).permissions(), static_cast<fs::perms>(0755));
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0);  // still running
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST_F(Update, FolderFilesAndTreesGoWithoutFollowingLinks) {
  Put(root_ + "/keep/file", "kept");
  Put(prog_ + "t/a/b/f", "x");
  symlink((root_ + "/keep").c_str(), (prog_ + "t/a/b/dirlink").c_str());
  symlink((root_ + "/keep/file").c_str(), (prog_ + "t/a/b/filelink").c_str());
  EXPECT_TRUE(DeleteFolderFiles(prog_ + "t/a/b"));
  EXPECT_FALSE(DeleteFolderFiles(prog_ + "t/a/b"));  // nothing left
  EXPECT_FALSE(DeleteFolderFiles(prog_ + "none"));
  EXPECT_EQ(Get(root_ + "/keep/file"), "kept");
  EXPECT_TRUE(fs::is_empty(prog_ + "t/a/b"));
  EXPECT_TRUE(RemoveFolderTree(prog_, "t\\a/b", 0));
  EXPECT_FALSE(PathExists(prog_ + "t/a/b"));
  Put(prog_ + "t/a/b/f", "x");
  EXPECT_TRUE(RemoveFolderTree(prog_, "t/a\\b", 3));
  EXPECT_FALSE(PathExists(prog_ + "t"));
}

class Tool : public Update {
 protected:
  int Run(const std::string& args) {
    const std::string command = std::string(LECTORIA_BIN_DIR) + "/velarno-update " + args + " >" +
                                root_ + "/out 2>" + root_ + "/err";
    const int status = std::system(command.c_str());
    out_ = Get(root_ + "/out"), err_ = Get(root_ + "/err");
    return WEXITSTATUS(status);
  }
  std::string out_, err_;
};

TEST_F(Tool, ManifestCheckAndApplyRoundTrip) {
  Put(prog_ + "upd/sub/deep/b", "bee");
  Put(prog_ + "upd/a", "ay");
  Put(prog_ + "sub/deep/b", "old");
  ASSERT_EQ(Run("manifest " + prog_ + "upd --restart"), 0) << err_;
  EXPECT_EQ(Get(prog_ + "upd/manifest.qor"),
            "a=" + CrcOf("ay") + "\r\nsub\\deep\\b=" + CrcOf("bee") + "\r\n@RST@=1\r\n");
  const std::string lines = "install a\ninstall sub\\deep\\b\nrestart\n";
  EXPECT_EQ(Run("check " + prog_), 0);
  EXPECT_EQ(out_, lines);
  EXPECT_EQ(Get(prog_ + "sub/deep/b"), "old");
  EXPECT_EQ(Run("apply " + prog_), 0);
  EXPECT_EQ(out_, lines);
  EXPECT_EQ(Get(prog_ + "sub/deep/b"), "bee");
  EXPECT_EQ(Run("check " + prog_), 3);
  EXPECT_EQ(out_, "no pending update\n");

  List("gone=1\r\n");
  EXPECT_EQ(Run("apply " + prog_), 1);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(err_, "velarno-update: refused: \"gone\": not in upd\n");
  Put(prog_ + "upd/a=b", "x");
  EXPECT_EQ(Run("manifest " + prog_ + "upd"), 1);
  EXPECT_EQ(err_, "velarno-update: a=b: a name may not hold '=', CR or LF\n");
  for (const std::string& bad :
       std::vector<std::string>{"", "check", "check a b", "fetch " + prog_, "apply " + prog_ + "a",
                                "manifest " + prog_ + "upd --reboot"}) {
    EXPECT_EQ(Run(bad), 2) << bad;
    EXPECT_EQ(err_.rfind("usage: velarno-update", 0), 0u) << bad;
  }
}

}  // namespace
