// lectoria-audit: its command lines, outputs and exit codes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "player/AuditoriaUnit.h"

namespace fs = std::filesystem;

namespace {

struct Salida {
  int codigo = -1;
  std::string out;
  std::string err;
};

class AuditTool : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-audit-tool-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    golden_ = std::string(LECTORIA_SOURCE_DIR) + "/tests/player/data/AUDIT_GOLDEN.ALU";
  }
  void TearDown() override { fs::remove_all(dir_); }

  Salida Run(const std::string& args) {
    const std::string command = std::string(LECTORIA_BIN_DIR) + "/lectoria-audit " + args + " > " +
                                dir_ + "out 2> " + dir_ + "err";
    const int status = std::system(command.c_str());
    Salida s;
    s.codigo = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    s.out = Read(dir_ + "out");
    s.err = Read(dir_ + "err");
    return s;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + name, std::ios::binary) << bytes;
  }

  std::string dir_;
  std::string golden_;
};

const char kCeros[] = "0:0,0:0,0:0,0:0,0:0,0:0,0:0,0:0";

TEST_F(AuditTool, BadCommandLinesGiveTheUsageAndExit2) {
  Write("a", "");
  const std::string f = dir_ + "a ";
  for (const std::string& args : {std::string(""),
                                  std::string("dump"),
                                  "show " + f,
                                  "dump " + f + "--counts " + kCeros,
                                  "check " + f,
                                  "check " + f + "--counts",
                                  "check " + f + "--counts 0:0,0:0,0:0,0:0,0:0,0:0,0:0",
                                  "check " + f + "--counts 0:0,0:0,0:0,0:0,0:0,0:0,0:0,0:0,0:0",
                                  "check " + f + "--counts 0:0,0:0,0:0,0:0,0:0,0:0,0:0,65536:0",
                                  "check " + f + "--counts 0:0,0:0,0:0,0:0,0:0,0:0,0:0,0:-1",
                                  "check " + f + "--counts 0:0,0:0,0:0,0:0,0:0,0:0,0:0,a:1",
                                  "check " + f + "--counts 0:0,0:0,0:0,0:0,0:0,0:0,0:0,1:",
                                  "check " + f + "--counts 0:0,0:0,0:0,0:0,0:0,0:0,0:0,0:0,",
                                  "check " + f + "--counts " + kCeros + " --counts " + kCeros,
                                  "check " + f + "--unit 7 --counts " + kCeros,
                                  "new " + dir_ + " --counts " + kCeros,
                                  "new " + dir_ + " --unit 0 --counts " + kCeros,
                                  "new " + dir_ + " --unit 256 --counts " + kCeros,
                                  "new " + dir_ + " --unit 7x --counts " + kCeros,
                                  "new " + dir_ + " --unit 7"}) {
    const Salida s = Run(args);
    EXPECT_EQ(s.codigo, 2) << args;
    EXPECT_EQ(s.err.rfind("usage: lectoria-audit dump FILE\n", 0), 0u) << args;
    EXPECT_EQ(s.out, "") << args;
  }
}

TEST_F(AuditTool, CountsAndUnitsAtTheirLimitsAreAccepted) {
  EXPECT_EQ(Run("new " + dir_ + " --unit 255 --counts 65535:0," + std::string(kCeros + 4)).codigo,
            0);
  EXPECT_TRUE(fs::exists(dir_ + "C255/AUDIT.ALU"));
  EXPECT_EQ(fs::file_size(dir_ + "C255/AUDIT.ALU"), 1331u + 65536u * 4);
  EXPECT_EQ(Run("check " + dir_ + "C255/AUDIT.ALU --counts 65535:0," + std::string(kCeros + 4)).out,
            "match\n");
  EXPECT_EQ(Run("new " + dir_ + " --unit 1 --counts " + kCeros).codigo, 0);
  EXPECT_TRUE(fs::exists(dir_ + "C001/AUDIT.BKP"));
}

TEST_F(AuditTool, DumpPrintsEveryFieldOfTheGoldenFile) {
  const Salida s = Run("dump " + golden_);
  ASSERT_EQ(s.codigo, 0) << s.err;
  EXPECT_EQ(s.err, "");
  const std::string area2 = "\"\\xE9ok" + std::string(197, '*') + "\"";
  std::string expected =
      "study_ms 123456\n"
      "frames 510\n"
      "progress 0 33 66 100 75 50 10 7\n"
      "errors 0 0 3 0 300 2 0 0\n"
      "answers 0 0 5 0 9 4 0 12\n"
      "part 0 SIT N 0 M 0\n"
      "part 1 STU N 1 M 0\n"
      "sound 0 0 1 2 3\n"
      "sound 1 0 4 5 6\n"
      "part 2 DIC N 0 M 0\n"
      "part 3 ROL N 0 M 0\n"
      "part 4 GRA N 0 M 0\n"
      "part 5 WRI N 0 M 1\n"
      "exercise 0 type -1 selector 2 result1 2 result2 1 listens 3 recordings 4 comparisons 5 "
      "area1 \"a\\\"b\\\\\\x01\" area2 " +
      area2 +
      "\n"
      "exercise 1 type 1 selector 2 result1 2 result2 1 listens 3 recordings 4 comparisons 5 "
      "area1 \"a\\\"b\\\\\\x01\" area2 " +
      area2 +
      "\n"
      "part 6 NEW N 0 M 0\n"
      "part 7 SPE N 0 M 0\n"
      "roleplay\n"
      "line 0 \"A1\" 1\n"
      "line 1 \"LONGNAME1234567\" 0\n";
  for (int k = 2; k < 60; ++k) expected += "line " + std::to_string(k) + " \"\" 0\n";
  EXPECT_EQ(s.out, expected);
}

