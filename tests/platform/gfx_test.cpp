#include <gtest/gtest.h>
#include <png.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/gfx/CodePage.h"
#include "platform/gfx/Dib.h"
#include "platform/gfx/Font.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/TextDraw.h"

namespace gfx = platform::gfx;

namespace {

constexpr gfx::COLORREF kRed = 0x0000FF;
constexpr gfx::COLORREF kWhite = 0xFFFFFF;

// Pixels of the surface that are not black, as (x, y) pairs.
std::vector<std::pair<int, int>> Lit(const gfx::Surface& s) {
  std::vector<std::pair<int, int>> out;
  for (int y = 0; y < s.Height(); ++y)
    for (int x = 0; x < s.Width(); ++x)
      if (s.GetPixel(x, y) != 0) out.emplace_back(x, y);
  return out;
}

TEST(Surface, ColoursAreColorrefAtTheInterfaceAndXrgbInside) {
  gfx::Surface s(2, 1);
  s.SetPixel(0, 0, gfx::Rgb(0x12, 0x34, 0x56));
  EXPECT_EQ(s.Row(0)[0], 0x123456u);
  EXPECT_EQ(s.GetPixel(0, 0), 0x563412u);
  s.SetPixel(5, 0, kRed);  // outside: nothing
  EXPECT_EQ(s.GetPixel(5, 0), 0u);
}

TEST(Surface, FillClipsAtEveryEdge) {
  gfx::Surface s(10, 8);
  s.Fill({-3, -2, 5, 4}, kWhite);    // top-left corner
  s.Fill({8, 6, 10, 10}, kWhite);    // bottom-right corner
  s.Fill({-100, 4, 5000, 1}, kRed);  // a row across and past both sides
  EXPECT_EQ(s.GetPixel(0, 0), kWhite);
  EXPECT_EQ(s.GetPixel(1, 1), kWhite);
  EXPECT_EQ(s.GetPixel(2, 1), 0u);
  EXPECT_EQ(s.GetPixel(1, 2), 0u);
  EXPECT_EQ(s.GetPixel(8, 6), kWhite);
  EXPECT_EQ(s.GetPixel(9, 7), kWhite);
  EXPECT_EQ(s.GetPixel(7, 6), 0u);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(s.GetPixel(x, 4), kRed);
  // Sizes at the ends of the int range neither overflow nor draw outside.
  s.Fill({INT_MAX - 1, INT_MAX - 1, INT_MAX, INT_MAX}, kRed);
  s.Fill({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, kRed);
  EXPECT_EQ(s.GetPixel(9, 7), kWhite);
}

TEST(Surface, LinesLeaveOutTheirEndPoint) {
  gfx::Surface s(10, 10);
  s.DrawLine(0, 0, 5, 0, kWhite);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(s.GetPixel(x, 0), kWhite) << x;
  EXPECT_EQ(s.GetPixel(5, 0), 0u);

  gfx::Surface d(10, 10);
  d.DrawLine(0, 0, 4, 4, kWhite);
  std::vector<std::pair<int, int>> diag = {{0, 0}, {1, 1}, {2, 2}, {3, 3}};
  EXPECT_EQ(Lit(d), diag);

  gfx::Surface up(10, 10);
  up.DrawLine(0, 9, 3, 6, kWhite);  // going up and right
  std::vector<std::pair<int, int>> anti = {{2, 7}, {1, 8}, {0, 9}};
  EXPECT_EQ(Lit(up), anti);

  gfx::Surface none(4, 4);
  none.DrawLine(2, 2, 2, 2, kWhite);  // a line to its own start draws nothing
  EXPECT_TRUE(Lit(none).empty());

  gfx::Surface clipped(4, 4);
  clipped.DrawLine(-2, 1, 40000, 1, kWhite);  // runs past both sides
  EXPECT_EQ(Lit(clipped).size(), 4u);
}

// The reference result of a copy: read the source aside first.
gfx::Surface CopiedAside(const gfx::Surface& s, int dx, int dy, int sx, int sy, int w, int h) {
  gfx::Surface aside = s;
  gfx::Surface out = s;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (sx + x >= 0 && sy + y >= 0 && sx + x < s.Width() && sy + y < s.Height())
        out.SetPixel(dx + x, dy + y, aside.GetPixel(sx + x, sy + y));
  return out;
}

TEST(Surface, OverlappingCopiesWithinOneSurfaceActAsIfCopiedAside) {
  gfx::Surface base(12, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 12; ++x) base.SetPixel(x, y, static_cast<gfx::COLORREF>(y * 12 + x + 1));
  struct Move {
    int dx, dy, sx, sy;
  };
  for (Move m : {Move{2, 1, 0, 0}, Move{0, 0, 2, 1}, Move{1, 3, 1, 0}, Move{3, 0, 0, 0},
                 Move{0, 2, 3, 0}, Move{4, 0, 0, 3}}) {
    gfx::Surface s = base;
    gfx::CopyRect(s, m.dx, m.dy, s, m.sx, m.sy, 7, 5);
    gfx::Surface expected = CopiedAside(base, m.dx, m.dy, m.sx, m.sy, 7, 5);
    EXPECT_EQ(s.Pixels(), expected.Pixels())
        << m.dx << "," << m.dy << " from " << m.sx << "," << m.sy;
  }
}

TEST(Surface, CopiesClipToBothSurfaces) {
  // A 30 x 30 picture drawn as 687 x 534 reads nothing past its pixels.
  gfx::Surface picture(30, 30);
  picture.Fill({0, 0, 30, 30}, kWhite);
  gfx::Surface page(687, 534);
  gfx::CopyRect(page, 10, 20, picture, 0, 0, 687, 534);
  EXPECT_EQ(Lit(page).size(), 900u);
  EXPECT_EQ(page.GetPixel(10, 20), kWhite);
  EXPECT_EQ(page.GetPixel(39, 49), kWhite);
  EXPECT_EQ(page.GetPixel(40, 49), 0u);

  // Source rectangles starting before the source and targets past the edges.
  gfx::Surface small(4, 4);
  gfx::CopyRect(small, -2, -2, picture, -5, 0, 10, 10);
  // Source columns -5..-1 do not exist; column 0 lands at x = 3.
  EXPECT_EQ(small.GetPixel(3, 0), kWhite);
  EXPECT_EQ(small.GetPixel(2, 0), 0u);
  gfx::CopyRect(small, 3, 3, picture, 28, 28, 100, 100);
  EXPECT_EQ(small.GetPixel(3, 3), kWhite);
}

TEST(Surface, WritesAPngThatReadsBack) {
  gfx::Surface s(3, 2);
  s.SetPixel(2, 1, gfx::Rgb(10, 20, 30));
  auto path = std::filesystem::temp_directory_path() / "lectoria_gfx_test.png";
  ASSERT_TRUE(gfx::WritePng(s, path.string()));
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, path.string().c_str()));
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
  EXPECT_EQ(image.width, 3u);
  EXPECT_EQ(rgb[15], 10);
  EXPECT_EQ(rgb[16], 20);
  EXPECT_EQ(rgb[17], 30);
  std::filesystem::remove(path);
  EXPECT_FALSE(gfx::WritePng(s, "/nonexistent-folder/x.png"));
}

