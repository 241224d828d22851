// The string list: lines split at CR with the next byte dropped, the length
// and count bounds, appending loads, and a file closed on every path.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "base/TListaStrings.h"
#include "ehdd/TEHDDClient.h"

namespace fs = std::filesystem;

namespace {

class StringListTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-strings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    client_.Mount(folder_.c_str(), 'U');
    client_.AddLocalLetter('U', "");
    list_.SetEHDDClient(&client_);
    list_.Iniciar();
  }
  void TearDown() override { fs::remove_all(folder_); }

  int Load(const std::string& bytes) {
    std::ofstream(folder_ + "/LIST.TXT", std::ios::binary) << bytes;
    return list_.CargarFichero("U:\\LIST.TXT");
  }

  std::string folder_;
  TEHDDClient client_;
  TListaStrings list_;
};

TEST_F(StringListTest, LinesEndAtCrAndTheByteAfterItIsDropped) {
  EXPECT_EQ(Load(""), 0);
  EXPECT_EQ(list_.Count(), 0);
  ASSERT_EQ(Load("A\r\nB"), 0);
  ASSERT_EQ(list_.Count(), 2);
  EXPECT_STREQ(list_.Item(0), "A");
  EXPECT_STREQ(list_.Item(1), "B");
  EXPECT_STREQ(list_.Item(2), "");  // Item(Count()) is empty

  list_.Clear();
  ASSERT_EQ(Load("A\r\n"), 0);
  EXPECT_EQ(list_.Count(), 1);

  list_.Clear();
  ASSERT_EQ(Load("A\rB"), 0);  // B taken as the CR's LF
  ASSERT_EQ(list_.Count(), 1);
  EXPECT_STREQ(list_.Item(0), "A");

  list_.Clear();
  ASSERT_EQ(Load("a\nb\r\n\r\nc"), 0);  // LF alone stays inside; empty lines count
  ASSERT_EQ(list_.Count(), 3);
  EXPECT_STREQ(list_.Item(0), "a\nb");
  EXPECT_STREQ(list_.Item(1), "");
  EXPECT_STREQ(list_.Item(2), "c");
}

TEST_F(StringListTest, LoadingAppendsAndAMissingFileGivesMinusOne) {
  ASSERT_EQ(Load("one\r\n"), 0);
  ASSERT_EQ(list_.CargarFichero("U:\\LIST.TXT"), 0);
  EXPECT_EQ(list_.Count(), 2);
  EXPECT_EQ(list_.CargarFichero("U:\\NONE.TXT"), -1);
  EXPECT_EQ(list_.Count(), 2);
}

TEST_F(StringListTest, ALineKeeps299BytesAndSkipsTheRestToItsCr) {
  const std::string at_limit(299, 'x');
  const std::string past(300, 'y');
  ASSERT_EQ(Load(at_limit + "\r\n" + past + "\r\nz"), 0);
  ASSERT_EQ(list_.Count(), 3);
  EXPECT_EQ(std::string(list_.Item(0)), at_limit);
  EXPECT_EQ(std::string(list_.Item(1)), std::string(299, 'y'));
  EXPECT_STREQ(list_.Item(2), "z");
}

TEST_F(StringListTest, AtMost65535StringsAreKept) {
  std::string bytes;
  for (int i = 0; i < 65536; ++i) bytes += (i == 65535 ? "last" : "l") + std::string("\r\n");
  ASSERT_EQ(Load(bytes), 0);
  EXPECT_EQ(list_.Count(), 65535);
  EXPECT_STREQ(list_.Item(65534), "l");
}

TEST_F(StringListTest, APlainFileIsReadNotTruncated) {
  std::ofstream(folder_ + "/PLAIN.TXT", std::ios::binary) << "keep\r\n";
  client_.SetPlainLocalFiles(true);
  EXPECT_EQ(list_.CargarFichero((folder_ + "/PLAIN.TXT").c_str()), 0);
  client_.SetPlainLocalFiles(false);
  EXPECT_EQ(list_.Count(), 1);
  EXPECT_EQ(fs::file_size(folder_ + "/PLAIN.TXT"), 6u);
}

}  // namespace
