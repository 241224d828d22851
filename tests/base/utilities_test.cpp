#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <unistd.h>
#include <vector>

#include "base/Account.h"
#include "base/Base64.h"
#include "base/Checksums.h"
#include "base/TTokenizer.h"
#include "base/TextUtils.h"

namespace fs = std::filesystem;

namespace {

class FilesTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-util-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  // A data file with its trailer: body, "QOR", a free byte, then the text.
  std::string WriteWithTrailer(const std::string& name, std::vector<unsigned char> body,
                               const char* format = "%X%X%X") {
    uint32_t c = crc32(0, body.data(), static_cast<uInt>(body.size()));
    std::vector<unsigned char> trailer(kTrailerSize, 0);
    std::memcpy(trailer.data(), "QOR", 3);
    trailer[3] = 0x7F;
    std::snprintf(reinterpret_cast<char*>(trailer.data()) + 4, kTrailerSize - 4, format, c, c, c);
    body.insert(body.end(), trailer.begin(), trailer.end());
    return Write(name, body);
  }

  std::string dir_;
};

std::vector<unsigned char> Counting(size_t n) {
  std::vector<unsigned char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 7 + 3);
  return v;
}

uint32_t Crc(const std::vector<unsigned char>& v, size_t from, size_t count) {
  return crc32(0, v.data() + from, static_cast<uInt>(count));
}

TEST(Crc32, CheckValueAndChainedPieces) {
  const char* digits = "123456789";
  EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(digits), 9), 0xCBF43926u);
  uint32_t chained = crc32(0, reinterpret_cast<const Bytef*>(digits), 4);
  chained = crc32(chained, reinterpret_cast<const Bytef*>(digits + 4), 5);
  EXPECT_EQ(chained, 0xCBF43926u);
  EXPECT_EQ(crc32(0, nullptr, 10), 0u);
}

TEST(CacheName, FormatsCrcAndLength) {
  EXPECT_EQ(CacheName("abc"), "352441C2_3");
  EXPECT_EQ(CacheName(""), "00000000_0");
  EXPECT_EQ(CacheName("123456789"), "CBF43926_9");
  EXPECT_EQ(CacheName(std::string(300, 'a').c_str()).substr(8), "_12C");
}

TEST_F(FilesTest, FileCrc32Ranges) {
  auto bytes = Counting(100);
  std::string path = Write("r.bin", bytes);
  EXPECT_EQ(FileCrc32(path.c_str(), 0, 0, 0), Crc(bytes, 0, 100));
  EXPECT_EQ(FileCrc32(path.c_str(), 0, 0, -8), Crc(bytes, 0, 92));
  EXPECT_EQ(FileCrc32(path.c_str(), 0, 90, 0), Crc(bytes, 90, 10));  // reads to the end
  EXPECT_EQ(FileCrc32(path.c_str(), 0, 10, 20), Crc(bytes, 10, 20));
  // A running CRC continues.
  uint32_t first = FileCrc32(path.c_str(), 0, 0, 50);
  EXPECT_EQ(FileCrc32(path.c_str(), first, 50, 50), Crc(bytes, 0, 100));
  // A negative length past the size covers nothing; a missing file gives 0.
  EXPECT_EQ(FileCrc32(path.c_str(), 0x1234, 0, -500), 0x1234u);
  EXPECT_EQ(FileCrc32((dir_ + "/none").c_str(), 0x1234, 0, 0), 0u);
}

TEST_F(FilesTest, FileCrc32ReadsBeyondOneChunk) {
  auto bytes = Counting(0x8000 * 2 + 77);
  std::string path = Write("big.bin", bytes);
  EXPECT_EQ(FileCrc32(path.c_str(), 0, 0, 0), Crc(bytes, 0, bytes.size()));
  EXPECT_EQ(FileCrc32(path.c_str(), 0, 5, 0x8000 + 3), Crc(bytes, 5, 0x8000 + 3));
}

