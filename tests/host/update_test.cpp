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

uint32_t Crc(const std::string& b) {
  return Crc32Update(0, b.data(), static_cast<uint32_t>(b.size()));
}
std::string CrcOf(const std::string& bytes) {
  char text[16];
  std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(Crc(bytes)));
  return text;
}
std::string Le32(uint32_t x) {
  return {static_cast<char>(x), static_cast<char>(x >> 8), static_cast<char>(x >> 16),
          static_cast<char>(x >> 24)};
}

// data and four bytes that give it the wanted CRC-32: for a fixed length the
// CRC is affine in the appended bits, so solve over GF(2).
std::string WithCrc(const std::string& data, uint32_t wanted) {
  const uint32_t base = Crc(data + Le32(0));
  uint32_t rows[32] = {}, combos[32] = {};
  for (int j = 0; j < 32; ++j) {
    uint32_t v = Crc(data + Le32(1u << j)) ^ base, c = 1u << j;
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
  return data + Le32(x);
}

class Update : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-update-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    prog_ = root_ + "/prog/";
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
  // Puts new bytes for NAME in upd; gives its manifest line.
  std::string Offer(const std::string& name, const std::string& bytes) {
    std::string path = name;
    std::replace(path.begin(), path.end(), '\\', '/');
    Put(prog_ + "upd/" + path, bytes);
    return name + "=" + CrcOf(bytes) + "\r\n";
  }
  void List(const std::string& manifest) { Put(prog_ + "upd/manifest.qor", manifest); }
  UpdateReport Install() { return ProcessPendingUpdate(prog_, UpdateMode::kInstall); }
  // Every entry under the test's folder with its mode and bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      struct stat info {};
      lstat(e.path().c_str(), &info);
      all[e.path()] = std::to_string(info.st_mode) + (S_ISREG(info.st_mode) ? Get(e.path()) : "");
    }
    return all;
  }
  std::string root_, prog_;
};

TEST_F(Update, TheManifestReaderCountsLinesWithoutEqualsAndStopsAtItsByteLimit) {
  const std::string text = "a=1\r\nnoequals\r\n\r\nb\r\nc=3";
  Put(root_ + "/m", text);
  qorSettings s;
  s.SetFile(root_ + "/m");
  s.SetMaxBytes(text.size());
  EXPECT_EQ(s.Load(), 1);
  EXPECT_EQ(s.ignored_lines(), 2);  // the empty line is not counted
  EXPECT_EQ(s.entries().size(), 2u);
  EXPECT_FALSE(s.over_max_bytes());
  s.SetMaxBytes(text.size() - 1);
  EXPECT_EQ(s.Load(), 1);
  EXPECT_TRUE(s.over_max_bytes());
  EXPECT_TRUE(s.entries().empty());
}

TEST_F(Update, RestartAloneCopiesNothingAndStartsTheProgramOnceTheManifestIsGone) {
  Put(prog_ + "velarno", "#!/bin/sh\n", 0755);
  List("@RST@=anything\r\n");
  std::vector<std::string> started;
  auto restarter = [&](const std::string& path) {
    started.push_back(path + (PathExists(prog_ + "upd/manifest.qor") ? " too early" : ""));
    return path.ends_with("velarno");
  };
  platform::SetExitHook([](int code) { throw platform::ExitRequested(code); });
  try {
    ApplyPendingUpdate(prog_, restarter);
    ADD_FAILURE() << "no exit";
  } catch (const platform::ExitRequested& exit) {
    EXPECT_EQ(exit.code, 1);
  }
  EXPECT_FALSE(PathExists(prog_ + "upd"));
  // Without a velarno file the running executable is started; when that
  // fails, start-up goes on.
  fs::remove(prog_ + "velarno");
  List("@RST@=1\r\n");
  EXPECT_TRUE(ApplyPendingUpdate(prog_, restarter).restart);
  EXPECT_EQ(started,
            (std::vector<std::string>{prog_ + "velarno", fs::read_symlink("/proc/self/exe")}));
  EXPECT_FALSE(StartDetached(root_ + "/no-such-program"));
}

