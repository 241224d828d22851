// Reading the sample course's stores: every member of every built volume
// through the eHDD client in local mode, in 50,000-byte items (the size the
// unit loader reads ahead with), beside read(2) of the same volumes' .DAT
// files in reads of the same size. The goal: the bare time at least half the
// client's (ratio >= 0.5). The same reads are then made with the block
// cache's slot file open (4000 records, as a study session opens it), where
// every block read also reaches the slot file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ehdd/TEHDDCache.h"
#include "ehdd/TEHDDClient.h"
#include "ehdd/TVolumen.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kItem = 50000;

struct Volume {
  char letter;
  std::string store;   // as mounted
  std::string prefix;  // under the program folder
};

const Volume kVolumes[] = {
    {'X', "data\\common.dat", "data/common"},
    {'M', "data\\mcd01.dat", "data/mcd01"},
    {'U', "data\\unit001.dat", "data/unit001"},
    {'V', "data\\unit002.dat", "data/unit002"},
    {'Y', "data\\minicourse.dat", "data/minicourse"},
    {'G', "data\\ehddservers\\GLOSSARY10\\GLOSSARY10.DAT",
     "data/ehddservers/GLOSSARY10/GLOSSARY10"},
};

void List(TVolumen& volume, const std::string& folder, char letter, std::vector<std::string>& out,
          uint64_t& bytes) {
  uint32_t block = 0;
  std::vector<TEntradaDirectorio> entries;
  if (!volume.BuscarDirectorio(folder, &block) || !volume.Listar(block, "full", entries)) return;
  for (const auto& e : entries) {
    const std::string path = (folder == "/" ? "" : folder) + "/" + e.nombre;
    if (e.tipo == 1) {
      List(volume, path, letter, out, bytes);
      continue;
    }
    std::string v = std::string(1, letter) + ":" + path;
    for (char& c : v) {
      if (c == '/') c = '\\';
    }
    out.push_back(v);
    bytes += e.size;
  }
}

struct Course {
  std::string made;  // the folder this run made, removed with everything in it
  std::string root;
  TEHDDClient client;
  std::vector<std::string> members;
  uint64_t member_bytes = 0;
  uint64_t dat_bytes = 0;
  bool ok = false;

  Course() {
    char pattern[] = "/tmp/lectoria-bench-course-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    made = pattern;
    root = made + "/";
    const std::string command = "python3 " + std::string(LECTORIA_SOURCE_DIR) + "/course/build " +
                                root + "program --tools " + LECTORIA_BIN_DIR + " > /dev/null";
    if (std::system(command.c_str()) != 0) return;
    root += "program/";
    client.SetLocalRoot(root);
    for (const Volume& v : kVolumes) {
      client.AddLocalLetter(v.letter, v.store.c_str());
      client.AddMount(v.store.c_str(), v.letter);
      TVolumen volume;
      if (!volume.Abrir(root + v.prefix)) return;
      List(volume, "/", v.letter, members, member_bytes);
      dat_bytes += fs::file_size(root + v.prefix + ".DAT");
    }
    ok = !members.empty();
  }
  ~Course() {
    if (!made.empty()) fs::remove_all(made);
  }
};

Course& Shared() {
  static Course course;
  return course;
}

void ReadMembers(benchmark::State& state) {
  Course& c = Shared();
  if (!c.ok) {
    state.SkipWithError("the sample course could not be built");
    return;
  }
  std::vector<char> buffer(kItem);
  for (auto _ : state) {
    uint64_t total = 0;
    for (const std::string& path : c.members) {
      TFicheroEHDD* file = c.client.Abrir(path.c_str(), 0);
      if (file == nullptr) {
        state.SkipWithError(("cannot open " + path).c_str());
        return;
      }
      for (;;) {
        const uint32_t got = c.client.Leer(buffer.data(), 1, kItem, file);
        if (got == 0) break;
        total += got;
      }
      c.client.Cerrar(file);
    }
    if (total != c.member_bytes) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.member_bytes));
  state.counters["members"] = static_cast<double>(c.members.size());
}

void BM_MembersThroughClient(benchmark::State& state) {
  ReadMembers(state);
}

// Runs after the others: once opened, the slot file stays open.
void BM_MembersThroughClientWithSlotFile(benchmark::State& state) {
  Course& c = Shared();
  if (c.ok && !TEHDDCache::Instance()->persistente()) {
    TEHDDCache::Instance()->Iniciar("alumno", 4000, c.root + "eHDD");
    if (!TEHDDCache::Instance()->persistente()) {
      state.SkipWithError("the slot file could not be made");
      return;
    }
  }
  ReadMembers(state);
}

void BM_DatFilesByRead(benchmark::State& state) {
  Course& c = Shared();
  if (!c.ok) {
    state.SkipWithError("the sample course could not be built");
    return;
  }
  std::vector<char> buffer(kItem);
  for (auto _ : state) {
    uint64_t total = 0;
    for (const Volume& v : kVolumes) {
      const int fd = open((c.root + v.prefix + ".DAT").c_str(), O_RDONLY);
      for (;;) {
        const ssize_t got = read(fd, buffer.data(), kItem);
        if (got <= 0) break;
        total += static_cast<uint64_t>(got);
      }
      close(fd);
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.dat_bytes));
}

}  // namespace

BENCHMARK(BM_MembersThroughClient)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DatFilesByRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MembersThroughClientWithSlotFile)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