TEST_F(FilesTest, TrailerCheck) {
  EXPECT_TRUE(VerifyFileTrailer(WriteWithTrailer("ok.dat", Counting(5000)).c_str()));
  // Only the trailer: the CRC of no bytes is 0, and the text is "000".
  EXPECT_TRUE(VerifyFileTrailer(WriteWithTrailer("empty.dat", {}).c_str()));
  EXPECT_FALSE(VerifyFileTrailer(WriteWithTrailer("lower.dat", Counting(5000), "%x%x%x").c_str()));
  EXPECT_FALSE(VerifyFileTrailer(Write("short.dat", Counting(255)).c_str()));
  EXPECT_FALSE(VerifyFileTrailer((dir_ + "/missing.dat").c_str()));

  // One byte of the body changed.
  std::string damaged = WriteWithTrailer("damaged.dat", Counting(5000));
  {
    std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(100);
    f.put('\x55');
  }
  EXPECT_FALSE(VerifyFileTrailer(damaged.c_str()));

  // A trailer that is not "QOR", and one whose text never ends.
  auto body = Counting(1000);
  std::vector<unsigned char> bad = body;
  bad.resize(body.size() + kTrailerSize, 'A');
  std::memcpy(bad.data() + body.size(), "QOR", 3);
  EXPECT_FALSE(VerifyFileTrailer(Write("noterm.dat", bad).c_str()));
  std::string qxr = WriteWithTrailer("qxr.dat", Counting(1000));
  {
    std::fstream f(qxr, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(1001);
    f.put('X');
  }
  EXPECT_FALSE(VerifyFileTrailer(qxr.c_str()));
}

TEST(Tokenizer, NeverGivesEmptyTokens) {
  TTokenizer colon("a::b", ':');
  EXPECT_EQ(colon.Next(), "a");
  EXPECT_EQ(colon.Next(), "b");
  EXPECT_FALSE(colon.HasMore());
  EXPECT_EQ(colon.Next(), "");

  TTokenizer amp("&a&&b&", '&');
  EXPECT_EQ(amp.Rest(), "a&b");
  EXPECT_EQ(amp.Next(), "a");
  EXPECT_EQ(amp.Rest(), "b");
  EXPECT_EQ(amp.Next(), "b");

  TTokenizer only("&&&", '&');
  EXPECT_FALSE(only.HasMore());
}

TEST(Tokenizer, WholeStringSeparators) {
  TTokenizer lines("\r\nHTTP/1.1 200 OK\r\n\r\nContent-Length: 5\r\n", "\r\n");
  EXPECT_EQ(lines.Next(), "HTTP/1.1 200 OK");
  EXPECT_EQ(lines.Next(), "Content-Length: 5");
  EXPECT_FALSE(lines.HasMore());

  // A lone CR or LF is not the separator.
  TTokenizer mixed("a\rb\nc\r\nd", "\r\n");
  EXPECT_EQ(mixed.Next(), "a\rb\nc");
  EXPECT_EQ(mixed.Next(), "d");

  // An empty separator leaves the text unchanged and gives it whole.
  TTokenizer none("x&&y", "");
  EXPECT_EQ(none.Rest(), "x&&y");
  EXPECT_EQ(none.Next(), "x&&y");
}

TEST(KeyValues, FirstValueWinsAndSeparatorsCollapse) {
  std::map<std::string, std::string> kv;
  const char* reply = "IS=x&RT=1&RT=2";
  EXPECT_TRUE(ParseKeyValues(reply, std::strlen(reply), kv, '&', '='));
  EXPECT_EQ(kv.size(), 2u);
  EXPECT_EQ(kv["IS"], "x");
  EXPECT_EQ(kv["RT"], "1");

  kv.clear();
  EXPECT_TRUE(ParseKeyValues("K=", 2, kv, '&', '='));
  EXPECT_EQ(kv.at("K"), "");
  kv.clear();
  EXPECT_TRUE(ParseKeyValues("=V", 2, kv, '&', '='));
  EXPECT_EQ(kv.at("V"), "");
  kv.clear();
  EXPECT_TRUE(ParseKeyValues("A=1=2&&B", 8, kv, '&', '='));
  EXPECT_EQ(kv.at("A"), "1");
  EXPECT_EQ(kv.at("B"), "");
}

TEST(KeyValues, LengthAndZeroByteBoundTheText) {
  std::map<std::string, std::string> kv;
  EXPECT_TRUE(ParseKeyValues("AB=12&CD=34", 4, kv, '&', '='));
  EXPECT_EQ(kv.at("AB"), "1");
  EXPECT_EQ(kv.count("CD"), 0u);
  kv.clear();
  EXPECT_FALSE(ParseKeyValues("", 10, kv, '&', '='));
  EXPECT_FALSE(ParseKeyValues("&&&", 3, kv, '&', '='));
}

TEST(TextRoutines, ParseHexReadsAtMostEightCharacters) {
  EXPECT_EQ(ParseHex("0000FA00"), 0xFA00u);
  EXPECT_EQ(ParseHex("1f"), 0x1Fu);
  EXPECT_EQ(ParseHex("12g4"), 0x12u);
  EXPECT_EQ(ParseHex("123456789"), 0x12345678u);
  EXPECT_EQ(ParseHex(":"), 0xAu);   // 0x3A counts its low four bits
  EXPECT_EQ(ParseHex("*/"), 0xAFu);  // 0x2A and 0x2F
  EXPECT_EQ(ParseHex(""), 0u);
}

TEST(TextRoutines, CopyAndReplace) {
  std::string t = "x";
  EXPECT_EQ(CopyUntil("abc&def", '&', t), 3u);
  EXPECT_EQ(t, "xabc");
  EXPECT_EQ(CopyUntil("nostop", '&', t), 6u);
  t.clear();
  EXPECT_EQ(CopyN("abc", 10, t), 3u);
  EXPECT_EQ(CopyN("abcdef", 2, t), 2u);
  EXPECT_EQ(t, "abcab");
  std::string path;
  ReplaceChar("data\\unit001.dat", path, '\\', '/');
  EXPECT_EQ(path, "data/unit001.dat");
  EXPECT_TRUE(MemEqual("abcd", "abce", 3));
  EXPECT_FALSE(MemEqual("abcd", "abce", 4));
}

std::string Encode(const std::string& bytes) {
  std::vector<char> out(Base64EncodedSize(bytes.size()) + 1);
  size_t n = Base64Encode(out.data(), out.size(), reinterpret_cast<const uint8_t*>(bytes.data()),
                          bytes.size());
  return std::string(out.data(), n);
}

std::string Decode(const std::string& text, size_t capacity = 64) {
  std::vector<uint8_t> out(capacity);
  size_t n = Base64Decode(out.data(), out.size(), text.data(), text.size());
  return std::string(reinterpret_cast<const char*>(out.data()), n);
}

TEST(Base64, KnownVectorsAndRoundTrips) {
  EXPECT_EQ(Encode("f"), "Zg==");
  EXPECT_EQ(Encode("fo"), "Zm8=");
  EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Decode("Zm9vYg=="), "foob");
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (size_t n = 0; n <= 10; ++n) EXPECT_EQ(Decode(Encode(all.substr(n * 7, n)), 64), all.substr(n * 7, n));
  EXPECT_EQ(Decode(Encode(all), 256), all);
}

