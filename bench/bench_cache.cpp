// The block cache against memcpy of one block: a hit, a miss, forgetting one
// key among 4,000 records, making the 17 MB slot file and reopening it.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ehdd/TEHDDCache.h"

namespace fs = std::filesystem;

namespace {

const std::string& Folder() {
  static std::string folder = [] {
    char pattern[] = "/tmp/lectoria-bench-cache-XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  return folder;
}

void BM_Hit(benchmark::State& state) {
  TEHDDCache cache;
  std::vector<unsigned char> block(4000, 7), out(4000);
  cache.EscribirRango("data/unit001#/PARTE1/TEXTO.TAE", block.data(), 0, 4000, 4000);
  const std::string key = "data/unit001#/PARTE1/TEXTO.TAE";
  // The reader's list of entries is kept from one read to the next, as the
  // client's reads keep theirs.
  std::vector<TRangoCache> entries;
  for (auto _ : state) {
    entries.clear();
    uint32_t first = 0;
    cache.ComprobarRango(key, entries, 0, 3999, first);
    cache.LeerRango(key, 0, 3999, entries, out.data());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_Hit);

void BM_MemcpyBound(benchmark::State& state) {
  std::vector<unsigned char> block(4000, 7), out(4000);
  for (auto _ : state) {
    std::memcpy(out.data(), block.data(), 4000);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemcpyBound);

void BM_Miss(benchmark::State& state) {
  TEHDDCache cache;
  for (auto _ : state) {
    std::vector<TRangoCache> entries;
    uint32_t first = 0;
    benchmark::DoNotOptimize(cache.ComprobarRango("data/none", entries, 0, 3999, first));
  }
}
BENCHMARK(BM_Miss);

void BM_OlvidarWith4000Records(benchmark::State& state) {
  TEHDDCache cache;
  cache.Iniciar("olvidar", 4000, Folder());
  std::vector<unsigned char> block(4000, 1);
  for (uint32_t i = 0; i < 4000 + 16; ++i) {
    cache.EscribirRango("file" + std::to_string(i % 40), block.data(), (i / 40) * 4000, 4000, 4000);
  }
  for (auto _ : state) cache.Olvidar("file7");
}
BENCHMARK(BM_OlvidarWith4000Records)->Unit(benchmark::kMicrosecond);

void BM_CreateSlotFile(benchmark::State& state) {
  for (auto _ : state) {
    fs::remove(Folder() + "/nuevo");
    TEHDDCache cache;
    cache.Iniciar("nuevo", 4000, Folder());
  }
}
BENCHMARK(BM_CreateSlotFile)->Unit(benchmark::kMillisecond);

void BM_ReopenSlotFile(benchmark::State& state) {
  {
    TEHDDCache cache;
    cache.Iniciar("reabrir", 4000, Folder());
  }
  for (auto _ : state) {
    TEHDDCache cache;
    cache.Iniciar("reabrir", 4000, Folder());
  }
}
BENCHMARK(BM_ReopenSlotFile)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(Folder());
  return 0;
}
