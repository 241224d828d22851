// The block cache: range bookkeeping, the two levels, persistence of the
// slot file across runs, damaged slot files and a writer killed mid-run.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "ehdd/TEHDDCache.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kB = TEHDDCache::kBloque;

// The bytes of block `index` of file `key`, so any block can be checked.
std::vector<unsigned char> BlockBytes(const std::string& key, uint32_t index) {
  std::vector<unsigned char> v(kB);
  uint32_t seed = index * 2654435761u + static_cast<uint32_t>(key.size()) * 97u + key[0];
  for (uint32_t i = 0; i < kB; ++i) v[i] = static_cast<unsigned char>((seed + i * 31) >> 3);
  return v;
}

void Store(TEHDDCache& cache, const std::string& key, uint32_t index) {
  auto bytes = BlockBytes(key, index);
  cache.EscribirRango(key, bytes.data(), index * kB, kB, kB);
}

bool Holds(TEHDDCache& cache, const std::string& key, uint32_t index) {
  std::vector<TRangoCache> entries;
  uint32_t first = 0;
  if (cache.ComprobarRango(key, entries, index * kB, 10, first) != 0) return false;
  unsigned char out[10];
  if (cache.LeerRango(key, index * kB, 10, entries, out) != 10) return false;
  auto bytes = BlockBytes(key, index);
  return std::memcmp(out, bytes.data(), 10) == 0;
}

class CacheTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-cache-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    TEHDDCache::Destroy();
    fs::remove_all(dir_);
  }
  std::string File(const std::string& name = "alumno") { return (dir_ / "eHDD" / name).string(); }
  fs::path dir_;
};

TEST_F(CacheTest, RangeEntries) {
  TEHDDCache cache;
  std::vector<TRangoCache> e;
  uint32_t first = 99;
  EXPECT_EQ(cache.ComprobarRango("k", e, 3995, 10, first), 2u);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].longitud, 4000u);
  EXPECT_EQ(e[1].longitud, 5u);
  EXPECT_EQ(e[1].posicion, 4000u);
  EXPECT_EQ(first, 0u);

  Store(cache, "k", 0);
  e.clear();
  EXPECT_EQ(cache.ComprobarRango("k", e, 0, 4000, first), 1u);  // block 1 listed with length 0
  ASSERT_EQ(e.size(), 2u);
  EXPECT_TRUE(e[0].presente);
  EXPECT_FALSE(e[1].presente);
  EXPECT_EQ(e[1].longitud, 0u);
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(cache.PrimerAusente(e), 1u);
}

TEST_F(CacheTest, WriteReadForgetAndCount) {
  TEHDDCache cache;
  ASSERT_EQ(cache.Iniciar("\\x\\alumno", 64, (dir_ / "eHDD").string()), 0);
  ASSERT_TRUE(cache.persistente());
  EXPECT_TRUE(fs::exists(File()));

  // 9000 bytes over three blocks; the last one's tail is zeros.
  std::vector<unsigned char> data(9000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i % 253);
  cache.EscribirRango("a", data.data(), 0, 9000, kB);
  std::vector<TRangoCache> e;
  uint32_t first = 0;
  EXPECT_EQ(cache.ComprobarRango("a", e, 3990, 5000, first), 0u);
  std::vector<unsigned char> out(5000);
  EXPECT_EQ(cache.LeerRango("a", 3990, 5000, e, out.data()), 5000u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin() + 3990));

  // A block already held keeps its bytes.
  std::vector<unsigned char> other(kB, 0xEE);
  cache.EscribirRango("a", other.data(), 0, kB, kB);
  e.clear();
  cache.ComprobarRango("a", e, 0, 4, first);
  EXPECT_EQ(cache.LeerRango("a", 0, 4, e, out.data()), 4u);
  EXPECT_EQ(out[1], 1);

  Store(cache, "b", 0);
  EXPECT_EQ(cache.BytesEnCache("a"), 3u * kB);
  cache.Olvidar("a");
  EXPECT_EQ(cache.BytesEnCache("a"), 0u);
  EXPECT_TRUE(Holds(cache, "b", 0));  // other files survive, now in the slot file
  EXPECT_EQ(cache.BytesEnCache("b"), kB);
  EXPECT_EQ(cache.memoria().count(), 1u);  // brought back by the read
}