TEST_F(AuditTool, CheckNamesTheFirstDifferenceInPartOrderNBeforeM) {
  Salida s = Run("check " + golden_ + " --counts 0:0,1:0,0:0,0:0,0:0,0:1,0:0,0:0");
  EXPECT_EQ(s.codigo, 0);
  EXPECT_EQ(s.out, "match\n");
  s = Run("check " + golden_ + " --counts 0:0,2:3,0:0,0:0,0:0,0:1,0:0,0:0");
  EXPECT_EQ(s.codigo, 1);
  EXPECT_EQ(s.out, "mismatch part 1 N 1 expected 2\n");
  s = Run("check " + golden_ + " --counts 0:0,1:0,0:0,0:0,0:0,0:2,0:0,0:9");
  EXPECT_EQ(s.out, "mismatch part 5 M 1 expected 2\n");
  EXPECT_EQ(s.err, "");
}

TEST_F(AuditTool, MissingUnreadableAndDamagedFilesAreReportedWithNothingOnStdout) {
  const std::string golden = Read(golden_);
  Write("empty", "");
  Write("cut", golden.substr(0, 70));
  std::string tag = golden;
  tag[1190] = 'x';
  Write("tag", tag);
  Write("trailing", golden + "more bytes");
  fs::create_directory(dir_ + "folder");
  Write("big", golden);
  fs::resize_file(dir_ + "big", AuditoriaUnit::kMaxBytes + 1);
  const struct {
    std::string name;
    std::string reason;
  } casos[] = {{"none", "missing"},
               {"empty", "empty"},
               {"cut", "part 0 tag cut short at offset 63"},
               {"tag", "role-play tag differs at offset 1187"},
               {"folder", "cannot be read (Is a directory)"},
               {"big", "larger than 64 MiB at offset 67108864"}};
  for (const auto& c : casos) {
    for (const std::string& command : {std::string("dump "), std::string("check ")}) {
      const Salida s = Run(command + dir_ + c.name +
                           (command == "check " ? std::string(" --counts ") + kCeros : ""));
      EXPECT_EQ(s.codigo, 1) << c.name;
      EXPECT_EQ(s.out, "") << c.name;
      EXPECT_EQ(s.err, "lectoria-audit: " + dir_ + c.name + ": " + c.reason + "\n") << c.name;
    }
  }
  // Bytes after the role-play block are ignored.
  EXPECT_EQ(Run("dump " + dir_ + "trailing").out, Run("dump " + golden_).out);
  // The largest file that is read: the golden padded to 64 MiB.
  fs::resize_file(dir_ + "big", AuditoriaUnit::kMaxBytes);
  EXPECT_EQ(Run("dump " + dir_ + "big").out, Run("dump " + golden_).out);
}

TEST_F(AuditTool, NewWritesTheFreshAuditOfTheDocumentsBackupAndMainAlike) {
  ASSERT_EQ(Run("new " + dir_ + " --unit 7 --counts 1:2,0:0,0:0,0:0,0:0,0:0,0:0,0:1").codigo, 0);
  EXPECT_EQ(Read(dir_ + "C007/AUDIT.ALU"), Read(dir_ + "C007/AUDIT.BKP"));
  std::vector<std::string> entradas;
  for (const auto& e : fs::directory_iterator(dir_ + "C007"))
    entradas.push_back(e.path().filename());
  std::sort(entradas.begin(), entradas.end());
  EXPECT_EQ(entradas, (std::vector<std::string>{"AUDIT.ALU", "AUDIT.BKP"}));  // no temporary
  const Salida s = Run("dump " + dir_ + "C007/AUDIT.ALU");
  ASSERT_EQ(s.codigo, 0);
  const std::string stars = "\"" + std::string(200, '*') + "\"";
  const std::string fresh =
      " type 0 selector 1 result1 0 result2 0 listens 0 recordings 0 comparisons 0 area1 " + stars +
      " area2 " + stars + "\n";
  std::string expected =
      "study_ms 0\nframes 10\nprogress 0 0 0 0 0 0 0 0\nerrors 0 0 0 0 0 0 0 0\n"
      "answers 0 0 0 0 0 0 0 0\npart 0 SIT N 1 M 2\nsound 0 0 0 0 0\nsound 1 0 0 0 0\n"
      "exercise 0" +
      fresh + "exercise 1" + fresh + "exercise 2" + fresh +
      "part 1 STU N 0 M 0\npart 2 DIC N 0 M 0\npart 3 ROL N 0 M 0\npart 4 GRA N 0 M 0\n"
      "part 5 WRI N 0 M 0\npart 6 NEW N 0 M 0\npart 7 SPE N 0 M 1\nexercise 0" +
      fresh + "exercise 1" + fresh + "roleplay\n";
  for (int k = 0; k < 60; ++k) expected += "line " + std::to_string(k) + " \"\" 0\n";
  EXPECT_EQ(s.out, expected);
  // Byte 409 of an exercise record stays '*'.
  const std::string bytes = Read(dir_ + "C007/AUDIT.ALU");
  EXPECT_EQ(bytes[63 + 9 + 12 + 2 + 8 + 12 + 2 + 409], '*');

  // An existing unit folder is written over; a missing FOLDER is refused.
  EXPECT_EQ(Run("new " + dir_ + " --unit 7 --counts " + std::string(kCeros)).codigo, 0);
  EXPECT_EQ(fs::file_size(dir_ + "C007/AUDIT.ALU"), 1331u);
  const Salida missing = Run("new " + dir_ + "nowhere --unit 7 --counts " + std::string(kCeros));
  EXPECT_EQ(missing.codigo, 1);
  EXPECT_EQ(missing.err, "lectoria-audit: " + dir_ + "nowhere: not a folder\n");
  EXPECT_EQ(missing.out, "");
}

}  // namespace
