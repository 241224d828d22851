// Reading through the eHDD client's file interface against read(2) of the
// same bytes from the page cache: a 5 MB member of a local volume and a 5 MB
// plain file under the local root, in 1-byte, 4 KiB and 64,000-byte calls;
// and opens per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "ehdd/TEHDDClient.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kFileSize = 5 * 1000 * 1000;

struct Fixture {
  std::string root;
  TEHDDClient client;
  bool ok = false;

  Fixture() {
    char pattern[] = "/tmp/lectoria-bench-client-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    root = std::string(pattern) + "/";
    fs::create_directories(root + "src/DATOS");
    fs::create_directories(root + "data/plain");
    std::vector<char> bytes(kFileSize);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + 7);
    std::ofstream(root + "src/DATOS/BIG.BIN", std::ios::binary).write(bytes.data(), bytes.size());
    std::ofstream(root + "data/plain/BIG.BIN", std::ios::binary).write(bytes.data(), bytes.size());
    std::string command = std::string(LECTORIA_BIN_DIR) + "/ehdd-volume build " + root + "src " +
                          root + "data/vol > /dev/null";
    if (std::system(command.c_str()) != 0) return;
    client.SetLocalRoot(root);
    client.AddLocalLetter('M', "");
    client.AddLocalLetter('S', "");
    client.Mount("data\\vol.dat", 'M');
    client.Mount("data\\plain", 'S');
    ok = true;
  }
  ~Fixture() {
    if (!root.empty()) fs::remove_all(root);
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void ReadThroughClient(benchmark::State& state, const char* vpath) {
  Fixture& f = Shared();
  if (!f.ok) {
    state.SkipWithError("fixture could not be built");
    return;
  }
  const uint32_t chunk = static_cast<uint32_t>(state.range(0));
  std::vector<char> buffer(chunk);
  for (auto _ : state) {
    TFicheroEHDD* file = f.client.Abrir(vpath, 0);
    size_t total = 0;
    for (;;) {
      uint32_t got = f.client.Leer(buffer.data(), 1, chunk, file);
      if (got == 0) break;
      total += got;
    }
    f.client.Cerrar(file);
    if (total != kFileSize) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_VolumeMember(benchmark::State& state) { ReadThroughClient(state, "M:\\DATOS\\BIG.BIN"); }
void BM_PlainUnderRoot(benchmark::State& state) { ReadThroughClient(state, "S:\\BIG.BIN"); }

void BM_ReadSyscallBound(benchmark::State& state) {
  Fixture& f = Shared();
  const size_t chunk = static_cast<size_t>(state.range(0));
  std::vector<char> buffer(chunk);
  const std::string path = f.root + "data/plain/BIG.BIN";
  for (auto _ : state) {
    int fd = open(path.c_str(), O_RDONLY);
    size_t total = 0;
    for (;;) {
      ssize_t got = read(fd, buffer.data(), chunk);
      if (got <= 0) break;
      total += static_cast<size_t>(got);
    }
    close(fd);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_OpenClose(benchmark::State& state) {
  Fixture& f = Shared();
  const char* vpath = state.range(0) == 0 ? "M:\\DATOS\\BIG.BIN" : "S:\\BIG.BIN";
  for (auto _ : state) {
    TFicheroEHDD* file = f.client.Abrir(vpath, 0);
    benchmark::DoNotOptimize(file);
    f.client.Cerrar(file);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_VolumeMember)->Arg(1)->Arg(4096)->Arg(64000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainUnderRoot)->Arg(1)->Arg(4096)->Arg(64000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSyscallBound)->Arg(1)->Arg(4096)->Arg(64000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenClose)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