TEST(Base64, BadInputGivesNothing) {
  EXPECT_EQ(Decode(""), "");
  EXPECT_EQ(Decode("Zm9"), "");         // not a multiple of 4
  EXPECT_EQ(Decode("Zm9v!mFy"), "");    // outside the alphabet
  EXPECT_EQ(Decode("Zg==Zm9v"), "");    // padding before the end
  EXPECT_EQ(Decode("Z===", 8), "");     // three pad characters
  EXPECT_EQ(Decode("Zm9vYmFy", 5), "");  // output too small
  char small[4];
  EXPECT_EQ(Base64Encode(small, sizeof(small), reinterpret_cast<const uint8_t*>("abc"), 3), 0u);
}

TEST(Account, UserAndDomain) {
  std::string user, domain;
  SetAccountDomain("");
  ASSERT_TRUE(GetAccountAndDomain(user, domain));
  EXPECT_EQ(user, getpwuid(geteuid())->pw_name);
  EXPECT_LE(domain.size(), 15u);
  for (char c : domain) EXPECT_FALSE(c >= 'a' && c <= 'z');

  SetAccountDomain("AULA");
  ASSERT_TRUE(GetAccountAndDomain(user, domain));
  EXPECT_EQ(domain, "AULA");
  SetAccountDomain("");
}

}  // namespace