TEST_F(CacheTest, MissingBlockEndsTheCopy) {
  TEHDDCache cache;
  Store(cache, "f", 0);
  Store(cache, "f", 2);  // block 1 missing
  std::vector<TRangoCache> e;
  uint32_t first = 0;
  EXPECT_EQ(cache.ComprobarRango("f", e, 0, 12000, first), 2u);  // blocks 1 and 3 (length 0)
  std::vector<unsigned char> out(12000, 0xAA);
  EXPECT_EQ(cache.LeerRango("f", 0, 12000, e, out.data()), kB);
  EXPECT_EQ(out[kB], 0xAA);  // nothing of block 2 where block 1 belongs
}

TEST_F(CacheTest, EvictionOrderAndWriteBack) {
  TEHDDCache cache;
  cache.Iniciar("alumno", 64, (dir_ / "eHDD").string());
  for (uint32_t i = 0; i < 16; ++i) Store(cache, "e", i);
  EXPECT_EQ(cache.slots().Indices("e").size(), 0u);
  EXPECT_TRUE(Holds(cache, "e", 0));  // block 0 becomes the newest
  Store(cache, "e", 16);              // the 17th pushes out block 1
  EXPECT_EQ(cache.slots().Indices("e"), std::vector<uint32_t>{1});
  EXPECT_TRUE(cache.memoria().Exists(TBlockStore::NombreBloque(0, "e")));
  EXPECT_FALSE(cache.memoria().Exists(TBlockStore::NombreBloque(1, "e")));
  EXPECT_TRUE(Holds(cache, "e", 1));             // found in the slot file, back in memory
  EXPECT_EQ(cache.BytesEnCache("e"), 17u * kB);  // held at both levels, counted once
}

TEST_F(CacheTest, SlotFileRingAndPersistence) {
  {
    TEHDDCache cache;
    cache.Iniciar("alumno", 8, (dir_ / "eHDD").string());
    EXPECT_EQ(fs::file_size(File()), 4u + 8u * TSlotFileStore::kRegistro);
    for (uint32_t i = 0; i < 16 + 10; ++i) Store(cache, "p", i);  // 10 evicted into 8 slots
    EXPECT_EQ(cache.slots().anillo(), 2u);
    EXPECT_FALSE(Holds(cache, "p", 0));  // overwritten in the ring
    EXPECT_FALSE(Holds(cache, "p", 1));
  }
  TEHDDCache again;
  again.Iniciar("alumno", 4, (dir_ / "eHDD").string());  // asks fewer: keeps all 8
  EXPECT_EQ(again.slots().registros(), 8u);
  EXPECT_EQ(again.slots().anillo(), 2u);
  for (uint32_t i = 2; i < 10; ++i) EXPECT_TRUE(Holds(again, "p", i)) << i;
}

TEST_F(CacheTest, BigSlotFileHasThePartsSize) {
  TEHDDCache cache;
  cache.Iniciar("alumno", 4000, (dir_ / "eHDD").string());
  EXPECT_EQ(fs::file_size(File()), 17040004u);
}

