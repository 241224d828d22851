// Pack archives made with velarno-pack: plain zips, zips behind a prefix,
// aliases, reads across a member's end, and damaged packs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/qorFileManager.h"
#include "host/qorZipManager.h"

namespace fs = std::filesystem;

namespace {

class PackTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-pack-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "src" / "sub");
    Write("src/texts.txt", "linea 1\r\nlinea 2\r\n");
    Write("src/sub/a.txt", std::string(5000, 'a'));
    Write("src/pic.png", std::string(300, 'p'));  // stored, not deflated
    SetPackTrace(nullptr);
  }
  void TearDown() override {
    SetPackTrace(stdout);
    fs::remove_all(dir_);
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream((dir_ / name).string(), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) {
    std::ifstream in((dir_ / name).string(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  std::string Build(const std::string& name, int prefix = 0) {
    std::string command = std::string(LECTORIA_BIN_DIR) + "/velarno-pack build " +
                          (dir_ / name).string() + " " + (dir_ / "src").string();
    if (prefix) command += " --prefix-bytes " + std::to_string(prefix);
    EXPECT_EQ(std::system(command.c_str()), 0);
    return (dir_ / name).string();
  }
  std::string Member(qorFileManager& files, const std::string& path) {
    std::unique_ptr<unsigned char[]> bytes;
    uint32_t length = 0;
    if (!files.ReadWholeFile(path, bytes, length)) return "<none>";
    return std::string(reinterpret_cast<char*>(bytes.get()), length);
  }
  fs::path dir_;
};

TEST_F(PackTest, PlainAndPrefixedPacksServeTheirMembers) {
  qorFileManager files;
  ASSERT_TRUE(files.OpenArchive("plain", Build("plain.zip")));
  ASSERT_TRUE(files.OpenArchive("prefixed", Build("prefixed.pak", 1000)));
  EXPECT_FALSE(files.OpenArchive("plain", "/elsewhere"));  // the first stays
  files.SetAlias("1", "plain");
  files.SetAlias("2", "prefixed");
  EXPECT_EQ(Member(files, "1:Texts.TXT"), "linea 1\r\nlinea 2\r\n");
  EXPECT_EQ(Member(files, "2:sub\\a.txt"), std::string(5000, 'a'));
  EXPECT_EQ(Member(files, "2:PIC.png"), std::string(300, 'p'));
  EXPECT_EQ(Member(files, "1:none.txt"), "<none>");
  files.SetAlias("3", "unregistered");
  EXPECT_EQ(Member(files, "3:texts.txt"), "<none>");
  // An unbound alias is a plain file path.
  Write("4:plain.txt", "plain");
  EXPECT_EQ(Member(files, (dir_ / "4:plain.txt").string()), "plain");
}

TEST_F(PackTest, ReadsHandlesAndClosing) {
  qorFileManager files;
  files.OpenArchive("p", Build("p.zip"));
  files.SetAlias("1", "p");
  AFILE* a = files.Open("1:sub/a.txt", "rb");
  AFILE* b = files.Open("1:texts.txt", "rb");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  char buf[100];
  std::string big(4990, '\0');
  EXPECT_EQ(files.Read(big.data(), 1, 4990, a), 4990u);
  EXPECT_EQ(files.Read(buf, 1, 100, a), 10u);  // 10 before the end
  EXPECT_EQ(files.Read(buf, 1, 100, a), 0u);
  EXPECT_EQ(files.Close(b), 0);  // either order
  EXPECT_EQ(files.Close(a), 0);
  EXPECT_EQ(files.Close(a), 1);  // closed already: nothing touched
  EXPECT_EQ(files.Close(nullptr), 1);
}

TEST_F(PackTest, DamagedPacks) {
  qorFileManager files;
  Write("junk", "0123456789");
  files.OpenArchive("junk", (dir_ / "junk").string());
  files.SetAlias("j", "junk");
  EXPECT_EQ(Member(files, "j:texts.txt"), "<none>");

  // A trailer that names base 0 is no trailer: the zip still reads.
  std::string zero = Read(fs::path(Build("zero.zip")).filename()) + std::string("QOR\0\0\0\0\0", 8);
  Write("zero.pak", zero);
  files.OpenArchive("zero", (dir_ / "zero.pak").string());
  files.SetAlias("z", "zero");
  EXPECT_EQ(Member(files, "z:texts.txt"), "linea 1\r\nlinea 2\r\n");

  // A base offset past the archive makes the pack unopenable.
  std::string past =
      Read(fs::path(Build("past.zip")).filename()) + std::string("QOR\0\xff\xff\xff\x7f", 8);
  Write("past.pak", past);
  files.OpenArchive("past", (dir_ / "past.pak").string());
  files.SetAlias("x", "past");
  EXPECT_EQ(Member(files, "x:texts.txt"), "<none>");

  // A damaged central directory, and a member whose bytes no longer match its CRC.
  std::string zip = Read(fs::path(Build("bad.zip")).filename());
  std::string cd = zip;
  cd[cd.size() - 10] ^= 0x55;  // the end record's directory offset
  Write("cd.zip", cd);
  files.OpenArchive("cd", (dir_ / "cd.zip").string());
  files.SetAlias("c", "cd");
  EXPECT_EQ(Member(files, "c:texts.txt"), "<none>");
  std::string crc = zip;
  const size_t at = crc.find(std::string(300, 'p'));
  ASSERT_NE(at, std::string::npos);
  crc[at + 5] = 'q';
  Write("crc.zip", crc);
  files.OpenArchive("crc", (dir_ / "crc.zip").string());
  files.SetAlias("k", "crc");
  EXPECT_EQ(Member(files, "k:pic.png"), "<none>");
  EXPECT_EQ(Member(files, "k:texts.txt"), "linea 1\r\nlinea 2\r\n");
}

// A path no alias takes is a plain file, bounded as a member is: 64 MiB
// reads whole, one byte more is refused, never read as an empty file.
TEST_F(PackTest, APlainFileOverTheMemberLimitIsRefused) {
  qorFileManager files;
  const fs::path limit = dir_ / "limit.bin";
  const fs::path over = dir_ / "over.bin";
  Write("limit.bin", "head");
  fs::resize_file(limit, qorZipManager::kMaxMember);  // sparse: no 64 MiB on disk
  Write("over.bin", "head");
  fs::resize_file(over, qorZipManager::kMaxMember + 1);
  std::unique_ptr<unsigned char[]> bytes;
  uint32_t length = 0;
  ASSERT_TRUE(files.ReadWholeFile(limit.string(), bytes, length));
  EXPECT_EQ(length, qorZipManager::kMaxMember);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.get()), 4), "head");
  bytes.reset();
  length = 7;
  EXPECT_FALSE(files.ReadWholeFile(over.string(), bytes, length));
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(files.Open(over.string(), "rb"), nullptr);
  // An empty plain file is an empty success.
  Write("empty.bin", "");
  ASSERT_TRUE(files.ReadWholeFile((dir_ / "empty.bin").string(), bytes, length));
  EXPECT_EQ(length, 0u);
}

