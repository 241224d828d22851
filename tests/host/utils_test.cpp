// The host utilities: CRC-32 of buffers and file ranges, cp1252, the HTML
// body and the registry functions.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "host/qorRegistry.h"
#include "host/qorUtils.h"

namespace fs = std::filesystem;

namespace {

TEST(HostUtils, CrcOfBuffersAndFiles) {
  EXPECT_EQ(Crc32Update(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32Update(Crc32Update(0, "1234", 4), "56789", 5), 0xCBF43926u);
  EXPECT_EQ(Crc32Update(7, nullptr, 3), 0u);
  char pattern[] = "/tmp/lectoria-hostcrc-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string path = std::string(pattern) + "/f";
  std::vector<char> bytes(100);
  for (int i = 0; i < 100; ++i) bytes[i] = static_cast<char>(i * 3);
  std::ofstream(path, std::ios::binary).write(bytes.data(), 100);
  EXPECT_EQ(FileCrc32(path.c_str(), 0, 0, -8), Crc32Update(0, bytes.data(), 92));
  EXPECT_EQ(FileCrc32(path.c_str(), 0, 0, 0), Crc32Update(0, bytes.data(), 100));
  EXPECT_EQ(FileCrc32(path.c_str(), 0, 90, 0), Crc32Update(0, bytes.data() + 90, 10));
  EXPECT_EQ(FileCrc32((path + "x").c_str(), 5, 0, 0), 0u);
  fs::remove_all(pattern);
  std::string out = ">";
  ReplaceChar("a\\b\\c", out, '\\', '/');
  EXPECT_EQ(out, ">a/b/c");
}

TEST(HostUtils, AnsiCodePage) {
  std::u16string wide;
  AnsiToWide("caf\xE9 \x80", wide, kCodePageAnsi);
  EXPECT_EQ(wide, u"caf\u00e9 \u20ac");
  std::string narrow = "old";
  WideToAnsi(u"\u00e9\u2122", narrow, kCodePage1252);
  EXPECT_EQ(narrow, "\xE9\x99");
  WideToAnsi(u"", narrow, kCodePage1252);
  EXPECT_EQ(narrow, "\xE9\x99");
  // Characters outside the code page become '?', the rest converts: one for
  // a surrogate pair, one for each lone surrogate, one for the C1 controls
  // cp1252 does not hold.
  WideToAnsi(u"a\u4e2db", narrow, kCodePage1252);
  EXPECT_EQ(narrow, "a?b");
  WideToAnsi(u"\U0001F600\u00e9", narrow, kCodePageAnsi);
  EXPECT_EQ(narrow, "?\xE9");
  WideToAnsi(std::u16string(u"\xDC00x\xD800", 3), narrow, kCodePage1252);
  EXPECT_EQ(narrow, "?x?");
  WideToAnsi(u"\u0080\u0081\u009f\u0178", narrow, kCodePage1252);
  EXPECT_EQ(narrow, "?\x81?\x9F");
  WideToAnsi(u"\u4e2d", narrow, 936);  // a code page this host does not have
  EXPECT_EQ(narrow, "?\x81?\x9F");
}

TEST(HostUtils, HtmlBody) {
  EXPECT_EQ(ReplaceHtmlBody("<html><BODY bgcolor=white>old</body></html>", "<p>ayuda</p>"),
            "<html><BODY bgcolor=white><p>ayuda</p></body></html>");
  EXPECT_EQ(ReplaceHtmlBody("<html><head></head></html>", "x"), "<html><head></head></html>");
  EXPECT_EQ(ReplaceHtmlBody("<body>a</body><body>b</body>", "z"), "<body>z</body><body>z</body>");
  EXPECT_EQ(ReplaceHtmlBody("<bodyguard>a</bodyguard>", "z"), "<bodyguard>a</bodyguard>");
}

TEST(HostUtils, RegistryFunctions) {
  char pattern[] = "/tmp/lectoria-hostreg-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  setenv("LECTORIA_REGISTRY_DIR", pattern, 1);
  namespace reg = platform::registry;
  std::string out = "unchanged";
  EXPECT_FALSE(RegReadString(reg::Root::kCurrentUser, "Software\\Velarno", "Sound", out));
  ASSERT_TRUE(RegWriteExpandString(reg::Root::kCurrentUser, "Software\\Velarno", "Sound", "%WINDIR%\\a.wav"));
  EXPECT_EQ(reg::AccessList(reg::Root::kCurrentUser, "Software\\Velarno"),
            (std::vector<std::string>{"S-1-1-0:983103", "S-1-5-32-544:983103"}));
  ASSERT_TRUE(RegReadString(reg::Root::kCurrentUser, "Software\\Velarno", "Sound", out));
  EXPECT_EQ(out, "%WINDIR%\\a.wav");
  std::string missing = "kept";
  EXPECT_TRUE(RegReadString(reg::Root::kCurrentUser, "Software\\Velarno", "None", missing));
  EXPECT_EQ(missing, "kept");
  unsetenv("LECTORIA_REGISTRY_DIR");
  fs::remove_all(pattern);
}

}  // namespace
