// Unit 1's first page of the sample course loaded from an eHDD server
// (lectoria-drive --server against ehdd-server): with every reply leaving
// 20 ms after its request arrived (a distant server; requests that overlap
// are answered together), beside the same load with no latency, its bound.
// The requests of one load are counted from the server's log. Goal: the
// distant load at most 1.0 s over the bound.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/TestServer.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = LECTORIA_BIN_DIR;

struct Course {
  std::string dir;  // holds program/, the server's log and the drive's files
  bool ok = false;
  Course() {
    char pattern[] = "/tmp/lectoria-bench-remote-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    dir = pattern;
    const std::string command = "python3 " + std::string(LECTORIA_SOURCE_DIR) + "/course/build " +
                                dir + "/program --tools " + kBin + " > /dev/null";
    if (std::system(command.c_str()) != 0) return;
    fs::create_directories(dir + "/registry");
    fs::create_directories(dir + "/tmp");
    std::ofstream(dir + "/first-page.txt") << "";  // load, show the first page, end
    ok = true;
  }
  ~Course() {
    if (!dir.empty()) fs::remove_all(dir);
  }
};

Course& Shared() {
  static Course course;
  return course;
}

size_t CountLines(const std::string& path) {
  std::ifstream in(path);
  size_t n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

void LoadFirstPage(benchmark::State& state, int latency_ms) {
  Course& c = Shared();
  if (!c.ok) {
    state.SkipWithError("the sample course could not be built");
    return;
  }
  const std::string log = c.dir + "/server.log";
  size_t requests = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(log);
    fs::remove_all(c.dir + "/tmp");
    fs::create_directories(c.dir + "/tmp");
    TestServer server(c.dir + "/program", log, {"--latency-ms", std::to_string(latency_ms)});
    if (server.port() == 0) {
      state.SkipWithError("ehdd-server did not start");
      return;
    }
    const std::string command = "env LECTORIA_REGISTRY_DIR=" + c.dir + "/registry TMPDIR=" +
                                c.dir + "/tmp " + kBin + "/lectoria-drive --course " + c.dir +
                                "/program --unit 1 --server 127.0.0.1:" +
                                std::to_string(server.port()) + " --script " + c.dir +
                                "/first-page.txt --out " + c.dir + "/out > /dev/null 2>&1";
    state.ResumeTiming();
    const int status = std::system(command.c_str());
    state.PauseTiming();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("lectoria-drive failed");
      return;
    }
    requests = CountLines(log);
    state.ResumeTiming();
  }
  state.counters["requests"] = static_cast<double>(requests);
}

void BM_RemoteUnitFirstPageNoLatencyBound(benchmark::State& state) {
  LoadFirstPage(state, 0);
}
BENCHMARK(BM_RemoteUnitFirstPageNoLatencyBound)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_RemoteUnitFirstPage20msRoundTrip(benchmark::State& state) {
  LoadFirstPage(state, 20);
}
BENCHMARK(BM_RemoteUnitFirstPage20msRoundTrip)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
