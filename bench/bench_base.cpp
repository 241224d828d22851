// CRC-32 throughput against memcpy of the same bytes, and the cache key of
// a path.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "base/Checksums.h"

static void BM_Crc32(benchmark::State& state) {
  std::vector<unsigned char> data(state.range(0), 0x5A);
  for (auto _ : state) {
    benchmark::DoNotOptimize(crc32(0, data.data(), static_cast<uInt>(data.size())));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc32)->Arg(4000)->Arg(64000);

static void BM_MemcpyBound(benchmark::State& state) {
  std::vector<unsigned char> src(state.range(0), 0x5A), dst(state.range(0));
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MemcpyBound)->Arg(4000)->Arg(64000);

static void BM_CacheName(benchmark::State& state) {
  const char* path = "data\\ehddservers\\unit001.dat#/PARTE1/TEXTO.TAE";
  for (auto _ : state) benchmark::DoNotOptimize(CacheName(path));
}
BENCHMARK(BM_CacheName);

BENCHMARK_MAIN();