TEST_F(CacheTest, DamagedSlotFilesAreRepairedNotTrusted) {
  fs::create_directories(dir_ / "eHDD");
  auto reopen = [&](uint32_t records) {
    auto cache = std::make_unique<TEHDDCache>();
    cache->Iniciar("alumno", records, (dir_ / "eHDD").string());
    return cache;
  };
  // Shorter than its ring position, and a size with no whole record.
  std::ofstream(File(), std::ios::binary) << "ab";
  EXPECT_EQ(reopen(4)->slots().registros(), 4u);
  std::ofstream(File(), std::ios::binary) << std::string(100, 'x');
  EXPECT_EQ(reopen(4)->slots().registros(), 4u);

  // Fill it, then damage: a partial record at the end, a ring past the count
  // and a key with no terminator.
  {
    auto cache = reopen(4);
    for (uint32_t i = 0; i < 16 + 4; ++i) Store(*cache, "d", i);
  }
  {
    std::fstream f(File(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0);
    const char ring[4] = {'\x50', 0, 0, 0};
    f.write(ring, 4);
    f.seekp(4);
    f.write(std::string(256, 'K').data(), 256);  // record 0: a key without its zero
    f.seekp(0, std::ios::end);
    f.write("partial", 7);
  }
  auto cache = reopen(4);
  EXPECT_EQ(fs::file_size(File()), 4u + 4u * TSlotFileStore::kRegistro);
  EXPECT_EQ(cache->slots().anillo(), 0u);
  // The key without its terminator is not trusted: its record is freed.
  EXPECT_TRUE(cache->slots().Indices(std::string(TSlotFileStore::kMaxClave, 'K')).empty());
  EXPECT_FALSE(Holds(*cache, "d", 0));
  EXPECT_TRUE(Holds(*cache, "d", 1));
  cache.reset();
  std::ifstream in(File(), std::ios::binary);
  in.seekg(4);
  EXPECT_EQ(in.get(), 0);
}

// Blocks reach the slot file when the memory level lets them go: filling it
// with other blocks pushes every earlier one out.
void PushToSlots(TEHDDCache& cache) {
  for (uint32_t i = 0; i < TEHDDCache::kCapacidadMemoria; ++i) Store(cache, "zz", i);
}

// Where record r of a slot file starts, and the record that holds a block.
std::streamoff RecordAt(uint32_t r) {
  return 4 + static_cast<std::streamoff>(r) * TSlotFileStore::kRegistro;
}

int FindRecord(const std::string& file, const std::string& key, uint32_t index) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (uint32_t r = 0;
       RecordAt(r) + TSlotFileStore::kRegistro <= static_cast<std::streamoff>(bytes.size()); ++r) {
    const char* rec = bytes.data() + RecordAt(r);
    uint32_t stored = 0;
    std::memcpy(&stored, rec + TSlotFileStore::kClave, 4);
    if (std::strncmp(rec, key.c_str(), TSlotFileStore::kClave) == 0 && stored == index)
      return static_cast<int>(r);
  }
  return -1;
}

