// velarno run as a child process: its stderr read line by line with a
// deadline, signals sent to the program itself (not to a wrapper such as
// xvfb-run), and a bounded wait for its exit. The child dies with its parent.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class VelarnoProcess {
 public:
  using Clock = std::chrono::steady_clock;

  // Runs command (argv) with the extra environment. When the program runs
  // under a wrapper, the command writes the program's pid to pid_file (as
  // "sh -c 'echo $$ > FILE; exec \"$0\"' PROGRAM" does) and signals go there.
  VelarnoProcess(std::vector<std::string> command,
                 std::vector<std::pair<std::string, std::string>> environment,
                 std::string pid_file = "")
      : pid_file_(std::move(pid_file)) {
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0) return;
    started_ = Clock::now();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      setpgid(0, 0);
      dup2(err[1], 2);
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 1);
      for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
      std::vector<std::string> args = command;
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    close(err[1]);
    err_ = err[0];
  }
  ~VelarnoProcess() {
    if (pid_ > 0) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (err_ >= 0) close(err_);
  }
  VelarnoProcess(const VelarnoProcess&) = delete;
  VelarnoProcess& operator=(const VelarnoProcess&) = delete;

  // The first stderr line that starts with prefix, read within timeout_ms.
  std::optional<std::string> WaitForLine(const std::string& prefix, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      for (size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        lines_.push_back(line);
        if (line.rfind(prefix, 0) == 0) {
          line_seen_ = Clock::now();
          return line;
        }
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0 || err_ < 0) return std::nullopt;
      pollfd fd{err_, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[4096];
      const ssize_t n = read(err_, chunk, sizeof(chunk));
      if (n <= 0) {
        close(err_);
        err_ = -1;
        continue;
      }
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  // Time from the fork to the last line WaitForLine found.
  double MillisecondsToLine() const {
    return std::chrono::duration<double, std::milli>(line_seen_ - started_).count();
  }

  // The program's own pid (from the pid file when one was named).
  pid_t ProgramPid() const {
    if (pid_file_.empty()) return pid_;
    std::ifstream in(pid_file_);
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
  }
  bool Signal(int signal) const {
    const pid_t pid = ProgramPid();
    return pid > 0 && kill(pid, signal) == 0;
  }

  // The exit code, or nothing when it did not end within timeout_ms (or
  // ended by a signal: then -signal).
  std::optional<int> WaitExit(int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (pid_ > 0) {
      int status = 0;
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        return WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
      }
      if (Clock::now() >= deadline) return std::nullopt;
      usleep(5000);
    }
    return std::nullopt;
  }

  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::string pid_file_;
  pid_t pid_ = -1;
  int err_ = -1;
  std::string buffer_;
  std::vector<std::string> lines_;
  Clock::time_point started_;
  Clock::time_point line_seen_;
};

// A copy of the built program folder `course` in `root`/course, with no
// progress table (the run's own does not change the built course), its
// engine library registered in a registry of its own, `root`/registry.
// False when the library could not be registered.
inline bool CopyAndRegisterCourse(const std::filesystem::path& course,
                                  const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  const fs::path copy = root / "course";
  fs::copy(course, copy, fs::copy_options::recursive);
  fs::remove(copy / "data" / "units.alu");
  const fs::path registry = root / "registry";
  fs::create_directories(registry);
  const std::string regsvr = "env LECTORIA_REGISTRY_DIR='" + registry.string() +
                             "' LSAN_OPTIONS=detect_leaks=0 " LECTORIA_BIN_DIR "/lectoria-regsvr '" +
                             (copy / "liblectoria.so").string() + "' > /dev/null";
  return std::system(regsvr.c_str()) == 0;
}