TEST(Dib, RowsArePaddedAndReadInTheirOrder) {
  EXPECT_EQ(gfx::DibStride24(5), 16u);
  EXPECT_EQ(gfx::DibStride24(4), 12u);
  gfx::BITMAPINFOHEADER h;
  h.biSize = 40;
  h.biWidth = 5;
  h.biHeight = -2;  // top-down
  h.biPlanes = 1;
  h.biBitCount = 24;
  std::vector<uint8_t> bits(32, 0xEE);  // padding bytes are never read as pixels
  bits[0] = 1;                          // B of (0,0)
  bits[1] = 2;                          // G
  bits[2] = 3;                          // R
  bits[16 + 12] = 0x30;                 // B of (4,1)
  auto top_down = gfx::SurfaceFromDib(h, bits.data(), bits.size());
  ASSERT_NE(top_down, nullptr);
  EXPECT_EQ(top_down->Row(0)[0], 0x030201u);
  EXPECT_EQ(top_down->Row(1)[4] & 0xFF, 0x30u);

  h.biHeight = 2;  // bottom-up: the first row in memory is the bottom one
  auto bottom_up = gfx::SurfaceFromDib(h, bits.data(), bits.size());
  ASSERT_NE(bottom_up, nullptr);
  EXPECT_EQ(bottom_up->Row(1)[0], 0x030201u);

  EXPECT_EQ(gfx::SurfaceFromDib(h, bits.data(), 31), nullptr);  // short by a byte
  h.biBitCount = 32;
  EXPECT_EQ(gfx::SurfaceFromDib(h, bits.data(), bits.size()), nullptr);
  h.biBitCount = 24;
  h.biWidth = 0;
  EXPECT_EQ(gfx::SurfaceFromDib(h, bits.data(), bits.size()), nullptr);
  h.biWidth = 100000;
  h.biHeight = INT32_MIN;
  EXPECT_EQ(gfx::SurfaceFromDib(h, bits.data(), SIZE_MAX), nullptr);
}