void Patch(const std::string& file, std::streamoff at, const std::string& bytes) {
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(at);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST_F(CacheTest, RecordsWhoseBytesDoNotMatchTheirCrcAreDroppedAndFetchedAgain) {
  {
    TEHDDCache cache;
    cache.Iniciar("alumno", 8, (dir_ / "eHDD").string());
    for (uint32_t i = 0; i < 5; ++i) Store(cache, "a", i);
    PushToSlots(cache);
  }
  const int stale = FindRecord(File(), "a", 1);  // a data page that never reached the disk
  const int moved = FindRecord(File(), "a", 2);  // an index from another write
  const int old = FindRecord(File(), "a", 3);    // written before records carried a CRC
  ASSERT_GE(stale, 0);
  ASSERT_GE(moved, 0);
  ASSERT_GE(old, 0);
  Patch(File(), RecordAt(stale) + TSlotFileStore::kClave + 4 + 3999, "\x7f");
  Patch(File(), RecordAt(moved) + TSlotFileStore::kClave, std::string("\x09\0\0\0", 4));
  Patch(File(), RecordAt(old) + TSlotFileStore::kClave - 4, std::string(4, '\0'));

  TEHDDCache cache;
  cache.Iniciar("alumno", 8, (dir_ / "eHDD").string());
  ASSERT_TRUE(cache.persistente());
  EXPECT_TRUE(Holds(cache, "a", 0));
  EXPECT_TRUE(Holds(cache, "a", 4));
  for (uint32_t i : {1u, 2u, 3u, 9u}) EXPECT_FALSE(Holds(cache, "a", i)) << i;
  std::ifstream on_disk(File(), std::ios::binary);
  for (int r : {stale, moved, old}) {
    on_disk.seekg(RecordAt(static_cast<uint32_t>(r)));
    EXPECT_EQ(on_disk.get(), 0) << "record " << r << " is freed";
  }
  EXPECT_EQ(cache.slots().Indices("a"), (std::vector<uint32_t>{0, 4}));
  // Fetched again, the block is kept as usual.
  Store(cache, "a", 1);
  EXPECT_TRUE(Holds(cache, "a", 1));
}

TEST_F(CacheTest, RingPositionAtTheRecordCountStartsAgainAtZero) {
  for (uint32_t ring : {3u, 4u}) {
    {
      TEHDDCache cache;
      cache.Iniciar("alumno", 4, (dir_ / "eHDD").string());
    }
    const char bytes[4] = {static_cast<char>(ring), 0, 0, 0};
    Patch(File(), 0, std::string(bytes, 4));
    TEHDDCache cache;
    cache.Iniciar("alumno", 4, (dir_ / "eHDD").string());
    EXPECT_EQ(cache.slots().anillo(), ring == 4 ? 0u : 3u) << ring;
  }
}

TEST_F(CacheTest, KeysUpToTheirFieldArePersistentLongerOnesStayInMemory) {
  const std::string fits(TSlotFileStore::kMaxClave, 'F');
  const std::string past(TSlotFileStore::kMaxClave + 1, 'P');
  {
    TEHDDCache cache;
    cache.Iniciar("alumno", 64, (dir_ / "eHDD").string());
    for (uint32_t i = 0; i < 20; ++i) {
      Store(cache, fits, i);
      Store(cache, past, i);
    }
    PushToSlots(cache);
  }
  TEHDDCache cache;
  cache.Iniciar("alumno", 64, (dir_ / "eHDD").string());
  EXPECT_EQ(cache.slots().Indices(fits).size(), 20u);
  EXPECT_TRUE(Holds(cache, fits, 0));
  EXPECT_TRUE(cache.slots().Indices(past).empty());
  EXPECT_FALSE(Holds(cache, past, 0));
}

TEST_F(CacheTest, OverlongKeysStayInMemory) {
  TEHDDCache cache;
  cache.Iniciar("alumno", 8, (dir_ / "eHDD").string());
  const std::string long_key(300, 'L');
  for (uint32_t i = 0; i < 20; ++i) Store(cache, long_key, i);
  EXPECT_EQ(cache.slots().Indices(long_key.substr(0, 255)).size(), 0u);
  EXPECT_TRUE(Holds(cache, long_key, 19));
}

TEST_F(CacheTest, SecondHolderRunsOnMemory) {
  TEHDDCache first;
  first.Iniciar("alumno", 8, (dir_ / "eHDD").string());
  ASSERT_TRUE(first.persistente());
  TEHDDCache second;
  second.Iniciar("alumno", 8, (dir_ / "eHDD").string());
  EXPECT_FALSE(second.persistente());
  Store(second, "m", 0);
  EXPECT_TRUE(Holds(second, "m", 0));
  second.Olvidar("m");
  EXPECT_FALSE(Holds(second, "m", 0));
}

TEST_F(CacheTest, UsableBeforeIniciarAndWithoutAFolder) {
  EXPECT_TRUE(Holds(*TEHDDCache::Instance(), "none", 0) == false);
  Store(*TEHDDCache::Instance(), "x", 3);
  EXPECT_TRUE(Holds(*TEHDDCache::Instance(), "x", 3));
  fs::create_directories(dir_ / "file-not-folder");
  std::ofstream(dir_ / "blocker") << "x";
  TEHDDCache cache;
  cache.Iniciar("alumno", 8, (dir_ / "blocker").string());
  EXPECT_FALSE(cache.persistente());
  fs::create_symlink(dir_ / "file-not-folder", dir_ / "link");
  cache.Iniciar("alumno", 8, (dir_ / "link").string());
  EXPECT_FALSE(cache.persistente());
}

TEST_F(CacheTest, WriterKilledMidRunLeavesOnlyWholeBlocks) {
  const std::string folder = (dir_ / "eHDD").string();
  // The writer says when it has stored well past its memory level (blocks
  // are in the slot file), then goes on writing until it is killed.
  int listo[2];
  ASSERT_EQ(pipe(listo), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    close(listo[0]);
    TEHDDCache cache;
    cache.Iniciar("alumno", 64, folder);
    for (uint32_t round = 0;; ++round) {
      for (const char* key : {"k1", "k2", "k3"}) Store(cache, key, round % 200);
      if (round == 100) {
        const char byte = 1;
        (void)!write(listo[1], &byte, 1);
      }
    }
  }
  close(listo[1]);
  pollfd espera{listo[0], POLLIN, 0};
  ASSERT_EQ(poll(&espera, 1, 20000), 1) << "the writer never got past its memory level";
  close(listo[0]);
  usleep(20 * 1000);  // killed in the middle of some later write
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  TEHDDCache cache;
  cache.Iniciar("alumno", 64, folder);
  ASSERT_TRUE(cache.persistente());
  int found = 0;
  for (const char* key : {"k1", "k2", "k3"}) {
    for (uint32_t index : cache.slots().Indices(key)) {
      std::vector<TRangoCache> e;
      uint32_t first = 0;
      ASSERT_EQ(cache.ComprobarRango(key, e, index * kB, kB - 1, first), 0u);
      std::vector<unsigned char> out(kB - 1);
      ASSERT_EQ(cache.LeerRango(key, index * kB, kB - 1, e, out.data()), kB - 1);
      auto expected = BlockBytes(key, index);
      EXPECT_TRUE(std::equal(out.begin(), out.end(), expected.begin())) << key << " " << index;
      ++found;
    }
  }
  EXPECT_GT(found, 0);
}

// Blocks a local store read are never written to the slot file, pushed out
// or flushed: they are read from the store again, and every open of their
// file forgets them there anyway. A server's blocks still go there.
TEST_F(CacheTest, ALocalStoresBlocksStayOutOfTheSlotFile) {
  TEHDDCache cache;
  cache.Iniciar("alumno", 64, (dir_ / "eHDD").string());
  unsigned char* buffers[20];
  cache.BuffersNuevos(buffers, 20);
  for (uint32_t b = 0; b < 20; ++b) std::memset(buffers[b], static_cast<int>('a' + b), kB);
  cache.GuardarBloques("local", 0, buffers, 20, 20 * kB);  // four pushed out
  EXPECT_TRUE(cache.slots().Indices("local").empty());
  std::vector<TRangoCache> entries;
  uint32_t first_missing = 0;
  EXPECT_EQ(cache.ComprobarRango("local", entries, 0, 20 * kB, first_missing), 5u);  // 0-3 and 20
  EXPECT_EQ(first_missing, 0u);
  unsigned char block[kB];
  entries.clear();
  ASSERT_EQ(cache.ComprobarRango("local", entries, 19 * kB, kB - 1, first_missing), 0u);
  ASSERT_EQ(cache.LeerRango("local", 19 * kB, kB - 1, entries, block), kB - 1);
  EXPECT_EQ(block[0], 'a' + 19);
  cache.Olvidar("other");  // flushes memory
  EXPECT_TRUE(cache.slots().Indices("local").empty());
  for (uint32_t i = 0; i < 17; ++i) Store(cache, "server", i);
  EXPECT_EQ(cache.slots().Indices("server"), std::vector<uint32_t>{0});
}

TEST(BlockStore, PutWithoutReplaceKeepsTheHeldBlock) {
  TMemoryBlockStore store(4);
  auto* a = new unsigned char[kB]();
  a[0] = 1;
  store.Put("0_k", a, kB, false);
  auto* b = new unsigned char[kB]();
  b[0] = 2;
  TBloqueCache* held = store.Put("0_k", b, kB, false);  // b is freed, a stays
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->datos[0], 1);
  auto* c = new unsigned char[kB]();
  c[0] = 3;
  EXPECT_EQ(store.Put("0_k", c, kB, true)->datos[0], 3);
  uint32_t index = 7;
  std::string key = "x";
  EXPECT_FALSE(TBlockStore::PartirNombre("nounderscore", index, key));
  EXPECT_EQ(index, 0u);
  EXPECT_TRUE(key.empty());
  EXPECT_TRUE(TBlockStore::PartirNombre("12_a_b", index, key));
  EXPECT_EQ(index, 12u);
  EXPECT_EQ(key, "a_b");
}

