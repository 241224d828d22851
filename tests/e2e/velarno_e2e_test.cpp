// velarno run whole under a virtual X display: it starts on a program folder,
// reports its first paint, and a signal closes it as a user close does, with
// exit code 0 and the progress table written. Skipped without xvfb-run.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../support/VelarnoProcess.h"
#include "../window/ProgramFolder.h"

namespace fs = std::filesystem;

namespace {

bool HaveXvfb() {
  return std::system("command -v xvfb-run > /dev/null 2>&1") == 0;
}

// Under LeakSanitizer, leaks of system libraries do not fail the run.
const std::pair<std::string, std::string> kLeakSuppressions = {
    "LSAN_OPTIONS",
    "suppressions=" LECTORIA_SOURCE_DIR "/tests/e2e/lsan.supp:print_suppressions=0"};

std::vector<std::string> Lines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::vector<std::string> lines;
  std::string text = bytes.str();
  for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

class VelarnoRunTest : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (!HaveXvfb()) GTEST_SKIP() << "xvfb-run is not installed";
    char pattern[] = "/tmp/velarno-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "registry");
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  // Starts velarno on the folder, waits for its first paint, sends the
  // signal and gives its exit code.
  int RunAndSignal(const std::string& folder, int signal) {
    const std::string pid_file = (root_ / "velarno.pid").string();
    VelarnoProcess velarno(
        {"xvfb-run", "-a", "sh", "-c", "echo $$ > '" + pid_file + "'; exec \"$0\"",
         std::string(LECTORIA_BIN_DIR) + "/velarno"},
        {{"VELARNO_PROGRAM_DIR", folder},
         {"VELARNO_STARTUP_TRACE", "1"},
         {"LECTORIA_REGISTRY_DIR", (root_ / "registry").string()},
         {"QT_QPA_PLATFORM", "xcb"},
         kLeakSuppressions},
        pid_file);
    const auto trace = velarno.WaitForLine("velarno: first paint after ", 60000);
    if (!trace) {
      ADD_FAILURE() << "no first paint; stderr:\n" << testing::PrintToString(velarno.Lines());
      return -100;
    }
    const std::string ms = trace->substr(std::string("velarno: first paint after ").size());
    EXPECT_GE(std::atol(ms.c_str()), 0);
    EXPECT_EQ(ms.substr(ms.size() - 3), " ms");
    EXPECT_TRUE(velarno.Signal(signal));
    const auto code = velarno.WaitExit(5000);
    if (!code) {
      ADD_FAILURE() << "still running 5 s after the signal";
      return -101;
    }
    velarno.WaitForLine("\x01", 1000);  // the rest of stderr, for a failure's report
    EXPECT_EQ(*code, 0) << testing::PrintToString(velarno.Lines());
    return *code;
  }

  fs::path root_;
};

TEST_P(VelarnoRunTest, ASignalClosesItAndTheTableIsWritten) {
  FolderOptions options;
  options.units_alu = "7:0:3:1:0:5:40\r\n144:1:9:9:2:30:100\r\n";
  const std::string folder = MakeProgramFolder(options, root_);
  EXPECT_EQ(RunAndSignal(folder, GetParam()), 0);
  const auto table = Lines(folder + "data/units.alu");
  ASSERT_EQ(table.size(), 144u);
  EXPECT_EQ(table[0], "1:0:0:0:0:0:0");
  EXPECT_EQ(table[6], "7:0:3:1:0:5:40");
  EXPECT_EQ(table[143], "144:1:9:9:2:30:100");
}

INSTANTIATE_TEST_SUITE_P(Signals, VelarnoRunTest, testing::Values(SIGTERM, SIGINT, SIGHUP));

// The sample course's folder is a whole installation: build/course/velarno,
// copied elsewhere and started with no variable, takes its program folder
// from where it runs, shows the course's pages with the engine registered
// from beside it, and writes the table into that folder's data. scripts/test
// builds it before the tests; without it this fails.
TEST(VelarnoCourseTest, TheSampleCourseStartsAndCloses) {
  const fs::path course = fs::path(LECTORIA_SOURCE_DIR) / "build" / "course";
  for (const char* part : {"data/skin0.dat", "data/unit001.FAT", "velarno", "liblectoria.so"}) {
    ASSERT_TRUE(fs::exists(course / part))
        << (course / part).string()
        << " is missing: build the sample course first (course/build build/course, as "
           "scripts/test and scripts/run do)";
  }
  if (!HaveXvfb()) GTEST_SKIP() << "xvfb-run is not installed";
  char pattern[] = "/tmp/velarno-course-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  // A copy, so the run's table does not change the built course.
  ASSERT_TRUE(CopyAndRegisterCourse(course, root));
  const fs::path copy = root / "course";
  const fs::path registry = root / "registry";
  const std::string pid_file = (root / "velarno.pid").string();
  VelarnoProcess velarno({"env", "-u", "VELARNO_PROGRAM_DIR", "xvfb-run", "-a", "sh", "-c",
                          "echo $$ > '" + pid_file + "'; exec \"$0\"", (copy / "velarno").string()},
                         {{"VELARNO_STARTUP_TRACE", "1"},
                          {"LECTORIA_REGISTRY_DIR", registry.string()},
                          {"QT_QPA_PLATFORM", "xcb"},
                          kLeakSuppressions},
                         pid_file);
  EXPECT_TRUE(velarno.WaitForLine("velarno: first paint after ", 60000));
  EXPECT_TRUE(velarno.Signal(SIGTERM));
  EXPECT_EQ(velarno.WaitExit(5000), std::optional<int>(0));
  velarno.WaitForLine("\x01", 1000);  // the rest of stderr
  for (const std::string& line : velarno.Lines()) {
    // Every page found, the control made.
    EXPECT_EQ(line.find("velarno: cannot show"), std::string::npos) << line;
    EXPECT_EQ(line.find("cannot be created"), std::string::npos) << line;
  }
  EXPECT_EQ(Lines(copy / "data" / "units.alu").size(), 144u);
  fs::remove_all(root);
}

}  // namespace