TEST(CodePages, BytesMapByCharacterSet) {
  auto one = [](uint8_t charset, uint8_t byte) {
    char c = static_cast<char>(byte);
    return gfx::BytesToUnicode(charset, &c, 1)[0];
  };
  EXPECT_EQ(one(0, 0xE9), u'\u00E9');  // é
  EXPECT_EQ(one(1, 0x80), u'\u20AC');  // the default set reads as Western: €
  EXPECT_EQ(one(0, 'A'), u'A');
  EXPECT_EQ(one(204, 0xC0), u'\u0410');  // А
  EXPECT_EQ(one(204, 0xFF), u'\u044F');  // я
  EXPECT_EQ(one(238, 0xA3), u'\u0141');  // Ł
  EXPECT_EQ(one(238, 0xB9), u'\u0105');  // ą
  EXPECT_EQ(one(162, 0xD0), u'\u011E');  // Ğ
  EXPECT_EQ(one(162, 0xFD), u'\u0131');  // ı
  EXPECT_EQ(one(134, 0xE9), u'\u00E9');  // other sets read as Western
  EXPECT_EQ(one(0, 0x81), u'\u0081');    // undefined bytes keep their value
}

class FakeFontText : public testing::Test {
 protected:
  void SetUp() override {
    backend_ = std::make_shared<gfx::FakeFontBackend>(6, 8, 2);
    gfx::SetFontBackend(backend_);
  }
  void TearDown() override { gfx::SetFontBackend(nullptr); }
  std::shared_ptr<gfx::FakeFontBackend> backend_;
};