TEST_F(Update, TheDefaultRestarterPassesOnlyThePathAndKeepsTheEnvironment) {
  const std::string marker = root_ + "/marker";
  Put(prog_ + "velarno",
      "#!/bin/sh\necho \"$0 $# $UPDATE_TEST\" >" + marker + ".t; mv " + marker + ".t " + marker +
          "\n",
      0755);
  setenv("UPDATE_TEST", "kept", 1);
  ASSERT_TRUE(StartDetached(prog_ + "velarno"));
  for (int i = 0; i < 1000 && !PathExists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(Get(marker), prog_ + "velarno 0 kept\n");
}

TEST_F(Update, TheCrcTextIsUpperCaseHexWithoutLeadingZerosAndUnlistedFilesGo) {
  const std::string bytes = WithCrc("payload", 0x0000ABCD);
  ASSERT_EQ(CrcOf(bytes), "ABCD");
  Put(prog_ + "f", "old");
  Put(prog_ + "upd/f", bytes);
  for (const std::string listed : {"0000ABCD", "abcd"}) {
    List("f=" + listed + "\r\n");
    EXPECT_EQ(Install().reason, "\"f\": CRC is ABCD, listed as " + listed);
    EXPECT_EQ(Get(prog_ + "f"), "old");
  }
  List("f=ABCD\r\n");
  Put(prog_ + "upd/unlisted", "stray");
  EXPECT_EQ(Install().outcome, Outcome::kDone);
  EXPECT_EQ(Get(prog_ + "f"), bytes);
  EXPECT_FALSE(PathExists(prog_ + "unlisted"));
  EXPECT_FALSE(PathExists(prog_ + "upd"));
}

TEST_F(Update, ARefusalNamesTheEntryAndChangesNothingAnywhere) {
  Put(root_ + "/x", "outside");
  Put(prog_ + "data/y", "old");
  fs::create_directories(prog_ + "folder");
  const std::string good = Offer("data\\y", "new");
  symlink("/etc/hostname", (prog_ + "upd/link").c_str());
  const std::string empty_part = "name with an empty, \".\" or \"..\" component";
  const std::pair<std::string, std::string> cases[] = {
      {good + Offer("..\\x", "a"), "\"..\\x\": " + empty_part},
      {good + Offer("../x", "a"), "\"../x\": " + empty_part},
      {good + Offer("data\\..\\..\\x", "a"), "\"data\\..\\..\\x\": " + empty_part},
      {good + "a\\\\b=1\r\n", "\"a\\\\b\": " + empty_part},
      {good + "/abs/x=1\r\n", "\"/abs/x\": absolute name"},
      {good + "\\x=1\r\n", "\"\\x\": absolute name"},
      {good + "C:\\x=1\r\n", "\"C:\\x\": name with a drive prefix"},
      {good + "=ABC\r\n", "\"\": empty name"},
      {good + std::string("n\0l=1\r\n", 7), "\"n\\x00l\": name holds a NUL byte"},
      {good + "missing=1\r\n", "\"missing\": not in upd"},
      {good + "link=1\r\n", "\"link\": upd/link is not a regular file"},
      {good + Offer("folder", "a"), "\"folder\": folder is not a regular file"},
      {good + Offer("no/z", "a"), "\"no/z\": the folder of no/z does not exist"},
      {good + "noequals\r\n", "upd/manifest.qor: 1 line without '='"},
      {"\r\n", "upd/manifest.qor: no entry"},
      {good + std::string(kMaxManifestBytes - good.size() + 1, '\n'),
       "upd/manifest.qor: over 1048576 bytes"},
  };
  for (const auto& [manifest, reason] : cases) {
    List(manifest);
    const auto before = Snapshot();
    EXPECT_EQ(Install().reason, reason);
    EXPECT_EQ(Snapshot(), before) << reason;
  }
  List(good + std::string(kMaxManifestBytes - good.size(), '\n'));  // at the limit
  EXPECT_EQ(ProcessPendingUpdate(prog_, UpdateMode::kCheck).outcome, Outcome::kDone);
  fs::remove(prog_ + "upd/manifest.qor");
  fs::create_directories(prog_ + "upd/manifest.qor");
  EXPECT_EQ(Install().reason, "upd/manifest.qor: not a regular file");
}

TEST_F(Update, EveryPrefixOfAManifestInstallsNothingOrItsWholeEntries) {
  std::string manifest;
  std::vector<std::pair<size_t, size_t>> lines;  // where each name=value starts and ends
  for (const char* n : {"a", "b", "c"}) {
    lines.emplace_back(manifest.size(), manifest.size() + 2 + CrcOf(n).size());
    manifest += n + ("=" + CrcOf(n)) + "\r\n";
  }
  for (size_t cut = 0; cut <= manifest.size(); ++cut) {
    fs::remove_all(prog_);
    for (const char* n : {"a", "b", "c"}) Put(prog_ + n, "old"), Put(prog_ + "upd/" + n, n);
    List(manifest.substr(0, cut));
    size_t whole = 0;
    bool inside_line = false;
    for (const auto& [start, end] : lines) {
      whole += end <= cut;
      inside_line = inside_line || (start < cut && cut < end);
    }
    const auto before = Snapshot();
    const UpdateReport report = Install();
    if (inside_line || whole == 0) {
      EXPECT_EQ(report.outcome, Outcome::kRefused) << cut;
      EXPECT_EQ(Snapshot(), before) << cut;
      continue;
    }
    EXPECT_EQ(report.outcome, Outcome::kDone) << cut;
    EXPECT_EQ(Get(prog_ + "a") + Get(prog_ + "b") + Get(prog_ + "c"),
              std::string("abc").substr(0, whole) + (whole == 1   ? "oldold"
                                                     : whole == 2 ? "old"
                                                                  : ""))
        << cut;
  }
}

// Fails the N-th call of one kind of file operation with EIO.
struct FaultyOps {
  FaultyOps(const std::string& kind, int fail_at) : fail_at(fail_at) {
    const platform::FileOps& real = platform::SystemFileOps();
    ops = real;
    auto fail = [this](auto op) {
      return [this, op](auto... args) { return Step() ? op(args...) : decltype(op(args...))(-1); };
    };
    if (kind == "copy") ops.write_at = fail(real.write_at);
    if (kind == "flush") ops.fsync = fail(real.fsync), ops.fsync_folder = fail(real.fsync_folder);
    if (kind == "rename") ops.rename = fail(real.rename);
    if (kind == "delete")
      ops.unlink = fail(real.unlink), ops.remove_folder = fail(real.remove_folder);
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
      std::string manifest = "@RST@=1\r\n";
      for (const auto& [name, bytes] : files) {
        if (bytes.first != "<none>") Put(prog_ + name, bytes.first, 0700);
        manifest += Offer(name, bytes.second);
      }
      List(manifest);
      FaultyOps faulty(kind, n);
      platform::SetFileOpsForTesting(&faulty.ops);
      int restarts = 0;
      const UpdateReport report = ApplyPendingUpdate(prog_, [&](const std::string&) {
        restarts += PathExists(prog_ + "upd/manifest.qor") ? 100 : 1;
        return false;
      });
      platform::SetFileOpsForTesting(nullptr);
      const std::string at = kind + " " + std::to_string(n);
      for (const auto& [name, bytes] : files) {
        const std::string now = Get(prog_ + name);
        EXPECT_TRUE(now == bytes.first || now == bytes.second) << at << " " << name;
      }
      const bool done = report.outcome == Outcome::kDone;
      EXPECT_EQ(PathExists(prog_ + "upd/manifest.qor"), !done) << at;
      EXPECT_EQ(restarts, done ? 1 : 0) << at;  // only once the manifest is gone
      for (const auto& e : fs::recursive_directory_iterator(prog_)) {  // no copy left behind
        const std::string rel = fs::relative(e.path(), prog_);
        EXPECT_TRUE(rel == "sub" || rel.starts_with("upd") || files.count(rel)) << at << rel;
      }
      if (faulty.calls < n) {
        EXPECT_TRUE(done) << at;
        EXPECT_GT(n, 3) << at;  // each kind was met at least three times
        break;
      }
      EXPECT_NE(Install().outcome, Outcome::kRefused) << at;
      for (const auto& [name, bytes] : files) EXPECT_EQ(Get(prog_ + name), bytes.second) << at;
      EXPECT_EQ(fs::status(prog_ + "a").permissions(), fs::perms::owner_all) << at;
      EXPECT_EQ(fs::status(prog_ + "c").permissions(), static_cast<fs::perms>(0644)) << at;
    }
  }
}

