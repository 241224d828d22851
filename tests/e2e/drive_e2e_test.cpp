// lectoria-drive run whole on a course folder the test makes (the unit's
// volumes built with ehdd-volume, its pictures drawn here): the default
// walk, a script, a unit that is missing, a server that is gone, the
// watchdog, its command lines, and two runs at once: on one course (the
// second is refused), after a killed one, and on two courses.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "tests/support/TestServer.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = LECTORIA_BIN_DIR;
constexpr int kPaginas[8] = {3, 5, 2, 4, 1, 6, 2, 3};
constexpr const char* kSufijos[8] = {"SI", "ST", "DI", "RO", "GR", "WR", "VO", "PR"};
constexpr const char* kSkin[] = {
    "GGRA04",   "BTNDIF1N", "BTNDIF1M", "BTNDIF1P", "BTNDIF2N", "BTNDIF2M", "BTNDIF2P", "BTNSOLN",
    "BTNSOLM",  "BTNSOLP",  "BTNPLAYN", "BTNPLAYM", "BTNPLAYP", "BTNPLAYD", "BTNSTOPN", "BTNSTOPM",
    "BTNSTOPP", "BTNSTOPD", "PUNTAN",   "FONTHUMB", "FONCONAN", "BTNSUBTN", "BTNSUBTM", "BTNSUBTP",
    "BTNSUBTD", "BOXDIFN",  "BOXDIMN",  "BTNPLDIN", "BTNPLDIM", "BTNPLDIP", "BTNPLDID", "ALT04",
    "MIC01",    "MIC04",    "BTNRECN",  "BTNRECM",  "BTNRECP",  "BTNRECD",  "SIGBIEN",  "SIGMAL"};

struct DriveRun {
  int code = -1;
  std::string out, err;
};

class DriveTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-drive-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    course_ = root_ / "course";
    fs::create_directories(root_ / "registry");
    fs::create_directories(root_ / "tmp");
    const fs::path src = root_ / "src";
    fs::create_directories(src / "unit");
    for (int i = 0; i < 8; ++i) {
      std::string text;
      for (int p = 0; p < kPaginas[i]; ++p) {
        if (p > 0) text += "<SALTOPAG:>";
        text += "Page " + std::to_string(p + 1) + " of part " + std::to_string(i) + "\n";
      }
      std::ofstream(src / "unit" / ("CLA007" + std::string(kSufijos[i]) + ".TAE")) << text;
    }
    std::ofstream(src / "unit" / "CLA007.RLP", std::ios::binary)
        << "2\r\n3\r\n40\r\nA1\r\nA2\r\nA3\r\n0,2,\r\n1,\r\n";
    const fs::path clases = src / "mcd/DATOS/SKIN/CLASES";
    const fs::path comun = src / "common/HDD/DATOS/SKIN/COMUN";
    fs::create_directories(clases);
    fs::create_directories(comun);
    QImage cover(687, 534, QImage::Format_RGB32);
    cover.fill(QColor(0x33, 0x66, 0xCC));
    ASSERT_TRUE(cover.save(QString::fromStdString((clases / "PORT007A.PNG").string())));
    QImage button(24, 24, QImage::Format_RGB32);
    button.fill(QColor(0, 0xAA, 0));
    for (const char* n : kSkin)
      ASSERT_TRUE(
          button.save(QString::fromStdString((comun / (std::string(n) + ".PNG")).string())));
    fs::create_directories(course_ / "data");
    fs::create_directories(course_ / "userdata/work");
    for (auto [from, to] : {std::pair{"unit", "unit007"}, {"mcd", "mcd01"}, {"common", "common"}}) {
      const std::string command = kBin + "/ehdd-volume build " + (src / from).string() + " " +
                                  (course_ / "data" / to).string() + " > /dev/null";
      ASSERT_EQ(std::system(command.c_str()), 0);
    }
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  DriveRun Drive(const std::string& args) {
    const std::string out = (root_ / "stdout").string(), err = (root_ / "stderr").string();
    const std::string command = "env LECTORIA_REGISTRY_DIR=" + (root_ / "registry").string() +
                                " TMPDIR=" + (root_ / "tmp").string() + " " + kBin +
                                "/lectoria-drive " + args + " > " + out + " 2> " + err;
    DriveRun r;
    const int status = std::system(command.c_str());
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Read(out);
    r.err = Read(err);
    return r;
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  std::string Course() const { return "--course " + course_.string(); }

  // A run in the background (its own process, so it can be killed); its
  // output goes to root_/<name>.out and .err.
  pid_t Start(const std::string& args, const std::string& name) {
    const std::string command = "exec env LECTORIA_REGISTRY_DIR=" + (root_ / "registry").string() +
                                " TMPDIR=" + (root_ / "tmp").string() + " " + kBin +
                                "/lectoria-drive " + args + " > " + (root_ / (name + ".out")).string() +
                                " 2> " + (root_ / (name + ".err")).string();
    const pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }
  // Waits (at most 60 s) until the run's output holds the text.
  bool WaitForOutput(const std::string& name, const std::string& text) {
    for (int i = 0; i < 6000; ++i) {
      if (Read(root_ / (name + ".out")).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // The run's exit code (at most 120 s; -1 when it did not exit).
  static int Finish(pid_t pid) {
    for (int i = 0; i < 12000; ++i) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  // Every regular file of a folder and its bytes.
  static std::map<std::string, std::string> Files(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (e.is_regular_file()) files[e.path().string()] = Read(e.path());
    return files;
  }
  // The smallest audit of the fixture's unit (no sounds, no exercises) with
  // the study time given, as the learner's stored work.
  static std::string Audit(uint32_t study_ms) {
    std::string a = "ALUMNOVe1.0    ";
    std::string head(48, '\0');
    for (int i = 0; i < 4; ++i) head[i] = static_cast<char>(study_ms >> (8 * i));
    a += head;
    for (const char* part : {"SIT", "STU", "DIC", "ROL", "GRA", "WRI", "NEW", "SPE"})
      a += std::string("<TAG:") + part + ">" + "<TAG:BUFSON>" + std::string(2, '\0') +
           "<TAG:BUFEJE>" + std::string(2, '\0');
    return a + "<TAG:EX_ROL>" + std::string(960, '\0');
  }
  static uint32_t StudyTime(const std::string& audit) {
    if (audit.size() < 19) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{static_cast<unsigned char>(audit[15 + i])} << (8 * i);
    return v;
  }

  fs::path root_, course_;
};

TEST_F(DriveTest, TheWalkShowsEveryPageAndSavesItsImage) {
  const fs::path out = root_ / "out";
  const DriveRun r = Drive(Course() + " --unit 7 --out " + out.string());
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 26u) << r.out;
  int page = 0;
  for (int part = 0; part < 8; ++part) {
    for (int p = 0; p < kPaginas[part]; ++p) {
      ++page;
      EXPECT_EQ(lines[page - 1],
                "part " + std::to_string(part) + " page " + std::to_string(page) + " of 26");
      char name[32];
      std::snprintf(name, sizeof(name), "p%dp%02d.png", part, page);
      QImage shot(QString::fromStdString((out / name).string()));
      ASSERT_FALSE(shot.isNull()) << name;
      EXPECT_EQ(shot.width(), 687);
      EXPECT_EQ(shot.height(), 534);
    }
  }
  // The audit went to the student's folder on the unload.
  EXPECT_TRUE(fs::exists(course_ / "userdata/work/C007/AUDIT.ALU"));
  EXPECT_TRUE(fs::exists(course_ / "userdata/work/C007/AUDIT.BKP"));
}

TEST_F(DriveTest, AScriptTurnsPagesTypesClicksAndReadsTheAudit) {
  const fs::path script = root_ / "script.txt";
  std::ofstream(script) << "# a walk by hand\n\nnext\nnext\nprev\npart 2\nkey 0x22\nkey 0x21\n"
                           "char a\nchar  \nclick 40 20\nwait 120\nshot mine\naudit\nunload\n";
  const DriveRun r = Drive(Course() + " --unit 7 --out " + (root_ / "out").string() + " --script " +
                           script.string());
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 16u) << r.out;
  EXPECT_EQ(lines[0], "part 0 page 1 of 26");
  EXPECT_EQ(lines[1], "part 0 page 2 of 26");
  EXPECT_EQ(lines[2], "part 0 page 3 of 26");
  EXPECT_EQ(lines[3], "part 0 page 2 of 26");
  EXPECT_EQ(lines[4], "part 2 page 9 of 26");
  EXPECT_EQ(lines[5], "part 2 page 10 of 26");
  EXPECT_EQ(lines[6], "part 2 page 9 of 26");
  for (int p = 0; p < 8; ++p)
    EXPECT_EQ(lines[7 + p].rfind("audit part " + std::to_string(p) + " percent ", 0), 0u)
        << lines[7 + p];
  EXPECT_EQ(lines[15].rfind("audit total percent ", 0), 0u) << lines[15];
  EXPECT_NE(lines[15].find(" time 00:0"), std::string::npos) << lines[15];
  EXPECT_TRUE(fs::exists(root_ / "out/mine.png"));
}

TEST_F(DriveTest, AScriptIsCheckedWholeBeforeAnythingRuns) {
  const fs::path script = root_ / "bad.txt";
  std::ofstream(script) << "next\n# fine\nfly 3\n";
  const DriveRun r = Drive(Course() + " --unit 7 --out " + (root_ / "out").string() + " --script " +
                           script.string());
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("lectoria-drive: script line 3: "), std::string::npos) << r.err;
  std::ofstream(script) << "part 8\n";
  EXPECT_NE(Drive(Course() + " --unit 7 --script " + script.string()).err.find("script line 1"),
            std::string::npos);
}

TEST_F(DriveTest, AMissingUnitIsNamed) {
  const DriveRun r = Drive(Course() + " --unit 8 --out " + (root_ / "out").string());
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("lectoria-drive: unit 8 missing\n"), std::string::npos) << r.err;
}