TEST_F(FakeFontText, CellIsFilledAndExtraFollowsEachCharacter) {
  auto font = gfx::CreateFont(gfx::MakeLogFont("Arial", -15));
  gfx::Surface s(40, 20);
  s.Fill({0, 0, 40, 20}, kRed);
  int width = gfx::DrawText(s, 2, 3, *font, u"ab", 2, 0x000000, kWhite);
  EXPECT_EQ(width, 16);  // (6 + 2) x 2
  EXPECT_EQ(gfx::MeasureText(*font, u"ab", 2), 16);
  // The cell: x 2..17, y 3..12 (ascent 8 + descent 2); nothing outside it.
  EXPECT_EQ(s.GetPixel(1, 3), kRed);
  EXPECT_EQ(s.GetPixel(18, 3), kRed);
  EXPECT_EQ(s.GetPixel(2, 13), kRed);
  EXPECT_EQ(s.GetPixel(2, 2), kRed);
  // Glyph blocks: 5 wide from the pen, rows 3..10 (above the baseline at 11).
  EXPECT_EQ(s.GetPixel(2, 3), 0u);
  EXPECT_EQ(s.GetPixel(6, 10), 0u);
  EXPECT_EQ(s.GetPixel(7, 10), kWhite);  // the glyph's last column is blank
  EXPECT_EQ(s.GetPixel(9, 5), kWhite);   // the extra after 'a'
  EXPECT_EQ(s.GetPixel(10, 5), 0u);      // 'b' starts at 2 + 8
  EXPECT_EQ(s.GetPixel(2, 11), kWhite);  // descent rows are background
  EXPECT_EQ(s.GetPixel(17, 12), kWhite);

  // A negative extra pulls characters together.
  EXPECT_EQ(gfx::MeasureText(*font, u"abc", -1), 15);
  // A character one pixel wide has an empty glyph and still advances.
  backend_->SetAdvance(U'.', 1);
  EXPECT_EQ(gfx::DrawText(s, 0, 0, *font, u".a", 0, 0x000000, kWhite), 7);
  EXPECT_EQ(s.GetPixel(1, 0), 0u);  // 'a' starts right after it
}

TEST_F(FakeFontText, UnderlineRunsAcrossTheAdvance) {
  auto font = gfx::CreateFont(gfx::MakeLogFont("Arial", -15, 400, false, true));
  gfx::Surface s(40, 20);
  gfx::DrawText(s, 0, 0, *font, u"a b", 1, 0x0000FF, kWhite);
  int underline_y = 8 + 1;  // baseline + the fake font's underline offset
  for (int x = 0; x < 21; ++x) EXPECT_EQ(s.GetPixel(x, underline_y), kRed) << x;
  EXPECT_EQ(s.GetPixel(21, underline_y), 0u);
  EXPECT_EQ(s.GetPixel(8, 4), kWhite);  // the space has no ink above the line
}

TEST_F(FakeFontText, ByteTextIsReadInTheFontsCodePage) {
  backend_->SetAdvance(U'\u0410', 20);  // Cyrillic А
  backend_->SetAdvance(U'\u00C0', 9);   // Latin À
  auto cyr = gfx::CreateFont(gfx::MakeLogFont("Arial", -15, 400, false, false, 204));
  auto lat = gfx::CreateFont(gfx::MakeLogFont("Arial", -15, 400, false, false, 0));
  EXPECT_EQ(cyr->ByteAdvances()[0xC0], 20);
  EXPECT_EQ(lat->ByteAdvances()[0xC0], 9);
  gfx::Surface s(40, 12);
  EXPECT_EQ(gfx::DrawTextBytes(s, 0, 0, *cyr,
                               "\xC0"
                               "a",
                               2, 0, 0, kWhite),
            26);
  auto widths = gfx::CharWidthTable(gfx::MakeLogFont("Arial", -15, 400, false, false, 204));
  EXPECT_EQ(widths[0xC0], 20);
}

TEST_F(FakeFontText, FontsAreCachedPerRecord) {
  auto a = gfx::CreateFont(gfx::MakeLogFont("Arial", -15));
  auto b = gfx::CreateFont(gfx::MakeLogFont("Arial", -15));
  auto c = gfx::CreateFont(gfx::MakeLogFont("Arial", -16));
  EXPECT_EQ(a.get(), b.get());
  EXPECT_NE(a.get(), c.get());
  // Bytes after the face name's terminator do not make another record.
  gfx::LOGFONTA dirty = gfx::MakeLogFont("Arial", -15);
  dirty.lfFaceName[20] = 'x';
  EXPECT_EQ(gfx::CreateFont(dirty).get(), a.get());
}

// Real fonts: what the layout of the pages stands on.
class RealFonts : public testing::Test {
 protected:
  void SetUp() override { gfx::SetFontBackend(nullptr); }
};

