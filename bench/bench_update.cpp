// Installing an update of one 64 MiB file and 100 files of 4 KiB (each file
// read for its CRC, copied beside its target, flushed, read back for its CRC
// and renamed), beside the bound: std::filesystem::copy_file plus fsync of
// the same files. And a start with no update, beside one access().
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/qorUpdate.h"
#include "host/qorUtils.h"

namespace fs = std::filesystem;

namespace {

struct Delivery {
  fs::path root;
  std::vector<std::string> names;
  std::string manifest;
  int64_t bytes = 0;
};

const Delivery& Files() {
  static const Delivery delivery = [] {
    Delivery d;
    char pattern[] = "/tmp/lectoria-bench-update-XXXXXX";
    d.root = mkdtemp(pattern);
    fs::create_directories(d.root / "master");
    fs::create_directories(d.root / "prog");
    fs::create_directories(d.root / "copies");
    auto make = [&](const std::string& name, size_t size) {
      std::string bytes(size, '\0');
      for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
      bytes[0] = static_cast<char>(d.names.size());
      std::ofstream(d.root / "master" / name, std::ios::binary) << bytes;
      char crc[16];
      std::snprintf(crc, sizeof crc, "%lX",
                    static_cast<unsigned long>(
                        Crc32Update(0, bytes.data(), static_cast<uint32_t>(bytes.size()))));
      d.manifest += name + "=" + crc + "\r\n";
      d.names.push_back(name);
      d.bytes += static_cast<int64_t>(size);
    };
    make("big.bin", 64u << 20);
    for (int i = 0; i < 100; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "s%03d.bin", i);
      make(name, 4096);
    }
    return d;
  }();
  return delivery;
}

void ApplyUpdate(benchmark::State& state) {
  const Delivery& d = Files();
  const fs::path program = d.root / "prog";
  for (auto _ : state) {
    state.PauseTiming();
    fs::create_directories(program / "upd");
    for (const std::string& name : d.names)
      fs::create_hard_link(d.root / "master" / name, program / "upd" / name);
    std::ofstream(program / "upd" / "manifest.qor", std::ios::binary) << d.manifest;
    state.ResumeTiming();
    const UpdateReport report = ProcessPendingUpdate(program.string(), UpdateMode::kInstall);
    if (report.outcome != UpdateReport::Outcome::kDone) {
      state.SkipWithError(report.reason.c_str());
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * d.bytes);
}
BENCHMARK(ApplyUpdate)->Unit(benchmark::kMillisecond)->UseRealTime();

void CopyFileAndFsync(benchmark::State& state) {
  const Delivery& d = Files();
  for (auto _ : state) {
    for (const std::string& name : d.names) {
      const fs::path target = d.root / "copies" / name;
      fs::copy_file(d.root / "master" / name, target, fs::copy_options::overwrite_existing);
      const int fd = open(target.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 || fsync(fd) != 0) state.SkipWithError("fsync");
      if (fd >= 0) close(fd);
    }
  }
  state.SetBytesProcessed(state.iterations() * d.bytes);
}
BENCHMARK(CopyFileAndFsync)->Unit(benchmark::kMillisecond)->UseRealTime();

void StartWithNoUpdate(benchmark::State& state) {
  const std::string program = (Files().root / "copies").string();
  for (auto _ : state) benchmark::DoNotOptimize(ApplyPendingUpdate(program));
}
BENCHMARK(StartWithNoUpdate);

void AccessOfAMissingFile(benchmark::State& state) {
  const std::string path = (Files().root / "copies" / "upd" / "manifest.qor").string();
  for (auto _ : state) benchmark::DoNotOptimize(access(path.c_str(), F_OK));
}
BENCHMARK(AccessOfAMissingFile);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(Files().root);
  return 0;
}