TEST_F(DriveTest, AServerThatIsGoneFailsTheStart) {
  uint16_t port = 0;
  {
    TestServer server(course_, root_ / "server.log");
    port = server.port();
    ASSERT_NE(port, 0);
    server.Kill();
  }
  const DriveRun r = Drive(Course() + " --unit 7 --server 127.0.0.1:" + std::to_string(port) +
                           " --out " + (root_ / "out").string());
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("lectoria-drive: box \"Error\": Server connection failed"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("lectoria-drive: session start failed (TestResult 1, axstatus 1)"),
            std::string::npos)
      << r.err;
}

TEST_F(DriveTest, TheUnitIsWalkedFromAServerToo) {
  TestServer server(course_, root_ / "server.log");
  ASSERT_NE(server.port(), 0);
  const DriveRun r =
      Drive(Course() + " --unit 7 --server 127.0.0.1:" + std::to_string(server.port()) + " --out " +
            (root_ / "out").string());
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 26u);
  // From a distant server, its requests overlapping, every page is drawn
  // as from the nearby one.
  TestServer far(course_, root_ / "far.log", {"--latency-ms", "20"});
  ASSERT_NE(far.port(), 0);
  const DriveRun f =
      Drive(Course() + " --unit 7 --server 127.0.0.1:" + std::to_string(far.port()) + " --out " +
            (root_ / "far").string());
  ASSERT_EQ(f.code, 0) << f.err;
  EXPECT_EQ(f.out, r.out);
  size_t pages = 0;
  for (const auto& entry : fs::directory_iterator(root_ / "out")) {
    if (entry.path().extension() != ".png") continue;
    ++pages;
    std::ifstream near_page(entry.path(), std::ios::binary);
    std::ifstream far_page(root_ / "far" / entry.path().filename(), std::ios::binary);
    const std::string near_bytes((std::istreambuf_iterator<char>(near_page)), {});
    const std::string far_bytes((std::istreambuf_iterator<char>(far_page)), {});
    EXPECT_TRUE(near_bytes == far_bytes) << entry.path().filename();
  }
  EXPECT_EQ(pages, 26u);
}