// Names as long as the reader's old fixed buffer, and one byte either side:
// each is listed exactly, by the library and by the tool.
TEST_F(PackTest, LongMemberNamesAreListedWhole) {
  fs::remove_all(dir_ / "src");
  std::vector<std::string> names;
  for (size_t length : {1023u, 1024u, 1025u}) {
    // Four folders of 200 characters, then the file's own name.
    std::string name;
    fs::path folder = dir_ / "src";
    for (char c : {'a', 'b', 'c', 'd'}) {
      std::string part(200, c);
      part[0] = static_cast<char>('0' + length % 10);
      folder /= part;
      name += part + "/";
    }
    fs::create_directories(folder);
    const std::string file(length - name.size(), 'f');
    name += file;
    Write(fs::relative(folder / file, dir_).string(), "x");
    names.push_back(name);
  }
  const std::string pack = Build("long.zip");
  qorZipManager zip;
  zip.SetPath(pack);
  ASSERT_TRUE(zip.Open());
  std::vector<std::pair<std::string, uint64_t>> members;
  ASSERT_TRUE(zip.ListMembers(members));
  std::vector<std::string> listed;
  for (const auto& [name, size] : members) {
    if (name.back() != '/') listed.push_back(name);
  }
  std::sort(listed.begin(), listed.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(listed, names);

  const std::string listing = (dir_ / "listing.txt").string();
  const std::string command =
      std::string(LECTORIA_BIN_DIR) + "/velarno-pack list " + pack + " > " + listing;
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string text = Read("listing.txt");
  for (const std::string& name : names)
    EXPECT_NE(text.find("1 " + name + "\n"), std::string::npos) << name.size();
}

TEST_F(PackTest, TrailersOfEightBytesAndShorterFiles) {
  // Eight bytes, then a trailer whose base is the trailer itself: the
  // largest base that leaves room for an (empty) archive.
  Write("eight", std::string(8, 'x') + std::string("QOR\x00\x08\x00\x00\x00", 8));
  bool valid = false;
  EXPECT_EQ(ReadPackTrailer((dir_ / "eight").string(), &valid), 8u);
  EXPECT_TRUE(valid);
  Write("nine", std::string(8, 'x') + std::string("QOR\x00\x09\x00\x00\x00", 8));
  EXPECT_EQ(ReadPackTrailer((dir_ / "nine").string(), &valid), 9u);
  EXPECT_FALSE(valid);  // one byte past: no archive can lie there
  // Seven bytes hold no trailer, whatever they say.
  Write("seven", std::string("QOR\x00\x01\x00\x00", 7));
  EXPECT_EQ(ReadPackTrailer((dir_ / "seven").string(), &valid), 0u);
  EXPECT_TRUE(valid);
}

}  // namespace
