// The reverse code-page map: every byte of every page maps back to itself,
// characters a page lacks take the caller's fallback.
#include <gtest/gtest.h>

#include "platform/gfx/CodePage.h"

namespace {

using platform::gfx::CodePage;

TEST(ReverseCodePage, EveryDefinedByteRoundTrips) {
  for (CodePage page :
       {CodePage::kCp1250, CodePage::kCp1251, CodePage::kCp1252, CodePage::kCp1254}) {
    for (int byte = 1; byte < 256; ++byte) {
      const char16_t character = platform::gfx::ByteToUnicode(page, static_cast<uint8_t>(byte));
      EXPECT_EQ(platform::gfx::UnicodeToByte(page, character, 0), byte) << "byte " << byte;
    }
  }
}

TEST(ReverseCodePage, LettersLandInTheirOwnPageAndOthersTakeTheFallback) {
  EXPECT_EQ(platform::gfx::UnicodeToByte(CodePage::kCp1252, u'\u00E9', 0), 0xE9);  // é
  EXPECT_EQ(platform::gfx::UnicodeToByte(CodePage::kCp1251, u'\u0436', 0), 0xE6);  // ж
  EXPECT_EQ(platform::gfx::UnicodeToByte(CodePage::kCp1250, u'\u0142', 0), 0xB3);  // ł
  EXPECT_EQ(platform::gfx::UnicodeToByte(CodePage::kCp1254, u'\u011F', 0), 0xF0);  // ğ
  EXPECT_EQ(platform::gfx::UnicodeToByte(CodePage::kCp1252, u'\u0436', 0), 0);
  EXPECT_EQ(platform::gfx::UnicodeToByte(CodePage::kCp1252, u'\u0436', '?'), '?');
  EXPECT_EQ(platform::gfx::UnicodeToBytes(CodePage::kCp1252, u"ca\u00F1a \u4E2D", '?'),
            "ca\xF1"
            "a ?");
}

}  // namespace