TEST_F(RealFonts, FacesResolveThroughTheShippedConfiguration) {
  auto arial = gfx::CreateFont(gfx::MakeLogFont("Arial", -15));
  EXPECT_EQ(arial->Family(), "Liberation Sans");
  auto bold = gfx::CreateFont(gfx::MakeLogFont("Arial", -15, 700));
  EXPECT_NE(bold->File(), arial->File());
  EXPECT_GT(bold->Advance(U'm'), 0);
  auto song = gfx::CreateFont(gfx::MakeLogFont("MS Song", -15, 400, false, false, 1));
  EXPECT_EQ(song->Family(), "WenQuanYi Zen Hei");
  EXPECT_GT(song->Advance(U'\u4E2D'), 10);  // 中
  auto unknown = gfx::CreateFont(gfx::MakeLogFont("No Such Face", -15));
  EXPECT_EQ(unknown->Family(), "DejaVu Sans");
}

TEST_F(RealFonts, HeightsFollowTheRecord) {
  auto em15 = gfx::CreateFont(gfx::MakeLogFont("Arial", -15));
  auto cell15 = gfx::CreateFont(gfx::MakeLogFont("Arial", 15));
  auto deflt = gfx::CreateFont(gfx::MakeLogFont("Arial", 0));
  // Liberation Sans's cell is about 1.15 em.
  EXPECT_EQ(em15->CellHeight(), 17);
  EXPECT_NEAR(cell15->CellHeight(), 15, 1);
  EXPECT_EQ(deflt->CellHeight(), gfx::CreateFont(gfx::MakeLogFont("Arial", -16))->CellHeight());
  auto huge = gfx::CreateFont(gfx::MakeLogFont("Arial", INT32_MIN));
  EXPECT_LE(huge->CellHeight(), 2 * gfx::kMaxEmPixels);
}

TEST_F(RealFonts, DrawnWidthIsTheSumOfTheMeasuredWidths) {
  gfx::LOGFONTA record = gfx::MakeLogFont("Arial", -15);
  std::string text = "Learning English, step by step: 1-2-3!";
  auto table = gfx::CharWidthTable(record);
  int measured = 0;
  for (char c : text) measured += table[static_cast<uint8_t>(c)] + 1;
  EXPECT_EQ(table['W'], 14);  // Arial's metrics at 15 px
  EXPECT_EQ(table['i'], 3);

  auto font = gfx::CreateFont(record);
  gfx::Surface s(400, 30);
  s.Fill({0, 0, 400, 30}, kRed);
  int drawn = gfx::DrawTextBytes(s, 5, 4, *font, text.data(), text.size(), 1, 0x000000, kWhite);
  EXPECT_EQ(drawn, measured);
  // The background cell ends exactly at the measured width.
  EXPECT_EQ(s.GetPixel(5 + measured - 1, 4 + font->CellHeight() - 1), kWhite);
  EXPECT_EQ(s.GetPixel(5 + measured, 4), kRed);
  // Some ink was laid down, all of it inside the cell.
  int ink = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 400; ++x) {
      gfx::COLORREF p = s.GetPixel(x, y);
      if (p != kRed && p != kWhite) {
        ++ink;
        EXPECT_TRUE(x >= 5 && x < 5 + measured && y >= 4 && y < 4 + font->CellHeight())
            << x << "," << y;
      }
    }
  EXPECT_GT(ink, 100);
}

TEST_F(RealFonts, FontsAreSharedSafelyAcrossThreads) {
  std::vector<std::thread> threads;
  std::vector<int> sums(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &sums] {
      gfx::Surface s(300, 40);
      for (int i = 0; i < 20; ++i) {
        gfx::LOGFONTA r = gfx::MakeLogFont("Arial", -12 - (i % 3), i % 2 ? 700 : 400);
        auto table = gfx::CharWidthTable(r);
        sums[t] += table['a'];
        gfx::DrawTextBytes(s, 0, 0, *gfx::CreateFont(r), "abcdefghij", 10, 0, 0, kWhite);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 1; t < 4; ++t) EXPECT_EQ(sums[t], sums[0]);
}

}  // namespace
