// Reading a 5 MB volume member in 64,000-byte fetches through the volume
// cache (the local-mode hot path: every fetch walks the path again), in a
// folder of 20 and of 2,000 siblings, at block sizes 512 and 4096; and, as
// the bound, pread of the same number of bytes from the .DAT file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "ehdd/TCacheVolumenes.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kSize = 5 * 1000 * 1000;
constexpr uint32_t kFetch = 64000;

struct Volume {
  std::string prefix;
  std::string file_key;
};

const fs::path& Root() {
  static fs::path root = [] {
    char pattern[] = "/tmp/lectoria-bench-volume-XXXXXX";
    return fs::path(mkdtemp(pattern));
  }();
  return root;
}

const Volume& Get(int siblings, int block_size) {
  static std::map<std::pair<int, int>, Volume> made;
  auto key = std::make_pair(siblings, block_size);
  auto it = made.find(key);
  if (it != made.end()) return it->second;
  const fs::path src = Root() / ("src" + std::to_string(siblings));
  if (!fs::exists(src)) {
    fs::create_directories(src / "DATOS");
    std::vector<char> bytes(kSize);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    std::ofstream(src / "DATOS" / "BIG.BIN", std::ios::binary).write(bytes.data(), bytes.size());
    for (int i = 1; i < siblings; ++i) {
      std::ofstream(src / "DATOS" / ("S" + std::to_string(i))) << i;
    }
  }
  Volume v;
  v.prefix = (Root() / ("v" + std::to_string(siblings) + "_" + std::to_string(block_size))).string();
  std::string command = std::string(LECTORIA_BIN_DIR) + "/ehdd-volume build " + src.string() + " " +
                        v.prefix + " --block-size " + std::to_string(block_size);
  if (std::system(command.c_str()) != 0) std::abort();
  std::string volume_key;
  int64_t size = 0;
  TCacheVolumenes* cache = TCacheVolumenes::Instance();
  if (!cache->AbrirVolumen(v.prefix, volume_key) ||
      !cache->AbrirFichero(volume_key, v.prefix + "#/DATOS/BIG.BIN", "/DATOS/BIG.BIN", v.file_key,
                           &size) ||
      size != kSize) {
    std::abort();
  }
  return made.emplace(key, v).first->second;
}

void BM_VolumeMember(benchmark::State& state) {
  const Volume& v = Get(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  TCacheVolumenes* cache = TCacheVolumenes::Instance();
  for (auto _ : state) {
    for (uint32_t offset = 0; offset < kSize; offset += kFetch) {
      uint32_t count = 0;
      std::unique_ptr<unsigned char[]> buffer;
      cache->LeerFichero(v.file_key, count, buffer, offset, kFetch);
      benchmark::DoNotOptimize(buffer.get());
    }
  }
  state.SetBytesProcessed(state.iterations() * kSize);
}

void BM_DatPreadBound(benchmark::State& state) {
  const Volume& v = Get(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  int fd = open((v.prefix + ".DAT").c_str(), O_RDONLY);
  std::vector<char> buffer(kFetch);
  for (auto _ : state) {
    for (uint32_t offset = 0; offset < kSize; offset += kFetch) {
      benchmark::DoNotOptimize(pread(fd, buffer.data(), kFetch, offset));
    }
  }
  close(fd);
  state.SetBytesProcessed(state.iterations() * kSize);
}

void Args(benchmark::internal::Benchmark* b) {
  for (int siblings : {20, 2000}) {
    for (int block : {512, 4096}) b->Args({siblings, block});
  }
}

}  // namespace

BENCHMARK(BM_VolumeMember)->Apply(Args)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DatPreadBound)->Apply(Args)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(Root());
  return 0;
}