// Blocks stored by key and index are the blocks of their names, and a name
// that is not the one NombreBloque makes ("007_k") is a block of its own.
TEST_F(CacheTest, NamesAndKeyIndexFindTheSameBlocks) {
  TEHDDCache cache;
  Store(cache, "k", 7);
  EXPECT_TRUE(cache.memoria().Exists("7_k"));
  EXPECT_TRUE(cache.memoria().Exists(TBlockStore::NombreBloque(7, "k")));
  EXPECT_FALSE(cache.memoria().Exists("007_k"));
  auto* odd = new unsigned char[kB]();
  odd[0] = 0x5A;
  cache.memoria().Insert("007_k", odd, kB, true);
  EXPECT_TRUE(Holds(cache, "k", 7));  // still the block stored by key and index
  EXPECT_EQ(cache.memoria().Lookup("007_k")->datos[0], 0x5A);
  EXPECT_EQ(cache.memoria().count(), 2u);
  // Both count as block 7 of k where a name is split, as before.
  EXPECT_EQ(cache.BytesEnCache("k"), kB);
  cache.Olvidar("k");
  EXPECT_EQ(cache.memoria().count(), 0u);
}

// The memory level reuses its nodes and buffers: after many blocks through
// it, the 16 it holds carry their own bytes, and the tail of a block that
// is not full is zeros even in a buffer that held another block before.
TEST_F(CacheTest, ReusedNodesAndBuffersCarryOnlyTheirOwnBytes) {
  TEHDDCache cache;
  for (uint32_t i = 0; i < 1000; ++i)
    Store(cache, i % 3 == 0 ? "a" : (i % 3 == 1 ? "bb" : "ccc"), i);
  EXPECT_EQ(cache.memoria().count(), TEHDDCache::kCapacidadMemoria);
  for (uint32_t i = 1000 - 16; i < 1000; ++i) {
    EXPECT_TRUE(Holds(cache, i % 3 == 0 ? "a" : (i % 3 == 1 ? "bb" : "ccc"), i)) << i;
  }
  std::vector<unsigned char> full(kB, 0xFF);
  for (uint32_t i = 0; i < 16; ++i) cache.EscribirRango("ff", full.data(), i * kB, kB, kB);
  cache.Olvidar("ff");  // their buffers go back to be reused
  cache.EscribirRango("short", full.data(), 0, 10, kB);
  const TBloqueCache* block = cache.memoria().Lookup(TBlockStore::NombreBloque(0, "short"));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->datos[9], 0xFF);
  EXPECT_TRUE(
      std::all_of(block->datos + 10, block->datos + kB, [](unsigned char c) { return c == 0; }));
  // The same for blocks a local store filled in place.
  for (uint32_t i = 0; i < 16; ++i) cache.EscribirRango("ff", full.data(), i * kB, kB, kB);
  cache.Olvidar("ff");
  unsigned char* buffers[3];
  cache.BuffersNuevos(buffers, 3);
  for (unsigned char* b : buffers) std::memset(b, 0xEE, kB);
  cache.GuardarBloques("filled", 0, buffers, 3, kB + 5);  // the third is not needed
  block = cache.memoria().Lookup(TBlockStore::NombreBloque(1, "filled"));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->datos[4], 0xEE);
  EXPECT_TRUE(
      std::all_of(block->datos + 5, block->datos + kB, [](unsigned char c) { return c == 0; }));
  EXPECT_FALSE(cache.memoria().Exists(TBlockStore::NombreBloque(2, "filled")));
  EXPECT_EQ(cache.BytesEnCache("filled"), 2 * kB);
}

