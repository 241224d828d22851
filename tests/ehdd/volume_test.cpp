// Local volumes: round trips through ehdd-volume and the reader, damaged
// volumes made by patching good ones, and one volume pinned byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "ehdd/TBloqueDAT.h"
#include "ehdd/TCacheVolumenes.h"
#include "ehdd/TFicheroDAT.h"
#include "ehdd/TVolumen.h"

namespace fs = std::filesystem;
using volumen::GetU24;
using volumen::GetU32;
using volumen::PutU24;

namespace {

std::string Pattern(size_t n, int seed = 1) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 17) % 251);
  return s;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int Shell(const std::string& command) {
  return std::system((command + " 2>/dev/null").c_str());
}

class VolumeTest : public testing::Test {
 protected:
  static constexpr uint32_t kBlock = 512;
  static constexpr uint32_t kPayload = kBlock - 289;  // 223

  void SetUp() override {
    char pattern[] = "/tmp/lectoria-volume-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    tool_ = std::string(LECTORIA_BIN_DIR) + "/ehdd-volume";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A source tree covering the shapes worth checking, built at 512 bytes.
  std::string BuildSample() {
    const fs::path src = dir_ / "src";
    WriteFile(src / "Datos" / "Sub" / "deep.txt", "deep");
    WriteFile(src / "Datos" / "one.bin", Pattern(kPayload));
    WriteFile(src / "Datos" / "oneplus.bin", Pattern(kPayload + 1, 2));
    WriteFile(src / "Datos" / "big.bin", Pattern(5000, 3));
    WriteFile(src / "zero.txt", "");
    fs::create_directories(src / "empty");
    for (int i = 0; i < 100; ++i) {  // more children than one 512-byte block lists (74)
      WriteFile(src / "many" / ("f" + std::to_string(i)), std::to_string(i));
    }
    const std::string prefix = (dir_ / "vol").string();
    EXPECT_EQ(Shell(tool_ + " build " + src.string() + " " + prefix + " --block-size 512"), 0);
    return prefix;
  }

  std::string Cat(TVolumen& v, const std::string& path) {
    TFicheroVolumen r = v.AbrirFichero(path, "r", "YO");
    if (r.nombre.empty()) return "<fail>";
    std::string out;
    char buf[97];  // an odd size, to cross block ends mid-read
    for (;;) {
      int64_t got = v.Leer(r, buf, sizeof(buf));
      if (got <= 0) break;
      out.append(buf, static_cast<size_t>(got));
    }
    v.CerrarFichero(r);
    return out;
  }

  fs::path dir_;
  std::string tool_;
};

TEST_F(VolumeTest, RoundTripThroughTheTool) {
  const std::string prefix = BuildSample();
  TVolumen v;
  ASSERT_TRUE(v.Abrir(prefix));
  EXPECT_EQ(Cat(v, "/DATOS/SUB/DEEP.TXT"), "deep");
  EXPECT_EQ(Cat(v, "\\DATOS\\BIG.BIN"), Pattern(5000, 3));
  EXPECT_EQ(Cat(v, "/DATOS/ONE.BIN"), Pattern(kPayload));
  EXPECT_EQ(Cat(v, "/DATOS/ONEPLUS.BIN"), Pattern(kPayload + 1, 2));
  for (int i : {0, 42, 73, 74, 99})
    EXPECT_EQ(Cat(v, "/MANY/F" + std::to_string(i)), std::to_string(i));

  TFicheroVolumen one = v.AbrirFichero("/DATOS/ONE.BIN", "r", "YO");
  EXPECT_EQ(v.Size(one), kPayload);
  v.CerrarFichero(one);
  TFicheroVolumen plus = v.AbrirFichero("/DATOS/ONEPLUS.BIN", "r", "YO");
  EXPECT_EQ(v.Size(plus), kPayload + 1);
  v.CerrarFichero(plus);
  TFicheroVolumen zero = v.AbrirFichero("/ZERO.TXT", "r", "YO");
  EXPECT_EQ(v.Size(zero), 0);
  v.CerrarFichero(zero);

  uint32_t empty = 0;
  ASSERT_TRUE(v.BuscarDirectorio("/EMPTY", &empty));
  std::vector<TEntradaDirectorio> entries;
  EXPECT_TRUE(v.Listar(empty, "brief", entries));
  EXPECT_TRUE(entries.empty());

  // The tool lists and cats the same.
  EXPECT_EQ(Shell(tool_ + " list " + prefix + " /DATOS > " + (dir_ / "list").string()), 0);
  EXPECT_EQ(ReadFile(dir_ / "list"), "f 5000 BIG.BIN\nf 223 ONE.BIN\nf 224 ONEPLUS.BIN\nd 0 SUB\n");
  EXPECT_EQ(Shell(tool_ + " cat " + prefix + " /DATOS/BIG.BIN > " + (dir_ / "cat").string()), 0);
  EXPECT_EQ(ReadFile(dir_ / "cat"), Pattern(5000, 3));
}

// SOURCE_DATE_EPOCH stamps every block, so two builds of one folder are the
// same bytes; a value a header cannot hold is refused with the reason.
TEST_F(VolumeTest, SourceDateEpochMakesBuildsRepeatable) {
  const fs::path src = dir_ / "src";
  WriteFile(src / "Datos" / "big.bin", Pattern(5000, 3));
  WriteFile(src / "a.txt", "a");
  const std::string build = tool_ + " build " + src.string() + " ";
  const std::string epoch = "SOURCE_DATE_EPOCH=1700000000 ";
  fs::create_directories(dir_ / "one");
  fs::create_directories(dir_ / "two");
  ASSERT_EQ(Shell(epoch + build + (dir_ / "one" / "vol").string() + " --block-size 512"), 0);
  ASSERT_EQ(Shell("sleep 1.1"), 0);  // the clock would move by a second
  ASSERT_EQ(Shell(epoch + build + (dir_ / "two" / "vol").string() + " --block-size 512"), 0);
  EXPECT_EQ(ReadFile(dir_ / "one" / "vol.DAT"), ReadFile(dir_ / "two" / "vol.DAT"));
  EXPECT_EQ(ReadFile(dir_ / "one" / "vol.FAT"), ReadFile(dir_ / "two" / "vol.FAT"));
  const std::string dat = ReadFile(dir_ / "one" / "vol.DAT");
  ASSERT_GE(dat.size(), 2u * kBlock);
  for (size_t block = 0; block < dat.size() / kBlock; ++block) {
    const auto* header = reinterpret_cast<const unsigned char*>(dat.data() + block * kBlock);
    EXPECT_EQ(GetU32(header + 257), 1700000000u) << "created, block " << block;
    EXPECT_EQ(GetU32(header + 261), 1700000000u) << "modified, block " << block;
  }
  // The largest time a header holds is taken; one more is refused.
  EXPECT_EQ(Shell("SOURCE_DATE_EPOCH=4294967295 " + build + (dir_ / "max").string()), 0);
  const std::string out = (dir_ / "out").string();
  EXPECT_NE(std::system(
                ("SOURCE_DATE_EPOCH=4294967296 " + build + (dir_ / "over").string() + " 2> " + out)
                    .c_str()),
            0);
  EXPECT_EQ(ReadFile(out), "ehdd-volume: bad SOURCE_DATE_EPOCH '4294967296'\n");
  EXPECT_FALSE(fs::exists(dir_ / "over.FAT"));
}

TEST_F(VolumeTest, LookupFailures) {
  const std::string prefix = BuildSample();
  TVolumen v;
  ASSERT_TRUE(v.Abrir(prefix));
  EXPECT_EQ(v.AbrirFichero("/NONE", "r", "YO").nombre, "");
  EXPECT_EQ(v.ultimo_error(), TVolumen::Error::kNoEncontrado);
  EXPECT_EQ(v.AbrirFichero("DATOS/BIG.BIN", "r", "YO").nombre, "");   // no leading separator
  EXPECT_EQ(v.AbrirFichero("/datos/big.bin", "r", "YO").nombre, "");  // names are upper-case
  EXPECT_EQ(v.AbrirFichero("/ZERO.TXT/X", "r", "YO").nombre, "");     // through a file
  EXPECT_EQ(v.ultimo_error(), TVolumen::Error::kNoEsDirectorio);
  EXPECT_EQ(v.AbrirFichero("/DATOS", "r", "YO").nombre, "");  // a folder
  EXPECT_EQ(v.ultimo_error(), TVolumen::Error::kEsDirectorio);
  EXPECT_EQ(v.AbrirFichero("/DATOS/BIG.BIN", "w", "YO").nombre, "");  // never rewritten
  // A wrong owner opens, but reads nothing.
  TFicheroVolumen other = v.AbrirFichero("/DATOS/BIG.BIN", "r", "OTRO");
  char c;
  EXPECT_EQ(v.Leer(other, &c, 1), -1);
  EXPECT_NE(Shell(tool_ + " cat " + prefix + " /DATOS"), 0);
  EXPECT_NE(Shell(tool_ + " cat " + prefix + " /NONE"), 0);
  EXPECT_NE(Shell(tool_ + " list " + (dir_ / "missing").string()), 0);
}

TEST_F(VolumeTest, SeeksAcrossBlocksAndToTheEnd) {
  const std::string prefix = BuildSample();
  TVolumen v;
  ASSERT_TRUE(v.Abrir(prefix));
  const std::string big = Pattern(5000, 3);
  TFicheroVolumen r = v.AbrirFichero("/DATOS/BIG.BIN", "r", "YO");
  // The last 10 bytes of a block, then a read of 100: 10 + 90.
  EXPECT_EQ(v.Posicionar(r, kPayload - 10, 0), kPayload - 10);
  char buf[100];
  ASSERT_EQ(v.Leer(r, buf, 100), 100);
  EXPECT_EQ(std::string(buf, 100), big.substr(kPayload - 10, 100));
  EXPECT_EQ(v.Posicionar(r, 5001, 0), -1);
  EXPECT_EQ(v.Posicionar(r, -10, 2), static_cast<int64_t>(4990 % kPayload));
  ASSERT_EQ(v.Leer(r, buf, 100), 10);
  EXPECT_EQ(std::string(buf, 10), big.substr(4990));
  EXPECT_EQ(v.Posicionar(r, 1, 2), -1);
  v.CerrarFichero(r);

  // The exact end of a file that fills its one block: a read gives 0 bytes.
  TFicheroVolumen one = v.AbrirFichero("/DATOS/ONE.BIN", "r", "YO");
  EXPECT_GE(v.Posicionar(one, kPayload, 0), 0);
  EXPECT_EQ(v.Leer(one, buf, 100), 0);
  // A closed handle is refused.
  v.CerrarFichero(one);
  EXPECT_EQ(v.Leer(one, buf, 1), -1);
  EXPECT_EQ(v.Size(one), -1);
}

TEST_F(VolumeTest, HandleIdsWrapAndSkipOpenOnes) {
  const std::string prefix = BuildSample();
  TVolumen v;
  ASSERT_TRUE(v.Abrir(prefix));
  TFicheroVolumen a = v.AbrirFichero("/ZERO.TXT", "r", "YO");
  TFicheroVolumen b = v.AbrirFichero("/DATOS/BIG.BIN", "r", "YO");
  EXPECT_EQ(a.id, 0u);
  EXPECT_EQ(b.id, 1u);
  v.SetSiguienteIdParaPruebas(TVolumen::kUltimoId);
  TFicheroVolumen c = v.AbrirFichero("/DATOS/ONE.BIN", "r", "YO");
  TFicheroVolumen d = v.AbrirFichero("/DATOS/ONE.BIN", "r", "YO");
  EXPECT_EQ(c.id, TVolumen::kUltimoId);
  EXPECT_EQ(d.id, 2u);  // wrapped to 0, skipping 0 and 1 that are open
}

TEST_F(VolumeTest, CacheAnswersSizesAndKeepsVolumesApart) {
  const std::string prefix = BuildSample();
  // A second volume under another root with the same container path.
  WriteFile(dir_ / "src2" / "Datos" / "big.bin", "other");
  fs::create_directories(dir_ / "root2");
  ASSERT_EQ(
      Shell(tool_ + " build " + (dir_ / "src2").string() + " " + (dir_ / "root2" / "vol").string()),
      0);

  TCacheVolumenes* cache = TCacheVolumenes::Instance();
  std::string k1, k2, f1, f2;
  ASSERT_TRUE(cache->AbrirVolumen(prefix, k1));
  ASSERT_TRUE(cache->AbrirVolumen((dir_ / "root2" / "vol").string(), k2));
  int64_t size = 0;
  ASSERT_TRUE(cache->AbrirFichero(k1, "data/vol#/DATOS/BIG.BIN", "/DATOS/BIG.BIN", f1, &size));
  EXPECT_EQ(size, 5000);
  ASSERT_TRUE(cache->AbrirFichero(k2, "data/vol#/DATOS/BIG.BIN", "/DATOS/BIG.BIN", f2, &size));
  EXPECT_EQ(size, 5);
  EXPECT_NE(f1, f2);
  uint32_t count = 0;
  std::unique_ptr<unsigned char[]> bytes;
  ASSERT_TRUE(cache->LeerFichero(f2, count, bytes, 0, 100));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.get()), count), "other");
  ASSERT_TRUE(cache->LeerFichero(f1, count, bytes, 4990, 100));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.get()), count),
            Pattern(5000, 3).substr(4990));

  // Missing: false with -1, also the second time; empty: true with 0.
  std::string fk;
  EXPECT_FALSE(cache->AbrirFichero(k1, "data/vol#/NONE", "/NONE", fk, &size));
  EXPECT_EQ(size, -1);
  EXPECT_FALSE(cache->AbrirFichero(k1, "data/vol#/NONE", "/NONE", fk, &size));
  EXPECT_EQ(size, -1);
  EXPECT_TRUE(cache->AbrirFichero(k1, "data/vol#/ZERO.TXT", "/ZERO.TXT", fk, &size));
  EXPECT_EQ(size, 0);
  EXPECT_FALSE(cache->AbrirVolumen((dir_ / "nothing").string(), fk));
}

// Patches of a good volume: each must fail cleanly, never hang or crash.
class DamagedVolumeTest : public VolumeTest {
 protected:
  void SetUp() override {
    VolumeTest::SetUp();
    WriteFile(dir_ / "src" / "A" / "FILE.BIN", Pattern(2000));
    WriteFile(dir_ / "src" / "B.TXT", "b");
    prefix_ = (dir_ / "vol").string();
    ASSERT_EQ(
        Shell(tool_ + " build " + (dir_ / "src").string() + " " + prefix_ + " --block-size 512"),
        0);
    fat_ = ReadFile(prefix_ + ".FAT");
    dat_ = ReadFile(prefix_ + ".DAT");
    text_length_ = GetU32(reinterpret_cast<const unsigned char*>(fat_.data()) + 8);
    table_ = GetU32(reinterpret_cast<const unsigned char*>(fat_.data()) + 4);
  }
  // The key of /A/FILE.BIN in the volume cache, the volume at `prefix`.
  std::string CacheKey(const std::string& prefix) {
    TCacheVolumenes* cache = TCacheVolumenes::Instance();
    std::string volume_key, file_key;
    int64_t size = 0;
    EXPECT_TRUE(cache->AbrirVolumen(prefix, volume_key));
    EXPECT_TRUE(cache->AbrirFichero(volume_key, "x#/A/FILE.BIN", "/A/FILE.BIN", file_key, &size));
    return file_key;
  }
  // The first block of /A/FILE.BIN, found through a good volume.
  uint32_t FileBlock() {
    TVolumen v;
    EXPECT_TRUE(v.Abrir(prefix_));
    return v.AbrirFichero("/A/FILE.BIN", "r", "YO").bloque;
  }
  void Entry(uint32_t i, uint32_t value) {
    PutU24(reinterpret_cast<unsigned char*>(fat_.data()) + table_ + 3 * i, value);
  }
  void Save() {
    WriteFile(prefix_ + ".FAT", fat_);
    WriteFile(prefix_ + ".DAT", dat_);
  }
  // Opening, sizing and reading the file all end; the answer is a clean
  // failure or, at most, fewer bytes.
  void ExpectCleanFailure() {
    TVolumen v;
    if (v.Abrir(prefix_)) {
      TFicheroVolumen r = v.AbrirFichero("/A/FILE.BIN", "r", "YO");
      const int64_t size = v.Size(r);
      std::vector<char> buf(4000);
      const int64_t got = v.Leer(r, buf.data(), 4000);
      EXPECT_TRUE(size < 0 || got < 0 || got < 2000) << size << " " << got;
    }
    EXPECT_NE(Shell(tool_ + " cat " + prefix_ + " /A/FILE.BIN > /dev/null"), 0);
  }
  std::string prefix_, fat_, dat_;
  uint32_t text_length_ = 0, table_ = 0;
};

TEST_F(DamagedVolumeTest, ChainCycle) {
  uint32_t first = FileBlock();
  uint32_t second = GetU24(reinterpret_cast<const unsigned char*>(dat_.data()) + first * 512 + 283);
  Entry(second, first);  // the second block points back to the first
  Save();
  ExpectCleanFailure();
}

// The 'previous' links of two blocks name each other and the allocation
// table agrees both ways: the walk back to a file's first block goes round
// and round. It stops within the volume's block count and the volume is
// reported damaged.
TEST_F(DamagedVolumeTest, PreviousLinksThatLoopStopTheWalkAsDamage) {
  const uint32_t first = FileBlock();
  const uint32_t second =
      GetU24(reinterpret_cast<const unsigned char*>(dat_.data()) + first * 512 + 283);
  Entry(second, first);  // the table: second -> first, first -> second
  PutU24(reinterpret_cast<unsigned char*>(dat_.data()) + first * 512 + 280, second);
  PutU24(reinterpret_cast<unsigned char*>(dat_.data()) + second * 512 + 280, first);
  Save();
  TVolumen v;
  ASSERT_TRUE(v.Abrir(prefix_));
  TFicheroVolumen r = v.AbrirFichero("/A/FILE.BIN", "r", "YO");
  EXPECT_EQ(v.Size(r), -1);
  EXPECT_EQ(v.ultimo_error(), TVolumen::Error::kDanado);
  ExpectCleanFailure();
}

TEST_F(DamagedVolumeTest, EntryPastTheCount) {
  Entry(FileBlock(), 0xFFFFFE);
  Save();
  ExpectCleanFailure();
}

TEST_F(DamagedVolumeTest, OversizedUsed) {
  PutU24(reinterpret_cast<unsigned char*>(dat_.data()) + FileBlock() * 512 + 286, 5000);
  Save();
  ExpectCleanFailure();
}

TEST_F(DamagedVolumeTest, TruncatedDat) {
  dat_.resize(dat_.size() - 700);
  Save();
  ExpectCleanFailure();
}

TEST_F(DamagedVolumeTest, NameWithoutTerminator) {
  uint32_t first = FileBlock();
  std::fill_n(dat_.begin() + first * 512, 255, 'N');
  Save();
  ExpectCleanFailure();
}

TEST_F(DamagedVolumeTest, HeaderFieldsPastTheFile) {
  {
    std::string bad = fat_;
    volumen::PutU32(reinterpret_cast<unsigned char*>(bad.data()) + 8, 0xFFFFFF);  // text length
    WriteFile(prefix_ + ".FAT", bad);
    TVolumen v;
    EXPECT_FALSE(v.Abrir(prefix_));
  }
  {
    std::string bad = fat_;
    volumen::PutU32(reinterpret_cast<unsigned char*>(bad.data()) + 12 + text_length_, 289);
    WriteFile(prefix_ + ".FAT", bad);
    TVolumen v;
    EXPECT_FALSE(v.Abrir(prefix_));  // block size of 289: no payload
  }
  {
    std::string bad = fat_;
    bad[3] = 3;  // version
    WriteFile(prefix_ + ".FAT", bad);
    TVolumen v;
    EXPECT_FALSE(v.Abrir(prefix_));
  }
  EXPECT_NE(Shell(tool_ + " list " + prefix_), 0);
}

// A volume written by hand from the format, so the writer and the reader
// cannot drift together: block size 300 (11 bytes of payload), a root with
// one file "HI" of 13 bytes in blocks 1 and 2.
TEST_F(VolumeTest, PinnedVolumeReads) {
  std::string fat;
  fat += "FAT";
  fat += '\x02';
  const std::string text = "<VOLUMEN>P</VOLUMEN><TIPO>F";
  auto u32 = [](uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  fat +=
      u32(20 + static_cast<uint32_t>(text.size())) + u32(static_cast<uint32_t>(text.size())) + text;
  fat += u32(300) + u32(3);
  fat += std::string(
      "\x00\x00\x00"
      "\x02\x00\x00"
      "\x02\x00\x00",
      9);
  std::string dat(900, '\0');
  auto header = [&](uint32_t block, const char* name, char kind, uint32_t prev, uint32_t next,
                    uint32_t used) {
    char* h = dat.data() + block * 300;
    std::memcpy(h, name, std::strlen(name));
    h[255] = kind;
    std::memcpy(h + 265, "YO", 2);
    PutU24(reinterpret_cast<unsigned char*>(h) + 280, prev);
    PutU24(reinterpret_cast<unsigned char*>(h) + 283, next);
    PutU24(reinterpret_cast<unsigned char*>(h) + 286, used);
  };
  header(0, "/", 1, 0, 0, 3);
  PutU24(reinterpret_cast<unsigned char*>(dat.data()) + 289, 1);  // root lists block 1
  header(1, "HI", 0, 0, 2, 11);
  std::memcpy(dat.data() + 300 + 289, "hello, worl", 11);
  header(2, "HI", 0, 1, 0, 2);
  std::memcpy(dat.data() + 600 + 289, "d!", 2);
  WriteFile(dir_ / "pin.FAT", fat);
  WriteFile(dir_ / "pin.DAT", dat);

  TVolumen v;
  ASSERT_TRUE(v.Abrir((dir_ / "pin").string()));
  EXPECT_EQ(Cat(v, "/HI"), "hello, world!");
  TFicheroVolumen r = v.AbrirFichero("/HI", "r", "YO");
  EXPECT_EQ(v.Size(r), 13);
  EXPECT_EQ(v.Posicionar(r, 12, 0), 1);
  char c = 0;
  EXPECT_EQ(v.Leer(r, &c, 1), 1);
  EXPECT_EQ(c, '!');
  v.CerrarFichero(r);
  // The writer's output for the same content reads the same way.
  WriteFile(dir_ / "pinsrc" / "HI", "hello, world!");
  ASSERT_EQ(Shell(tool_ + " build " + (dir_ / "pinsrc").string() + " " + (dir_ / "pin2").string() +
                  " --block-size 300"),
            0);
  EXPECT_EQ(ReadFile(dir_ / "pin2.FAT").substr(0, 4), "FAT\x02");
  TVolumen w;
  ASSERT_TRUE(w.Abrir((dir_ / "pin2").string()));
  EXPECT_EQ(Cat(w, "/HI"), "hello, world!");
}

// A volume written by hand with the given block size: a root listing one
// file "X.BIN" of 5 bytes in block 1. The .DAT is sparse, so block sizes of
// megabytes cost nothing on disk.
void WriteTinyVolume(const std::string& prefix, uint32_t block_size) {
  auto u32 = [](uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  const std::string text = "<VOLUMEN>T</VOLUMEN>";
  std::string fat = std::string("FAT\x02", 4) + u32(20 + static_cast<uint32_t>(text.size())) +
                    u32(static_cast<uint32_t>(text.size())) + text + u32(block_size) + u32(2);
  fat += std::string("\x00\x00\x00\x01\x00\x00", 6);
  WriteFile(prefix + ".FAT", fat);
  auto header = [](const char* name, char kind, uint32_t used) {
    std::string h(289, '\0');
    std::memcpy(h.data(), name, std::strlen(name));
    h[255] = kind;
    std::memcpy(h.data() + 265, "YO", 2);
    PutU24(reinterpret_cast<unsigned char*>(h.data()) + 286, used);
    return h;
  };
  std::ofstream dat(prefix + ".DAT", std::ios::binary | std::ios::trunc);
  dat << header("/", 1, 3) << std::string("\x01\x00\x00", 3);
  dat.seekp(block_size);
  dat << header("X.BIN", 0, 5) << "hello";
  dat.close();
  fs::resize_file(prefix + ".DAT", 2ull * block_size);
}

TEST_F(VolumeTest, BlockSizesUpToTheLargestAUsedCountCanFill) {
  const uint32_t largest = 289 + 0xFFFFFF;
  ASSERT_EQ(volumen::kMaxTamBloque, largest);
  const std::string at = (dir_ / "at").string();
  WriteTinyVolume(at, largest);
  TVolumen v;
  ASSERT_TRUE(v.Abrir(at));
  EXPECT_EQ(Cat(v, "/X.BIN"), "hello");

  const std::string past = (dir_ / "past").string();
  WriteTinyVolume(past, largest + 1);
  TVolumen w;
  EXPECT_FALSE(w.Abrir(past));
  EXPECT_EQ(w.ultimo_error(), TVolumen::Error::kDanado);
  TVolumen absent;
  EXPECT_FALSE(absent.Abrir((dir_ / "none").string()));
  EXPECT_EQ(absent.ultimo_error(), TVolumen::Error::kNoEncontrado);

  // The writer makes nothing the reader would refuse.
  EXPECT_TRUE(TFicheroFAT::Crear((dir_ / "w.FAT").string(), "W", false, largest));
  EXPECT_FALSE(TFicheroFAT::Crear((dir_ / "w2.FAT").string(), "W", false, largest + 1));
  WriteFile(dir_ / "src" / "A", "a");
  EXPECT_NE(Shell(tool_ + " build " + (dir_ / "src").string() + " " + (dir_ / "big").string() +
                  " --block-size " + std::to_string(largest + 1)),
            0);
  EXPECT_FALSE(fs::exists(dir_ / "big.FAT"));
}

TEST_F(DamagedVolumeTest, UsedCountEqualToThePayloadReadsAndOneMoreIsDamage) {
  TVolumen good;
  ASSERT_TRUE(good.Abrir(prefix_));
  TFicheroVolumen r = good.AbrirFichero("/A/FILE.BIN", "r", "YO");
  const uint32_t first = r.bloque;
  // 2000 bytes over 223-byte payloads: the ninth block holds the last 216.
  uint32_t last = first;
  for (int i = 0; i < 8; ++i) {
    last = GetU24(reinterpret_cast<const unsigned char*>(dat_.data()) + last * 512 + 283);
  }
  ASSERT_EQ(GetU24(reinterpret_cast<const unsigned char*>(dat_.data()) + last * 512 + 286), 216u);
  const std::string original = dat_;

  PutU24(reinterpret_cast<unsigned char*>(dat_.data()) + last * 512 + 286, kPayload);
  Save();
  {
    TVolumen v;
    ASSERT_TRUE(v.Abrir(prefix_));
    TFicheroVolumen f = v.AbrirFichero("/A/FILE.BIN", "r", "YO");
    EXPECT_EQ(v.Size(f), 8 * kPayload + kPayload);
    std::vector<char> buf(4000);
    EXPECT_EQ(v.Leer(f, buf.data(), 4000), 9 * kPayload);
  }
  PutU24(reinterpret_cast<unsigned char*>(dat_.data()) + last * 512 + 286, kPayload + 1);
  Save();
  {
    TVolumen v;
    ASSERT_TRUE(v.Abrir(prefix_));
    TFicheroVolumen f = v.AbrirFichero("/A/FILE.BIN", "r", "YO");
    EXPECT_EQ(v.Size(f), -1);
    EXPECT_EQ(v.ultimo_error(), TVolumen::Error::kDanado);
    std::vector<char> buf(4000);
    v.Posicionar(f, 0, 0);
    EXPECT_EQ(v.Leer(f, buf.data(), 4000), -1);
    EXPECT_EQ(v.ultimo_error(), TVolumen::Error::kDanado);
  }
  dat_ = original;
}

TEST_F(DamagedVolumeTest, NameWithoutTerminatorInTheSecondBlockStopsTheReadThere) {
  const uint32_t first = FileBlock();
  const uint32_t second =
      GetU24(reinterpret_cast<const unsigned char*>(dat_.data()) + first * 512 + 283);
  std::fill_n(dat_.begin() + second * 512, 255, 'N');
  Save();
  TVolumen v;
  ASSERT_TRUE(v.Abrir(prefix_));
  TFicheroVolumen f = v.AbrirFichero("/A/FILE.BIN", "r", "YO");
  ASSERT_FALSE(f.nombre.empty());  // the first block is sound: the file is found
  std::vector<char> buf(kPayload);
  EXPECT_EQ(v.Leer(f, buf.data(), kPayload), kPayload);  // the whole first block
  EXPECT_EQ(v.Leer(f, buf.data(), 1), -1);
  EXPECT_EQ(v.ultimo_error(), TVolumen::Error::kDanado);
}

TEST_F(DamagedVolumeTest, DatShorterThanTheUsedCountIsDamage) {
  // Cut the file inside the payload of B.TXT's only block, which holds 1 byte.
  TVolumen good;
  ASSERT_TRUE(good.Abrir(prefix_));
  const uint32_t b = good.AbrirFichero("/B.TXT", "r", "YO").bloque;
  good.Cerrar();
  dat_.resize(b * 512 + 289 + 1);  // exactly the byte in use: still readable
  Save();
  {
    TVolumen v;
    ASSERT_TRUE(v.Abrir(prefix_));
    EXPECT_EQ(Cat(v, "/B.TXT"), "b");
  }
  dat_.resize(b * 512 + 289);  // the byte in use is gone
  Save();
  TVolumen v;
  ASSERT_TRUE(v.Abrir(prefix_));
  TFicheroVolumen f = v.AbrirFichero("/B.TXT", "r", "YO");
  char c = 0;
  EXPECT_EQ(v.Leer(f, &c, 1), -1);
  EXPECT_EQ(v.ultimo_error(), TVolumen::Error::kDanado);
}

TEST(BlockHeader, NamesAndOwnersUpToTheirFieldsLessTheTerminator) {
  unsigned char bytes[289];
  TBloqueDAT h;
  h.nombre = std::string(254, 'N');
  h.propietario = std::string(14, 'O');
  h.usado = 4096 - 289;
  ASSERT_TRUE(h.Serialize(bytes));
  TBloqueDAT back;
  ASSERT_TRUE(back.Parse(bytes, 4096));
  EXPECT_EQ(back.nombre, h.nombre);
  EXPECT_EQ(back.propietario, h.propietario);
  EXPECT_EQ(back.usado, 4096u - 289u);
  h.nombre += 'N';  // 255: no room for the terminator
  EXPECT_FALSE(h.Serialize(bytes));
  h.nombre.pop_back();
  h.propietario += 'O';
  EXPECT_FALSE(h.Serialize(bytes));
  // An owner field without its terminator is damage.
  h.propietario.pop_back();
  ASSERT_TRUE(h.Serialize(bytes));
  bytes[265 + 14] = 'O';
  EXPECT_FALSE(back.Parse(bytes, 4096));
  // A used count one past the payload is damage.
  bytes[265 + 14] = 0;
  PutU24(bytes + 286, 4096 - 289 + 1);
  EXPECT_FALSE(back.Parse(bytes, 4096));
}

}  // namespace

namespace {

// Reads through the volume cache, which follow a file's allocation chain
// straight out of the mapped .DAT: every offset and length gives the file's
// own bytes, at any block size, into one buffer or into 4000-byte pieces.
TEST_F(VolumeTest, CacheReadsGiveTheFileAtAnyOffsetBlockSizeAndDestination) {
  TCacheVolumenes* cache = TCacheVolumenes::Instance();
  for (uint32_t block : {300u, 512u, 1024u, 4096u}) {
    const uint32_t payload = block - 289;
    // Writing a volume syncs every block: the large files go to the large
    // blocks only.
    std::vector<uint32_t> sizes = {1, payload, payload + 1, 3 * payload};
    if (block >= 1024) sizes.insert(sizes.end(), {9000, 20000});
    const fs::path src = dir_ / ("src" + std::to_string(block));
    for (size_t i = 0; i < sizes.size(); ++i) {
      WriteFile(src / "D" / ("F" + std::to_string(i)), Pattern(sizes[i], static_cast<int>(i)));
    }
    const std::string prefix = (dir_ / ("v" + std::to_string(block))).string();
    ASSERT_EQ(Shell(tool_ + " build " + src.string() + " " + prefix + " --block-size " +
                    std::to_string(block)),
              0);
    std::string volume_key;
    ASSERT_TRUE(cache->AbrirVolumen(prefix, volume_key));
    for (size_t i = 0; i < sizes.size(); ++i) {
      const std::string inner = "/D/F" + std::to_string(i);
      const std::string body = Pattern(sizes[i], static_cast<int>(i));
      std::string file_key;
      int64_t size = 0;
      ASSERT_TRUE(cache->AbrirFichero(volume_key, "v#" + inner, inner, file_key, &size));
      ASSERT_EQ(size, sizes[i]);
      for (uint32_t offset : {0u, 1u, payload - 1, payload, payload + 1, 3999u, 4000u, sizes[i]}) {
        if (offset > sizes[i]) continue;
        for (uint32_t length : {1u, payload, 4000u, 64000u}) {
          const std::string want = body.substr(offset, length);
          uint32_t count = 0;
          std::unique_ptr<unsigned char[]> bytes;
          ASSERT_TRUE(cache->LeerFichero(file_key, count, bytes, offset, length));
          ASSERT_EQ(std::string(reinterpret_cast<char*>(bytes.get()), count), want)
              << block << " " << inner << " at " << offset << " for " << length;
          // The same into pieces of a block each.
          std::vector<std::vector<unsigned char>> pieces(17, std::vector<unsigned char>(4000));
          std::vector<unsigned char*> pointers;
          for (auto& piece : pieces) pointers.push_back(piece.data());
          const TDestinoLectura destino{pointers.data(), pointers.size(), 4000};
          ASSERT_TRUE(cache->LeerFicheroEn(file_key, count, destino, offset, length));
          std::string joined;
          for (auto& piece : pieces) joined.append(piece.begin(), piece.end());
          ASSERT_EQ(joined.substr(0, count), want) << block << " " << inner << " at " << offset;
        }
      }
    }
  }
}

// Damage met by a read through the volume cache, which relies on the links
// of the blocks it moves past: the bytes up to the damaged block read, a
// read that needs it gives nothing.
TEST_F(DamagedVolumeTest, ReadsThroughTheCacheStopAtLinksThatDisagreeAndShortBlocks) {
  const uint32_t first = FileBlock();
  const uint32_t second =
      GetU24(reinterpret_cast<const unsigned char*>(dat_.data()) + first * 512 + 283);
  auto read = [&](const std::string& tag, uint32_t offset, uint32_t length) {
    const std::string prefix = (dir_ / tag).string();
    WriteFile(prefix + ".FAT", fat_);
    WriteFile(prefix + ".DAT", dat_);
    uint32_t count = 0;
    std::unique_ptr<unsigned char[]> bytes;
    EXPECT_TRUE(
        TCacheVolumenes::Instance()->LeerFichero(CacheKey(prefix), count, bytes, offset, length));
    return std::string(reinterpret_cast<char*>(bytes.get()), count);
  };
  const std::string original = dat_;
  const std::string body = Pattern(2000);

  // The first block's link names another block than the allocation table.
  PutU24(reinterpret_cast<unsigned char*>(dat_.data()) + first * 512 + 283, second + 1);
  EXPECT_EQ(read("links", 0, kPayload), body.substr(0, kPayload));  // never moves on
  EXPECT_EQ(read("links2", 0, kPayload + 1), "");
  dat_ = original;

  // A block left behind must be full: one byte short is damage.
  PutU24(reinterpret_cast<unsigned char*>(dat_.data()) + first * 512 + 286, kPayload - 1);
  EXPECT_EQ(read("short", 0, kPayload - 1), body.substr(0, kPayload - 1));
  EXPECT_EQ(read("short2", 0, kPayload), "");
  dat_ = original;

  // The block a read starts in must carry the file's owner; the blocks it
  // only passes through are checked for soundness.
  std::memcpy(dat_.data() + second * 512 + 265, "XX", 2);
  EXPECT_EQ(read("owner", 0, 300), body.substr(0, 300));
  EXPECT_EQ(read("owner2", kPayload, 10), "");
  dat_ = original;
  std::fill_n(dat_.begin() + second * 512, 255, 'N');  // no terminator in the second block
  EXPECT_EQ(read("name", 0, kPayload), body.substr(0, kPayload));
  EXPECT_EQ(read("name2", 0, kPayload + 1), "");
  dat_ = original;
}

// A .DAT cut short by another process while it is mapped: reads through the
// mapping fail like damage instead of ending the process with a bus error.
TEST_F(DamagedVolumeTest, DatCutShortWhileMappedFailsCleanly) {
  TVolumen v;
  ASSERT_TRUE(v.Abrir(prefix_));
  TCacheVolumenes* cache = TCacheVolumenes::Instance();
  const std::string file_key = CacheKey(prefix_);
  uint32_t count = 0;
  std::unique_ptr<unsigned char[]> bytes;
  ASSERT_TRUE(cache->LeerFichero(file_key, count, bytes, 0, 2000));
  ASSERT_EQ(count, 2000u);
  TFicheroVolumen r = v.AbrirFichero("/A/FILE.BIN", "r", "YO");
  ASSERT_FALSE(r.nombre.empty());

  // Emptied: every page of the mapping now lies past the end of the file.
  ASSERT_EQ(truncate((prefix_ + ".DAT").c_str(), 0), 0);
  ASSERT_TRUE(cache->LeerFichero(file_key, count, bytes, 0, 2000));
  EXPECT_EQ(count, 0u);
  std::vector<char> buf(2000);
  EXPECT_EQ(v.Leer(r, buf.data(), 2000), -1);
  EXPECT_EQ(v.ultimo_error(), TVolumen::Error::kDanado);
}

}  // namespace
