// Bitmaps made from RGB memory: frames cut out of a strip, rows padded to
// four bytes, the placeholder, and the refusals that keep a frame inside
// its strip.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/TGestorBMP.h"

namespace {

using platform::gfx::Rgb;

// A strip whose pixel (x, y) is (x, y, x + 10 y).
std::vector<uint8_t> Strip(uint32_t width, uint32_t height) {
  std::vector<uint8_t> out;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      out.insert(out.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                             static_cast<uint8_t>(x + 10 * y)});
  return out;
}

bool IsPlaceholder(HBITMAP b) {
  return b != nullptr && b->Width() == 30 && b->Height() == 30 && b->GetPixel(0, 0) == 0 &&
         b->GetPixel(5, 10) == 0xFFFFFF && b->GetPixel(10, 10) == 0 && b->GetPixel(29, 29) == 0;
}

class BmpFrames : public testing::Test {
 protected:
  // Deletes the bitmap, telling whether it is the placeholder.
  bool Placeholder(HBITMAP b) {
    const bool is = IsPlaceholder(b);
    bmp_.DeleteBitmap(b);
    return is;
  }
  TGestorGDI gdi_;
  TGestorBMP bmp_{nullptr, &gdi_, nullptr};
};

TEST_F(BmpFrames, FramesAreCountedFromTheRightEndOfTheStrip) {
  const std::vector<uint8_t> strip = Strip(30, 2);
  // Frame a starts at column (3 - a - 1) x 10.
  for (uint8_t a = 0; a < 3; ++a) {
    SCOPED_TRACE(static_cast<int>(a));
    for (bool sized : {false, true}) {
      HBITMAP frame = sized ? bmp_.BitmapFromRGBFrame(0, a, 10, 2, strip.data(), 3, 30, 2)
                            : bmp_.BitmapFromRGBFrame(0, a, 10, 2, strip.data(), 3);
      uint16_t w = 0, h = 0;
      bmp_.BitmapSize(frame, w, h);
      ASSERT_EQ(w, 10);
      ASSERT_EQ(h, 2);
      const int first = (2 - a) * 10;
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 10; ++x)
          EXPECT_EQ(frame->GetPixel(x, y), Rgb(first + x, y, first + x + 10 * y)) << x << "," << y;
      bmp_.DeleteBitmap(frame);
    }
  }
}

TEST_F(BmpFrames, OddWidthsArePaddedPerRow) {
  // Width 5: 15 bytes of pixels and one of padding a row. A wrong stride
  // would shift every row after the first.
  const std::vector<uint8_t> image = Strip(5, 4);
  HBITMAP b = bmp_.BitmapFromRGBFrame(0, 0, 5, 4, image.data(), 1, 5, 4);
  ASSERT_EQ(b->Width(), 5);
  ASSERT_EQ(b->Height(), 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(b->GetPixel(x, y), Rgb(x, y, x + 10 * y));
  bmp_.DeleteBitmap(b);
}

TEST_F(BmpFrames, PlaceholderIsABorderedCrossWithItsLastRowAndColumnBlack) {
  HBITMAP first = bmp_.BitmapNoEncontrado();
  HBITMAP second = bmp_.BitmapNoEncontrado();
  EXPECT_NE(first, second);
  const COLORREF black = 0x000000, white = 0xFFFFFF;
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(first->GetPixel(i, 29), black);
    EXPECT_EQ(first->GetPixel(29, i), black);
  }
  for (int i = 0; i < 29; ++i) {
    EXPECT_EQ(first->GetPixel(i, 0), black);
    EXPECT_EQ(first->GetPixel(i, 28), black);
    EXPECT_EQ(first->GetPixel(i, i), black);       // (0,0) to (29,29) without its end
    EXPECT_EQ(first->GetPixel(i, 29 - i), black);  // (0,29) to (29,0) without its end
  }
  EXPECT_EQ(first->GetPixel(5, 10), white);
  EXPECT_EQ(first->GetPixel(27, 1), white);
  EXPECT_EQ(first->GetPixel(1, 2), white);
  EXPECT_EQ(first->GetPixel(27, 26), white);
  EXPECT_EQ(first->Pixels(), second->Pixels());
  bmp_.DeleteBitmap(first);
  bmp_.DeleteBitmap(second);
}

TEST_F(BmpFrames, FramesThatDoNotFitTheStripGiveThePlaceholder) {
  const std::vector<uint8_t> strip = Strip(30, 2);
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 10, 2, nullptr, 3)));
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 10, 2, nullptr, 3, 30, 2)));
  // Without the strip's size: a frame past the count, or no frames.
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 3, 10, 2, strip.data(), 3)));
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 255, 10, 2, strip.data(), 3)));
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 10, 2, strip.data(), 0)));
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 0, 2, strip.data(), 3)));
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 10, 0, strip.data(), 3)));
  // With it: a strip narrower or shorter than n frames of w x h.
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 10, 2, strip.data(), 3, 29, 2)));
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 10, 2, strip.data(), 3, 30, 1)));
  // A wider strip would skew every row after the first.
  const std::vector<uint8_t> wide = Strip(31, 2);
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 10, 2, wide.data(), 3, 31, 2)));
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 11, 2, strip.data(), 3, 30, 2)));
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 10, 3, strip.data(), 3, 30, 2)));
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 3, 10, 2, strip.data(), 3, 30, 2)));
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 10, 2, strip.data(), 0, 30, 2)));
  // Frames too large to draw are refused before anything is allocated.
  EXPECT_TRUE(Placeholder(bmp_.BitmapFromRGBFrame(0, 0, 20000, 1, strip.data(), 1)));
  // The sides fit and the frame is right.
  HBITMAP fits = bmp_.BitmapFromRGBFrame(0, 1, 10, 2, strip.data(), 3, 30, 2);
  EXPECT_EQ(fits->GetPixel(0, 1), Rgb(10, 1, 20));
  bmp_.DeleteBitmap(fits);

  uint16_t w = 7, h = 7;
  bmp_.BitmapSize(nullptr, w, h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
}

}  // namespace