// A block written out to the slot file again with the bytes its record
// already holds leaves the record as it is; new bytes replace it, and
// either way the record is whole when the file is opened again.
TEST_F(CacheTest, ARecordWrittenAgainStaysWholeWithTheLatestBytes) {
  {
    TEHDDCache cache;
    cache.Iniciar("alumno", 8, (dir_ / "eHDD").string());
    Store(cache, "s", 0);
    Store(cache, "s", 1);
    cache.Olvidar("other");             // both into the slot file
    EXPECT_TRUE(Holds(cache, "s", 0));  // back in memory
    cache.Olvidar("other");             // out again: the same bytes
    EXPECT_EQ(cache.slots().anillo(), 2u);
    auto* changed = new unsigned char[kB]();
    changed[0] = 0x77;
    cache.memoria().Insert(TBlockStore::NombreBloque(1, "s"), changed, kB, true);
    cache.Olvidar("other");  // block 1 goes out with new bytes, in its own record
    EXPECT_EQ(cache.slots().anillo(), 2u);
  }
  TEHDDCache again;
  again.Iniciar("alumno", 8, (dir_ / "eHDD").string());
  EXPECT_TRUE(Holds(again, "s", 0));
  std::vector<TRangoCache> e;
  uint32_t first = 0;
  ASSERT_EQ(again.ComprobarRango("s", e, kB, 1, first), 0u);
  unsigned char out = 0;
  ASSERT_EQ(again.LeerRango("s", kB, 1, e, &out), 1u);
  EXPECT_EQ(out, 0x77);
}

// The slot file's CRC agrees with zlib's crc32 at every length around the
// sizes the fast paths fold (64 bytes and up in steps of 16, and 256 and
// up), from any running CRC.
TEST(SlotCrc, MatchesZlibAtEveryLength) {
  std::vector<unsigned char> bytes(TSlotFileStore::kRegistro + 64);
  uint32_t seed = 12345;
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<unsigned char>(seed >> 16);
  }
  for (size_t length : {0,   1,   15,  16,  63,  64,  65,  79,  80,   127,  128, 129,
                        200, 255, 256, 257, 320, 511, 512, 528, 4000, 4004, 4260}) {
    for (size_t at : {0, 1, 7}) {
      for (uint32_t start : {0u, 0xFFFFFFFFu, 0x12345678u}) {
        const uint32_t want = static_cast<uint32_t>(crc32(start, bytes.data() + at, length));
        EXPECT_EQ(TSlotFileStore::Crc32(start, bytes.data() + at, length), want)
            << length << " " << at << " " << start;
      }
    }
  }
  // Summed while copied: the same CRC, and the bytes copied exactly.
  for (size_t length : {0, 1, 63, 64, 255, 256, 257, 300, 4000, 4004}) {
    std::vector<unsigned char> copy(length + 8, 0xCC);
    EXPECT_EQ(TSlotFileStore::Crc32Copiando(7, copy.data() + 3, bytes.data() + 1, length),
              static_cast<uint32_t>(crc32(7, bytes.data() + 1, length)))
        << length;
    EXPECT_TRUE(std::equal(copy.begin() + 3, copy.begin() + 3 + length, bytes.begin() + 1));
    EXPECT_EQ(copy[2], 0xCC);
    EXPECT_EQ(copy[3 + length], 0xCC) << length;
  }
  // In pieces as in one call.
  const uint32_t whole = TSlotFileStore::Crc32(0, bytes.data(), 4004);
  EXPECT_EQ(
      TSlotFileStore::Crc32(TSlotFileStore::Crc32(0, bytes.data(), 100), bytes.data() + 100, 3904),
      whole);
}