TEST_F(DriveTest, TheWatchdogEndsARunPastItsTime) {
  const fs::path script = root_ / "slow.txt";
  std::ofstream(script) << "wait 60000\n";
  const auto start = std::chrono::steady_clock::now();
  const DriveRun r = Drive(Course() + " --unit 7 --timeout 1 --script " + script.string());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("lectoria-drive: timed out after 1 s\n"), std::string::npos) << r.err;
}

// "unload took T ms" of a run's output, or -1.
long UnloadMs(const std::string& out) {
  const std::string key = "unload took ";
  const size_t at = out.find(key);
  return at == std::string::npos ? -1 : std::atol(out.c_str() + at + key.size());
}

TEST_F(DriveTest, ACloseFiveSecondsIntoALoadFromASlowServerEndsSoonWithNoBox) {
  TestServer server(course_, root_ / "server.log", {"--delay-ms", "1500"});
  ASSERT_NE(server.port(), 0);
  const std::string audit = Read(course_ / "userdata/work/C007/AUDIT.ALU");
  const DriveRun r = Drive(Course() + " --unit 7 --server 127.0.0.1:" +
                           std::to_string(server.port()) + " --unload-after 5000 --timeout 110");
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.err.find("box"), std::string::npos) << r.err;
  const long ms = UnloadMs(r.out);
  ASSERT_GE(ms, 0) << r.out;
  EXPECT_LT(ms, 15000);
  // The load never reached the audit: nothing was written for it.
  EXPECT_EQ(Read(course_ / "userdata/work/C007/AUDIT.ALU"), audit);
}

TEST_F(DriveTest, ABoxBeforeTheUnloadLeavesTheExitStatus0AndTheLoadedAuditIsSaved) {
  const DriveRun r = Drive(Course() + " --unit 7 --unload-after 8000 --timeout 110");
  // The course has no animation: its box comes during the load, before
  // the unload, and does not count.
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("DEFANIM.TXT"), std::string::npos) << r.err;
  EXPECT_GE(UnloadMs(r.out), 0) << r.out;
  EXPECT_TRUE(fs::exists(course_ / "userdata/work/C007/AUDIT.BKP"));
}

TEST_F(DriveTest, CommandLinesAndTheMemberList) {
  EXPECT_EQ(Drive(Course() + " --unit 7 --unload-after -1").code, 2);
  EXPECT_EQ(Drive(Course() + " --unit 7 --unload-after").code, 2);
  EXPECT_EQ(Drive(Course() + " --unit 7 --unload-after 10 --script x").code, 2);
  EXPECT_EQ(Drive("").code, 2);
  EXPECT_EQ(Drive("--unit 7").code, 2);
  EXPECT_EQ(Drive(Course() + " --unit 0").code, 2);
  EXPECT_EQ(Drive(Course() + " --unit 7 --server nohost").code, 2);
  EXPECT_EQ(Drive("--list-members --unit 7").code, 2);
  EXPECT_NE(Drive("").err.find("usage: lectoria-drive"), std::string::npos);
  const DriveRun r = Drive("--list-members");
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 43u);
  EXPECT_EQ(lines.front(), "1 property Version");
  EXPECT_EQ(lines[1], "2 method ServerEHDD");
  EXPECT_EQ(lines.back(), "43 property PlaySTR_GetLength");
}

TEST_F(DriveTest, ASecondRunOnTheCourseIsRefusedAndTouchesNothing) {
  const fs::path script = root_ / "slow.txt";
  std::ofstream(script) << "wait 3000\n";
  const pid_t first = Start(Course() + " --unit 7 --out " + (root_ / "out1").string() +
                                " --script " + script.string(),
                            "first");
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitForOutput("first", "part 0 page 1 of 26")) << Read(root_ / "first.err");
  const auto before = Files(course_);
  const DriveRun second = Drive(Course() + " --unit 7 --out " + (root_ / "out2").string());
  EXPECT_EQ(second.code, 1);
  EXPECT_NE(second.err.find("lectoria-drive: box \"ERROR\": Ya hay una sesion abierta con estos "
                            "datos de alumno.\n"),
            std::string::npos)
      << second.err;
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(Files(course_), before);
  // The first goes on and saves its work.
  EXPECT_EQ(Finish(first), 0) << Read(root_ / "first.err");
  const std::string alu = Read(course_ / "userdata/work/C007/AUDIT.ALU");
  EXPECT_EQ(alu, Read(course_ / "userdata/work/C007/AUDIT.BKP"));
  EXPECT_EQ(alu.rfind("ALUMNOVe1.0    ", 0), 0u);
}