TEST_F(Update, AFileThatChangesAfterItsCheckIsNotInstalled) {
  Put(prog_ + "f", "old");
  List(Offer("f", "checked bytes"));
  platform::FileOps ops = platform::SystemFileOps();
  ops.read_at = [](int fd, void* buffer, size_t n, off_t at) {
    const ssize_t got = platform::SystemFileOps().read_at(fd, buffer, n, at);
    if (got > 0) static_cast<char*>(buffer)[0] ^= 1;  // rewritten by the delivery meanwhile
    return got;
  };
  platform::SetFileOpsForTesting(&ops);
  EXPECT_EQ(Install().reason.rfind("\"f\": the copy's CRC is ", 0), 0u);
  EXPECT_EQ(Get(prog_ + "f"), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(prog_), {}), 2);  // f and upd: no copy left
}

TEST_F(Update, ARunningProgramIsReplacedNotWritten) {
  const std::string program = Get("/bin/sleep");
  std::string path = prog_ + "sleepy";
  Put(path, program, 0755);
  char* argv[] = {path.data(), const_cast<char*>("60"), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
  List(Offer("sleepy", program + "trailing bytes"));
  EXPECT_EQ(Install().outcome, Outcome::kDone);
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
  EXPECT_TRUE(RemoveFolderTree(prog_, "t\\a/b", 0));
  EXPECT_FALSE(PathExists(prog_ + "t/a/b"));
  Put(prog_ + "t/a/b/f", "x");
  EXPECT_TRUE(RemoveFolderTree(prog_, "t/a\\b", 3));
  EXPECT_FALSE(PathExists(prog_ + "t"));
}

TEST_F(Update, TheToolWritesChecksAndAppliesManifests) {
  auto run = [&](const std::string& args, std::string& out, std::string& err) {
    const std::string command =
        LECTORIA_BIN_DIR "/velarno-update " + args + " >" + root_ + "/out 2>" + root_ + "/err";
    const int status = std::system(command.c_str());
    out = Get(root_ + "/out"), err = Get(root_ + "/err");
    return WEXITSTATUS(status);
  };
  std::string out, err;
  Put(prog_ + "upd/sub/deep/b", "bee");
  Put(prog_ + "upd/a", "ay");
  Put(prog_ + "sub/deep/b", "old");
  ASSERT_EQ(run("manifest " + prog_ + "upd --restart", out, err), 0) << err;
  EXPECT_EQ(Get(prog_ + "upd/manifest.qor"),
            "a=" + CrcOf("ay") + "\r\nsub\\deep\\b=" + CrcOf("bee") + "\r\n@RST@=1\r\n");
  const std::string lines = "install a\ninstall sub\\deep\\b\nrestart\n";
  EXPECT_EQ(run("check " + prog_, out, err), 0);
  EXPECT_EQ(out + Get(prog_ + "sub/deep/b"), lines + "old");
  EXPECT_EQ(run("apply " + prog_, out, err), 0);
  EXPECT_EQ(out + Get(prog_ + "sub/deep/b"), lines + "bee");
  EXPECT_EQ(run("check " + prog_, out, err), 3);
  EXPECT_EQ(out, "no pending update\n");
  List("gone=1\r\n");
  EXPECT_EQ(run("apply " + prog_, out, err), 1);
  EXPECT_EQ(out + err, "velarno-update: refused: \"gone\": not in upd\n");
  Put(prog_ + "upd/a=b", "x");
  EXPECT_EQ(run("manifest " + prog_ + "upd", out, err), 1);
  EXPECT_EQ(err, "velarno-update: a=b: a name may not hold '=', CR or LF\n");
  for (const std::string& bad :
       std::vector<std::string>{"", "check", "check a b", "fetch " + prog_, "apply " + prog_ + "a",
                                "manifest " + prog_ + "upd --reboot"}) {
    EXPECT_EQ(run(bad, out, err), 2) << bad;
    EXPECT_EQ(err.rfind("usage: velarno-update", 0), 0u) << bad;
  }
}

}  // namespace