// A record is checked the first time this process asks for it and trusted
// after, for as long as the mapping lives: bytes damaged on disk before the
// check make the block missing (fetched again); damaged after it, they are
// what the mapping shows and are handed out. The file is this process's
// own (it is locked against others), so only a fault outside the engine
// could change a checked record, and checking each read would cost a CRC
// per block for that alone.
TEST_F(CacheTest, ARecordIsCheckedOnceAndTrustedAfter) {
  const std::string folder = (dir_ / "eHDD").string();
  {
    TEHDDCache cache;
    cache.Iniciar("alumno", 8, folder);
    Store(cache, "c", 0);
    Store(cache, "c", 1);
    cache.Olvidar("other");  // both into records 0 and 1
  }
  auto damage = [&](uint32_t record, unsigned char value) {
    std::fstream f(File(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4 + record * TSlotFileStore::kRegistro + TSlotFileStore::kClave + 4 + 10);
    f.put(static_cast<char>(value));
  };
  damage(0, 0xA5);  // before this run has read it
  TEHDDCache cache;
  cache.Iniciar("alumno", 8, folder);
  ASSERT_TRUE(cache.persistente());
  std::vector<TRangoCache> e;
  uint32_t first = 9;
  EXPECT_EQ(cache.ComprobarRango("c", e, 0, 10, first), 1u);  // refused: fetched again
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(cache.slots().Indices("c"), std::vector<uint32_t>{1});
  EXPECT_EQ(cache.BytesEnCache("c"), kB);
  {
    std::ifstream in(File(), std::ios::binary);
    in.seekg(4);
    EXPECT_EQ(in.get(), 0);  // its record is free
  }
  ASSERT_TRUE(Holds(cache, "c", 1));  // checked now; a copy in memory
  cache.Olvidar("other");             // the copy leaves memory (the record holds it)
  damage(1, 0x5A);                    // after the check
  e.clear();
  ASSERT_EQ(cache.ComprobarRango("c", e, kB + 10, 1, first), 0u);
  unsigned char out = 0;
  ASSERT_EQ(cache.LeerRango("c", kB + 10, 1, e, &out), 1u);
  EXPECT_EQ(out, 0x5A);
}

// A block brought back from the slot file and pushed out of memory again is
// read back with its own bytes: in this run and the next, and also when the
// ring gave its record to another block while it sat in memory (then it is
// written out anew).
TEST_F(CacheTest, BlocksBackFromTheSlotFileReadTheSameAfterLeavingAgain) {
  const std::string folder = (dir_ / "eHDD").string();
  {
    TEHDDCache cache;
    cache.Iniciar("alumno", 64, folder);
    for (uint32_t i = 0; i < 20; ++i) Store(cache, "s", i);  // 0..3 to the slot file
    for (uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(Holds(cache, "s", i)) << i;
    for (uint32_t i = 0; i < 16; ++i) Store(cache, "t", i);  // all of "s" leaves memory
    EXPECT_EQ(cache.slots().anillo(), 20u);                  // 0..3 went out once
    for (uint32_t i = 0; i < 20; ++i) EXPECT_TRUE(Holds(cache, "s", i)) << i;
  }
  {
    TEHDDCache again;
    again.Iniciar("alumno", 64, folder);
    for (uint32_t i = 0; i < 20; ++i) EXPECT_TRUE(Holds(again, "s", i)) << i;
  }
  fs::remove(File());
  TEHDDCache cache;
  cache.Iniciar("alumno", 8, folder);
  for (uint32_t i = 0; i < 4; ++i) Store(cache, "r", i);
  cache.Olvidar("other");                                                   // records 0..3
  for (uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(Holds(cache, "r", i)) << i;  // back, unchanged
  // Eight other blocks go round the whole ring, taking the records of 0..3.
  for (uint32_t i = 0; i < 8; ++i) {
    auto bytes = BlockBytes("o", i);
    cache.slots().Insert(TBlockStore::NombreBloque(i, "o"), bytes.data(), kB, true);
  }
  EXPECT_TRUE(cache.slots().Indices("r").empty());
  for (uint32_t i = 0; i < 16; ++i) Store(cache, "p", i);  // 0..3 leave memory
  EXPECT_EQ(cache.slots().Indices("r"), (std::vector<uint32_t>{0, 1, 2, 3}));
  for (uint32_t i = 0; i < 4; ++i) EXPECT_TRUE(Holds(cache, "r", i)) << i;
}

}  // namespace