TEST_F(DriveTest, AKilledRunDoesNotBlockTheNext) {
  const fs::path script = root_ / "slow.txt";
  std::ofstream(script) << "wait 60000\n";
  const pid_t first = Start(Course() + " --unit 7 --script " + script.string(), "first");
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitForOutput("first", "part 0 page 1 of 26")) << Read(root_ / "first.err");
  kill(first, SIGKILL);
  EXPECT_EQ(Finish(first), -1);
  const DriveRun next = Drive(Course() + " --unit 7 --out " + (root_ / "out").string());
  EXPECT_EQ(next.code, 0) << next.err;
  EXPECT_EQ(Lines(next.out).size(), 26u);
}

TEST_F(DriveTest, TwoCoursesEndingTogetherEachKeepTheirOwnWork) {
  constexpr uint32_t kA = 360000000, kB = 720000000;  // 100 and 200 hours studied
  const fs::path other = root_ / "other";
  fs::copy(course_, other, fs::copy_options::recursive);
  fs::create_directories(course_ / "userdata/work/C007");
  fs::create_directories(other / "userdata/work/C007");
  for (const auto& [course, ms] : {std::pair{course_, kA}, {other, kB}}) {
    std::ofstream(course / "userdata/work/C007/AUDIT.ALU", std::ios::binary) << Audit(ms);
    std::ofstream(course / "userdata/work/C007/AUDIT.BKP", std::ios::binary) << Audit(ms);
  }
  const fs::path script = root_ / "end.txt";
  std::ofstream(script) << "wait 1500\n";
  const pid_t a = Start(Course() + " --unit 7 --script " + script.string(), "a");
  const pid_t b =
      Start("--course " + other.string() + " --unit 7 --script " + script.string(), "b");
  EXPECT_EQ(Finish(a), 0) << Read(root_ / "a.err");
  EXPECT_EQ(Finish(b), 0) << Read(root_ / "b.err");
  for (const char* name : {"AUDIT.ALU", "AUDIT.BKP"}) {
    const uint32_t of_a = StudyTime(Read(course_ / "userdata/work/C007" / name));
    const uint32_t of_b = StudyTime(Read(other / "userdata/work/C007" / name));
    EXPECT_GE(of_a, kA) << name;
    EXPECT_LT(of_a, kB) << name;
    EXPECT_GE(of_b, kB) << name;
  }
}

}  // namespace

namespace {

TEST(DriveCourseTest, UnitOneOfTheSampleCourseIsWalked) {
  const fs::path course = fs::path(LECTORIA_SOURCE_DIR) / "build" / "course";
  ASSERT_TRUE(fs::is_directory(course / "data"))
      << course.string()
      << " is missing: build the sample course first (course/build build/course, as "
         "scripts/test and scripts/run do)";
  char pattern[] = "/tmp/lectoria-drive-course-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  // A copy: the walk writes the learner's audit into the course folder.
  fs::create_directories(root / "course");
  fs::copy(course / "data", root / "course/data", fs::copy_options::recursive);
  fs::create_directories(root / "registry");
  fs::create_directories(root / "tmp");
  const std::string command = "env LECTORIA_REGISTRY_DIR=" + (root / "registry").string() +
                              " TMPDIR=" + (root / "tmp").string() + " " + kBin +
                              "/lectoria-drive --course " + (root / "course").string() +
                              " --unit 1 --out " + (root / "out").string() + " > " +
                              (root / "stdout").string() + " 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream in(root / "stdout");
  const std::string out(std::istreambuf_iterator<char>(in), {});
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  EXPECT_EQ(out.rfind("part 0 page 1 of ", 0), 0u) << out;
  EXPECT_TRUE(fs::exists(root / "course/userdata/work/C001/AUDIT.ALU"));
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace
