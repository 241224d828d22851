// The eHDD client in local mode: mounts, path resolution, plain files under
// the local root, plain local files, directories and the temp-folder copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ehdd/TEHDDClient.h"
#include "platform/FileIo.h"

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7) % 251);
  return s;
}

class LocalClientTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-client-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = std::string(pattern) + "/";
    client_.SetLocalRoot(root_);
    for (char letter : std::string("XMUYGS")) client_.AddLocalLetter(letter, "");
    client_.SetTempFolderForSync(root_ + "tmp/eHDD/");
    fs::create_directories(root_ + "tmp/eHDD");
  }
  void TearDown() override { fs::remove_all(root_); }

  // Builds the volume root_ + prefix from the folder root_ + src.
  int BuildVolume(const std::string& src, const std::string& prefix, uint32_t block = 0) {
    fs::create_directories(fs::path(root_ + prefix).parent_path());
    return std::system((std::string(LECTORIA_BIN_DIR) + "/ehdd-volume build " + root_ + src + " " +
                        root_ + prefix +
                        (block ? " --block-size " + std::to_string(block) : std::string()) +
                        " > /dev/null")
                           .c_str());
  }

  std::string ReadVirtual(const std::string& vpath, uint32_t chunk = 64000) {
    TFicheroEHDD* f = client_.Abrir(vpath.c_str(), 0);
    if (f == nullptr) return "<null>";
    std::string out;
    std::vector<char> buffer(chunk);
    for (;;) {
      uint32_t got = client_.Leer(buffer.data(), 1, chunk, f);
      if (got == 0) break;
      out.append(buffer.data(), got);
    }
    client_.Cerrar(f);
    return out;
  }

  std::string root_;
  TEHDDClient client_;
};

TEST(Mounts, ContainerEndingsAndReplacement) {
  TEHDDClient client;
  bool local = false;
  bool container = false;
  EXPECT_TRUE(client.Mount("data\\unit001.dat", 'U'));
  EXPECT_EQ(client.ResolvePath("U:\\Parte1\\texto.tae", &local, &container),
            "data/unit001#/PARTE1/TEXTO.TAE");
  EXPECT_TRUE(container);
  client.Mount("data\\unit001.DAT", 'U');
  EXPECT_EQ(client.ResolvePath("U:\\a", nullptr, &container), "data/unit001#/A");
  client.Mount("data\\unit001.Dat", 'U');  // only .dat and .DAT name a volume
  EXPECT_EQ(client.ResolvePath("U:\\a", nullptr, &container), "data/unit001.Dat/a");
  EXPECT_FALSE(container);
  client.Mount("data.dat\\x", 'V');
  EXPECT_EQ(client.ResolvePath("V:\\Audit.alu", nullptr, &container), "data.dat/x/Audit.alu");
  EXPECT_FALSE(container);
}

TEST(Mounts, UnmountedShortAndLowerCaseLettersStandAsGiven) {
  TEHDDClient client;
  client.Mount("data\\mcd01.dat", 'M');
  EXPECT_EQ(client.ResolvePath("M:"), "M:");
  EXPECT_EQ(client.ResolvePath("Q:\\A.TXT"), "Q:\\A.TXT");
  EXPECT_EQ(client.ResolvePath("m:\\x.png"), "m:\\x.png");
  // Upper-casing is ASCII only: bytes above 127 stay as they are.
  EXPECT_EQ(client.ResolvePath("M:\\datos\\\xe9x.png"), "data/mcd01#/DATOS/\xe9X.PNG");
}

TEST_F(LocalClientTest, PlainFileUnderTheRootReadSeekSizeClose) {
  const std::string body = Pattern(10000);
  WriteAll(root_ + "alumno/work/C001/AUDIT.ALU", body);
  client_.Mount("alumno\\work", 'S');
  TFicheroEHDD* f = client_.Abrir("S:\\C001\\AUDIT.ALU", 0);
  ASSERT_NE(f, nullptr);
  uint32_t length = 0, remaining = 0;
  client_.Size(f, length, remaining);
  EXPECT_EQ(length, 10000u);
  EXPECT_EQ(client_.Posicionar(f, 3995, 0), 0);
  char buf[100];
  ASSERT_EQ(client_.Leer(buf, 1, 100, f), 100u);  // crosses a 4000-byte block
  EXPECT_EQ(std::string(buf, 100), body.substr(3995, 100));
  EXPECT_EQ(client_.Posicion(f), 4095u);
  // Seeks: to the exact end is fine, one further is refused.
  EXPECT_EQ(client_.Posicionar(f, 10000, 0), 0);
  EXPECT_EQ(client_.Leer(buf, 1, 1, f), 0u);
  EXPECT_EQ(client_.Posicionar(f, 10001, 0), -1);
  EXPECT_EQ(client_.Posicion(f), 10000u);
  EXPECT_EQ(client_.Posicionar(f, 10, 2), 0);
  client_.Size(f, length, remaining);
  EXPECT_EQ(remaining, 10u);
  // Item size times count is counted in 64 bits and clamped to what remains.
  EXPECT_EQ(client_.Leer(buf, 0x10000, 0x10000, f), 10u);
  client_.Cerrar(f);
  // A closed file is refused everywhere.
  client_.Size(f, length, remaining);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(remaining, 0u);
  EXPECT_EQ(client_.Posicion(f), 0u);
  EXPECT_EQ(client_.Leer(buf, 1, 1, f), 0u);
  EXPECT_EQ(client_.Posicionar(f, 0, 0), 0);
  EXPECT_EQ(ReadVirtual("S:\\C001\\AUDIT.ALU", 1), body);  // byte by byte
  EXPECT_EQ(ReadVirtual("S:\\C001\\AUDIT.ALU", 7777), body);
}

TEST_F(LocalClientTest, WritesCreateAndDirectoriesAreMade) {
  client_.Mount("alumno\\work", 'S');
  client_.CrearDirectorio("\\C007\\\\sub", 'S');
  EXPECT_TRUE(fs::is_directory(root_ + "alumno/work/C007/sub"));
  TFicheroEHDD* f = client_.Crear("S:\\C007\\AUDIT.ALU");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(client_.Escribir("hola ", 5, f), 5u);
  EXPECT_EQ(client_.Escribir("mundo", 5, f), 5u);
  char c;
  EXPECT_EQ(client_.Leer(&c, 1, 1, f), 0u);  // open for writing: no reads
  client_.Cerrar(f);
  EXPECT_EQ(ReadAll(root_ + "alumno/work/C007/AUDIT.ALU"), "hola mundo");
  // A file open for reading takes no writes; a folder does not open as a file.
  f = client_.Abrir("S:\\C007\\AUDIT.ALU", 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(client_.Escribir("x", 1, f), 0u);
  client_.Cerrar(f);
  EXPECT_EQ(client_.Abrir("S:\\C007", 0), nullptr);
  EXPECT_EQ(client_.Abrir("S:\\C007\\none.txt", 0), nullptr);
  // Unmounted letters and volumes get no directories.
  client_.Mount("data\\unit001.dat", 'U');
  client_.CrearDirectorio("\\NEW", 'U');
  client_.CrearDirectorio("\\NEW", 'Q');
  EXPECT_FALSE(fs::exists(root_ + "data/unit001/NEW"));
}

TEST_F(LocalClientTest, ParentComponentsAreRefused) {
  WriteAll(root_ + "secret.txt", "x");
  client_.Mount("alumno\\work", 'S');
  EXPECT_EQ(client_.Abrir("S:\\..\\..\\secret.txt", 0), nullptr);
  EXPECT_EQ(client_.Crear("S:\\..\\..\\evil.txt"), nullptr);
  client_.CrearDirectorio("\\..\\..\\evil", 'S');
  EXPECT_FALSE(fs::exists(root_ + "evil"));
  EXPECT_FALSE(fs::exists(root_ + "evil.txt"));
}

TEST_F(LocalClientTest, PlainLocalSwitchBelongsToTheCallingThread) {
  WriteAll(root_ + "data/mcd01/X.TXT", "store");
  client_.Mount("data\\mcd01", 'M');
  const std::string plain = root_ + "plain.QOL";
  WriteAll(plain, "plain");

  std::atomic<int> stage{0};
  std::string other_thread_read;
  std::thread other([&] {
    while (stage.load() != 1) std::this_thread::yield();
    other_thread_read = ReadVirtual("M:\\X.TXT");
    stage = 2;
  });
  client_.SetPlainLocalFiles(true);
  EXPECT_EQ(ReadVirtual(plain), "plain");
  stage = 1;  // while this thread's switch is on, the other thread reads its store
  while (stage.load() != 2) std::this_thread::yield();
  other.join();
  client_.SetPlainLocalFiles(false);
  EXPECT_EQ(other_thread_read, "store");
  EXPECT_FALSE(fs::exists("M:\\X.TXT"));
  EXPECT_EQ(ReadVirtual(plain), "<null>");  // switch off: the path is resolved again
}

TEST_F(LocalClientTest, PlainLocalWriteAndSizeWithTheSwitch) {
  const std::string plain = root_ + "copy.QOR";
  client_.SetPlainLocalFiles(true);
  TFicheroEHDD* f = client_.Crear(plain.c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(client_.Escribir("0123456789", 10, f), 10u);
  client_.Cerrar(f);
  f = client_.Abrir(plain.c_str(), 0);
  ASSERT_NE(f, nullptr);
  uint32_t length = 0, remaining = 0;
  client_.Size(f, length, remaining);
  EXPECT_EQ(length, 10u);
  client_.Cerrar(f);
  client_.SetPlainLocalFiles(false);
}

TEST_F(LocalClientTest, SyncCopiesDownAndUpAndLeavesTheStoreAlone) {
  client_.Mount("alumno\\work", 'S');
  const std::string big = Pattern(40000);  // more than two copy chunks
  WriteAll(root_ + "alumno/work/C001/AUDIT.ALU", big);
  client_.SyncTempFile("S:\\C001\\AUDIT.ALU");
  EXPECT_EQ(ReadAll(root_ + "tmp/eHDD/AUDIT.ALU"), big);

  // Absent in the store: the local copy goes up.
  WriteAll(root_ + "tmp/eHDD/AUDIT.BKP", "backup");
  fs::create_directories(root_ + "alumno/work/C001");
  client_.SyncTempFile("S:\\C001\\AUDIT.BKP");
  EXPECT_EQ(ReadAll(root_ + "alumno/work/C001/AUDIT.BKP"), "backup");

  // Absent on both sides: nothing is created, nothing emptied.
  client_.SyncTempFile("S:\\C001\\NONE.ALU");
  EXPECT_FALSE(fs::exists(root_ + "alumno/work/C001/NONE.ALU"));

  // A path shorter than the part that is stripped uses its last component.
  WriteAll(root_ + "alumno/work/A.B", "ab");
  client_.SyncTempFile("S:\\A.B");
  EXPECT_EQ(ReadAll(root_ + "tmp/eHDD/A.B"), "ab");
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(LocalClientTest, SyncCopyDownIsWholeOrLeavesTheEarlierCopy) {
  client_.Mount("alumno\\work", 'S');
  const std::string big = Pattern(40000);
  WriteAll(root_ + "alumno/work/C001/AUDIT.ALU", big);
  WriteAll(root_ + "tmp/eHDD/AUDIT.ALU", "earlier copy");
  // The second chunk cannot be written (a full disk, say).
  platform::FileOps ops = platform::SystemFileOps();
  int writes = 0;
  ops.write_at = [&](int fd, const void* data, size_t n, off_t at) -> ssize_t {
    if (++writes == 2) {
      errno = ENOSPC;
      return -1;
    }
    return platform::SystemFileOps().write_at(fd, data, n, at);
  };
  platform::SetFileOpsForTesting(&ops);
  client_.SyncTempFile("S:\\C001\\AUDIT.ALU");
  platform::SetFileOpsForTesting(nullptr);
  EXPECT_EQ(writes, 2);
  EXPECT_EQ(ReadAll(root_ + "tmp/eHDD/AUDIT.ALU"), "earlier copy");
  EXPECT_EQ(Names(root_ + "tmp/eHDD"), std::vector<std::string>{"AUDIT.ALU"});  // no temporary left

  client_.SyncTempFile("S:\\C001\\AUDIT.ALU");
  EXPECT_EQ(ReadAll(root_ + "tmp/eHDD/AUDIT.ALU"), big);
  struct stat st {};
  ASSERT_EQ(stat((root_ + "tmp/eHDD/AUDIT.ALU").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Names(root_ + "tmp/eHDD"), std::vector<std::string>{"AUDIT.ALU"});
}

TEST_F(LocalClientTest, SyncFollowsNoLinkAndNeedsAFolderOfTheUsersOwn) {
  client_.Mount("alumno\\work", 'S');
  WriteAll(root_ + "victim", "precious");
  WriteAll(root_ + "alumno/work/C001/AUDIT.ALU", "new audit");
  fs::create_symlink(root_ + "victim", root_ + "tmp/eHDD/AUDIT.ALU");
  client_.SyncTempFile("S:\\C001\\AUDIT.ALU");
  EXPECT_EQ(ReadAll(root_ + "victim"), "precious");
  EXPECT_FALSE(fs::is_symlink(root_ + "tmp/eHDD/AUDIT.ALU"));
  EXPECT_EQ(ReadAll(root_ + "tmp/eHDD/AUDIT.ALU"), "new audit");

  // Upload: a link in the local copy's place is not read.
  fs::create_symlink(root_ + "victim", root_ + "tmp/eHDD/AUDIT.BKP");
  client_.SyncTempFile("S:\\C001\\AUDIT.BKP");
  EXPECT_FALSE(fs::exists(root_ + "alumno/work/C001/AUDIT.BKP"));

  // The folder itself a link: nothing is written through it.
  fs::create_directories(root_ + "elsewhere");
  fs::create_symlink(root_ + "elsewhere", root_ + "tmp/linked");
  client_.SetTempFolderForSync(root_ + "tmp/linked/");
  client_.SyncTempFile("S:\\C001\\AUDIT.ALU");
  EXPECT_FALSE(fs::exists(root_ + "elsewhere/AUDIT.ALU"));

  // A folder of another account is refused.
  if (geteuid() == 0) {
    fs::create_directories(root_ + "theirs");
    ASSERT_EQ(chown((root_ + "theirs").c_str(), 65534, 65534), 0);
    client_.SetTempFolderForSync(root_ + "theirs/");
    client_.SyncTempFile("S:\\C001\\AUDIT.ALU");
    EXPECT_FALSE(fs::exists(root_ + "theirs/AUDIT.ALU"));
  }
}

TEST_F(LocalClientTest, ForgottenFilesAreRefused) {
  WriteAll(root_ + "data/f/A.TXT", "abc");
  client_.Mount("data\\f", 'G');
  TFicheroEHDD* f = client_.Abrir("G:\\A.TXT", 0);
  ASSERT_NE(f, nullptr);
  client_.ForgetOpenFiles();
  char buf[4];
  EXPECT_EQ(client_.Leer(buf, 1, 3, f), 0u);
  client_.Cerrar(f);  // refused: nothing happens
}

}  // namespace

namespace {

// Members of local container volumes, built with ehdd-volume.
TEST_F(LocalClientTest, ContainerMembersReadLikeFiles) {
  WriteAll(root_ + "src/Datos/Skin.png", Pattern(9000));
  WriteAll(root_ + "src/empty.txt", "");
  ASSERT_EQ(BuildVolume("src", "data/mcd01", 512), 0);
  client_.Mount("data\\mcd01.dat", 'M');
  EXPECT_EQ(ReadVirtual("M:\\datos\\skin.png"), Pattern(9000));  // upper-cased inside the volume
  EXPECT_EQ(ReadVirtual("M:\\DATOS\\SKIN.PNG", 1).size(), 9000u);
  TFicheroEHDD* empty = client_.Abrir("M:\\EMPTY.TXT", 0);
  ASSERT_NE(empty, nullptr);
  uint32_t length = 9, remaining = 9;
  client_.Size(empty, length, remaining);
  EXPECT_EQ(length, 0u);
  client_.Cerrar(empty);
  EXPECT_EQ(client_.Abrir("M:\\NONE.PNG", 0), nullptr);
  EXPECT_EQ(client_.Abrir("M:\\DATOS", 0), nullptr);
  EXPECT_EQ(client_.Crear("M:\\NEW.TXT"), nullptr);  // volumes are never written
  client_.Mount("data\\missing.dat", 'Y');
  EXPECT_EQ(client_.Abrir("Y:\\A", 0), nullptr);
  // Seek into the last 10 bytes of a 4000-byte block, then 100 bytes.
  TFicheroEHDD* f = client_.Abrir("M:\\DATOS\\SKIN.PNG", 0);
  ASSERT_EQ(client_.Posicionar(f, 3990, 0), 0);
  char buf[100];
  ASSERT_EQ(client_.Leer(buf, 1, 100, f), 100u);
  EXPECT_EQ(std::string(buf, 100), Pattern(9000).substr(3990, 100));
  client_.Cerrar(f);
}

// A read made while a thread's own objects are being destroyed (the last
// audit saved from a static destructor at exit) still opens and reads: the
// scratch buffers a thread keeps for its reads may already be gone.
TEST_F(LocalClientTest, AReadFromAThreadsLastDestructorStillWorks) {
  WriteAll(root_ + "src/DATOS/SKIN.PNG", Pattern(9000));
  ASSERT_EQ(BuildVolume("src", "data/mcd01", 512), 0);
  client_.Mount("data\\mcd01.dat", 'M');
  std::string read_late;
  struct Late {
    std::function<void()> read;
    ~Late() { read(); }
  };
  std::thread([&] {
    // Made before the thread's first read, so destroyed after its scratch.
    thread_local Late late{[&] { read_late = ReadVirtual("M:\\DATOS\\SKIN.PNG", 1000); }};
    (void)late;
    EXPECT_EQ(ReadVirtual("M:\\DATOS\\SKIN.PNG").size(), 9000u);
  }).join();
  EXPECT_EQ(read_late, Pattern(9000));
}

// The ehdd command over the same client.
TEST_F(LocalClientTest, EhddCommand) {
  WriteAll(root_ + "alumno/work/C001/A.TXT", "hola");
  const std::string ehdd = std::string(LECTORIA_BIN_DIR) + "/ehdd --local-root " + root_ +
                           " --local S --mount S=alumno\\\\work ";
  const std::string out = root_ + "out.txt";
  EXPECT_EQ(std::system((ehdd + "cat 'S:\\C001\\A.TXT' > " + out).c_str()), 0);
  EXPECT_EQ(ReadAll(out), "hola");
  EXPECT_EQ(std::system((ehdd + "size 'S:\\C001\\A.TXT' > " + out).c_str()), 0);
  EXPECT_EQ(ReadAll(out), "4\n");
  EXPECT_EQ(
      std::system(
          (ehdd + "mkdir 'S:\\C002' && echo nuevo | " + ehdd + "put 'S:\\C002\\B.TXT'").c_str()),
      0);
  EXPECT_EQ(ReadAll(root_ + "alumno/work/C002/B.TXT"), "nuevo\n");
  EXPECT_NE(std::system((ehdd + "cat 'S:\\C001\\NONE.TXT' 2>/dev/null").c_str()), 0);
}

}  // namespace

namespace {

// With the memory level alone (16 blocks), fetching ahead pushes out the
// block a read started in; the read must still return every byte.
TEST_F(LocalClientTest, ReadsCrossingBlocksWithTheMemoryLevelAlone) {
  const std::string body = Pattern(300000);
  WriteAll(root_ + "data/f/BIG.BIN", body);
  client_.Mount("data\\f", 'G');
  for (uint32_t chunk : {4096u, 65000u}) {
    const std::string got = ReadVirtual("G:\\BIG.BIN", chunk);
    ASSERT_EQ(got.size(), body.size()) << chunk;
    size_t diff = 0;
    while (diff < got.size() && got[diff] == body[diff]) ++diff;
    EXPECT_EQ(diff, body.size()) << "chunk " << chunk << " differs at " << diff;
  }
}

}  // namespace

namespace {

// A folder mounted by its absolute name (what the tools do for a plain file)
// is read from that folder, not from under the local root.
TEST_F(LocalClientTest, AnAbsoluteFolderMountIsNotPutUnderTheRoot) {
  char pattern[] = "/tmp/lectoria-elsewhere-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string elsewhere = pattern;
  WriteAll(elsewhere + "/Doc.TAE", "outside");
  client_.Mount(elsewhere.c_str(), 'Q');
  client_.AddLocalLetter('Q', "");
  EXPECT_EQ(ReadVirtual("Q:\\Doc.TAE"), "outside");
  // A relative mount still lives under the root.
  WriteAll(root_ + "rel/Doc.TAE", "inside");
  client_.Mount("rel", 'R');
  client_.AddLocalLetter('R', "");
  EXPECT_EQ(ReadVirtual("R:\\Doc.TAE"), "inside");
  fs::remove_all(elsewhere);
}

}  // namespace

namespace {

// The local root is joined to store paths with one separator, whether or not
// it was given with one, so "--local-root DIR" and "DIR/" find the same files.
TEST_F(LocalClientTest, RootWithOrWithoutItsSeparatorFindsTheSameFiles) {
  WriteAll(root_ + "src/DATOS/A.TXT", "in a volume");
  WriteAll(root_ + "alumno/work/C001/AUDIT.ALU", "plain");
  ASSERT_EQ(BuildVolume("src", "data/mcd01"), 0);
  client_.Mount("data\\mcd01.dat", 'M');
  client_.Mount("alumno\\work", 'S');
  const std::string bare = root_.substr(0, root_.size() - 1);
  for (const std::string& root : {bare, bare + "/", bare + "//"}) {
    client_.SetLocalRoot(root);
    EXPECT_EQ(ReadVirtual("M:\\DATOS\\A.TXT"), "in a volume") << root;
    EXPECT_EQ(ReadVirtual("S:\\C001\\AUDIT.ALU"), "plain") << root;
    client_.CrearDirectorio("\\C009", 'S');
    EXPECT_TRUE(fs::is_directory(root_ + "alumno/work/C009")) << root;
    fs::remove_all(root_ + "alumno/work/C009");
  }
  // Nothing was looked for beside the root, under its name run together
  // with the store's.
  EXPECT_FALSE(fs::exists(bare + "alumno"));

  // The command-line tools take the root the same way.
  const std::string out = root_ + "out.txt";
  EXPECT_EQ(std::system((std::string(LECTORIA_BIN_DIR) + "/ehdd --local-root " + bare +
                         " --local M --mount M=data\\\\mcd01.dat cat 'M:\\DATOS\\A.TXT' > " + out)
                            .c_str()),
            0);
  EXPECT_EQ(ReadAll(out), "in a volume");
}

}  // namespace

namespace {

// Members of local volumes read through the client in items of any size,
// at the block sizes the course uses and the smallest ones, match the files:
// the blocks the client stores and copies out line up with the volume's.
TEST_F(LocalClientTest, VolumeMembersReadWholeInItemsOfAnySize) {
  const std::vector<uint32_t> sizes = {1, 3807, 3999, 4000, 4001, 64000, 64001, 150000};
  for (size_t i = 0; i < sizes.size(); ++i) {
    // The small volume blocks take the small files only (writing a volume
    // syncs every block).
    for (const char* src : {"src/", "small/"}) {
      if (src[1] == 'm' && sizes[i] > 5000) continue;
      WriteAll(root_ + src + "D/F" + std::to_string(i), Pattern(sizes[i]).substr(0, sizes[i]));
    }
  }
  for (uint32_t block : {512u, 1024u, 4096u}) {
    const std::string name = "data/v" + std::to_string(block);
    ASSERT_EQ(BuildVolume(block < 4096 ? "small" : "src", name, block), 0);
    client_.Mount((name + ".dat").c_str(), 'M');
    for (size_t i = 0; i < sizes.size(); ++i) {
      if (block < 4096 && sizes[i] > 5000) continue;
      const std::string path = "M:\\D\\F" + std::to_string(i);
      for (uint32_t item : {97u, 4000u, 50000u, 65000u}) {
        if (item < 4000 && sizes[i] > 5000) continue;  // small items: the small files
        ASSERT_EQ(ReadVirtual(path, item), Pattern(sizes[i]).substr(0, sizes[i]))
            << block << " " << path << " in items of " << item;
      }
    }
    if (block < 4096) continue;
    // A seek back into a block read before, and one far ahead.
    TFicheroEHDD* f = client_.Abrir("M:\\D\\F7", 0);
    ASSERT_NE(f, nullptr);
    std::vector<char> buf(5000);
    ASSERT_EQ(client_.Leer(buf.data(), 1, 5000, f), 5000u);
    ASSERT_EQ(client_.Posicionar(f, 3990, 0), 0);
    ASSERT_EQ(client_.Leer(buf.data(), 1, 20, f), 20u);
    EXPECT_EQ(std::string(buf.data(), 20), Pattern(150000).substr(3990, 20));
    ASSERT_EQ(client_.Posicionar(f, 149990, 0), 0);
    ASSERT_EQ(client_.Leer(buf.data(), 1, 5000, f), 10u);
    EXPECT_EQ(std::string(buf.data(), 10), Pattern(150000).substr(149990));
    client_.Cerrar(f);
  }
}

// A volume cut short beneath an open member: what is read is what the file
// held, the rest reads as nothing, and the process goes on.
TEST_F(LocalClientTest, AVolumeCutShortWhileOpenReadsNothingMore) {
  WriteAll(root_ + "src/BIG.BIN", Pattern(100000));
  ASSERT_EQ(BuildVolume("src", "data/cut"), 0);
  client_.Mount("data\\cut.dat", 'M');
  TFicheroEHDD* f = client_.Abrir("M:\\BIG.BIN", 0);
  ASSERT_NE(f, nullptr);
  std::vector<char> buf(1000);
  ASSERT_EQ(client_.Leer(buf.data(), 1, 1000, f), 1000u);
  EXPECT_EQ(std::string(buf.data(), 1000), Pattern(100000).substr(0, 1000));
  ASSERT_EQ(truncate((root_ + "data/cut.DAT").c_str(), 0), 0);
  ASSERT_EQ(client_.Posicionar(f, 80000, 0), 0);  // past what the cache holds
  EXPECT_EQ(client_.Leer(buf.data(), 1, 1000, f), 0u);
  client_.Cerrar(f);
  EXPECT_EQ(ReadVirtual("M:\\BIG.BIN"), "");
}

}  // namespace
