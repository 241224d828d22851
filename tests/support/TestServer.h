// ehdd-server run as a child process for tests and benchmarks; the port it listens on
// comes from its first line of output. The child is killed with the test.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

class TestServer {
 public:
  TestServer(const std::filesystem::path& root, const std::filesystem::path& log,
             std::vector<std::string> flags = {}) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test
      dup2(out[1], 1);
      close(out[0]);
      std::vector<std::string> args = {std::string(LECTORIA_BIN_DIR) + "/ehdd-server", "--root",
                                       root.string(), "--port", "0"};
      if (!log.empty()) {  // no log: a request costs the server no write
        args.push_back("--log");
        args.push_back(log.string());
      }
      args.insert(args.end(), flags.begin(), flags.end());
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    char buffer[16] = {};
    ssize_t n = read(out[0], buffer, sizeof(buffer) - 1);
    close(out[0]);
    port_ = n > 0 ? static_cast<uint16_t>(std::atoi(buffer)) : 0;
  }
  ~TestServer() { Kill(); }
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  void Kill() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  uint16_t port() const { return port_; }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};
