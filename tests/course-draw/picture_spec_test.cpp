// Pictures from their text descriptions: what each command puts on the
// pixels, the refusals with their line and reason at each bound, the bitmap
// file layout, and the tool's command line, silence and all-or-nothing writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/gfx/Colour.h"
#include "tools/course-draw/BmpWriter.h"
#include "tools/course-draw/PictureSpec.h"

namespace fs = std::filesystem;
namespace gfx = platform::gfx;
using course_draw::DrawPictures;
using course_draw::Picture;
using course_draw::SpecError;

namespace {

constexpr gfx::COLORREF kWhite = 0xFFFFFF;
constexpr gfx::COLORREF kRed = 0x0000FF;  // COLORREF is 0x00BBGGRR
constexpr gfx::COLORREF kBlue = 0xFF0000;

std::vector<Picture> Draw(const std::string& text) {
  std::vector<Picture> pictures;
  SpecError error;
  EXPECT_TRUE(DrawPictures(text, pictures, error)) << error.line << ": " << error.what;
  return pictures;
}

SpecError Refused(const std::string& text) {
  std::vector<Picture> pictures;
  SpecError error;
  EXPECT_FALSE(DrawPictures(text, pictures, error));
  EXPECT_TRUE(pictures.empty());
  return error;
}

TEST(PictureSpec, CommandsDrawWhereTheySay) {
  auto pictures = Draw(
      "# a comment\n"
      "\n"
      "picture a.png 20 12 FFFFFF\r\n"  // CR LF lines read the same
      "fill 2 3 4 2 FF0000\n"
      "frame 10 1 6 5 0000FF\n"
      "line 0 11 3 8 FF0000\n"
      "origin 5 0\n"
      "fill 0 10 1 1 0000FF\n"
      "picture b.bmp 3 2 000000\n"
      "fill 0 0 1 1 FFFFFF\n");
  ASSERT_EQ(pictures.size(), 2u);
  const gfx::Surface& a = pictures[0].surface;
  EXPECT_FALSE(pictures[0].bmp);
  EXPECT_TRUE(pictures[1].bmp);
  EXPECT_EQ(a.Width(), 20);
  EXPECT_EQ(a.Height(), 12);
  EXPECT_EQ(a.GetPixel(0, 0), kWhite);
  EXPECT_EQ(a.GetPixel(2, 3), kRed);
  EXPECT_EQ(a.GetPixel(5, 4), kRed);
  EXPECT_EQ(a.GetPixel(6, 4), kWhite);
  EXPECT_EQ(a.GetPixel(5, 5), kWhite);
  // A frame is its outline only.
  EXPECT_EQ(a.GetPixel(10, 1), kBlue);
  EXPECT_EQ(a.GetPixel(15, 5), kBlue);
  EXPECT_EQ(a.GetPixel(12, 3), kWhite);
  // A line has both its ends.
  EXPECT_EQ(a.GetPixel(0, 11), kRed);
  EXPECT_EQ(a.GetPixel(3, 8), kRed);
  // origin moves what follows.
  EXPECT_EQ(a.GetPixel(5, 10), kBlue);
  EXPECT_EQ(a.GetPixel(0, 10), kWhite);
  // origin belongs to its picture.
  EXPECT_EQ(pictures[1].surface.GetPixel(0, 0), kWhite);
}

TEST(PictureSpec, EllipsesFillTheirBoxSymmetrically) {
  auto pictures = Draw("picture e.png 12 8 000000\nellipse 1 1 10 6 FFFFFF\n");
  const gfx::Surface& s = pictures[0].surface;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 12; ++x) {
      EXPECT_EQ(s.GetPixel(x, y), s.GetPixel(11 - x, y)) << x << "," << y;
      EXPECT_EQ(s.GetPixel(x, y), s.GetPixel(x, 7 - y)) << x << "," << y;
    }
  }
  EXPECT_EQ(s.GetPixel(6, 4), kWhite);  // the centre
  EXPECT_EQ(s.GetPixel(1, 4), kWhite);  // the ends of the long axis
  EXPECT_EQ(s.GetPixel(6, 1), kWhite);
  EXPECT_EQ(s.GetPixel(1, 1), 0u);  // corners of the box stay
  EXPECT_EQ(s.GetPixel(0, 4), 0u);  // nothing outside the box
}

TEST(PictureSpec, TextIsBlendedWithoutFillingItsCell) {
  auto pictures = Draw(
      "picture t.png 80 30 00FF00\n"
      "text 4 4 16 bold 0000FF Hola ñ\n");
  const gfx::Surface& s = pictures[0].surface;
  int inked = 0;
  int other = 0;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 80; ++x) {
      const gfx::COLORREF p = s.GetPixel(x, y);
      if (p == kBlue) ++inked;  // RRGGBB 0000FF
      // Every pixel is the green background, the blue ink or a blend of
      // the two: the cell was not filled with a colour of its own.
      const int r = p & 0xFF, g = (p >> 8) & 0xFF, b = (p >> 16) & 0xFF;
      if (r != 0 || g + b < 250 || g + b > 260) ++other;
    }
  }
  EXPECT_GT(inked, 20);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(s.GetPixel(4, 4), 0x00FF00u);  // the cell's corner keeps the picture
}

TEST(PictureSpec, RefusalsNameTheLineAndTheReason) {
  struct Case {
    std::string text;
    int line;
    std::string what;
  } cases[] = {
      {"fill 0 0 1 1 000000\n", 1, "'fill' before any picture line"},
      {"picture a.png 1 1 000000\n\nblur 1\n", 3, "unknown command 'blur'"},
      {"picture a.png 1 1 000000\nfill 0 0 1 000000\n", 2, "expected 'fill X Y W H C'"},
      {"picture a.png 1 1 000000\nline 0 0 1 1 000000 9\n", 2, "expected 'line X1 Y1 X2 Y2 C'"},
      {"picture a.png 1 1 000000\nfill 0 x 1 1 000000\n", 2, "bad number 'x'"},
      {"picture a.png 1 1 000000\nfill 0 0 1 1 12345\n", 2, "bad colour '12345' (RRGGBB)"},
      {"picture a.png 1 1 00000G\n", 1, "bad colour '00000G' (RRGGBB)"},
      {"picture a.gif 1 1 000000\n", 1, "picture name 'a.gif' must end in .png or .bmp"},
      {"picture ../a.png 1 1 000000\n", 1, "picture name '../a.png' must be a plain file name"},
      {"picture a.png 1 1 000000\npicture a.png 1 1 000000\n", 2, "picture 'a.png' drawn twice"},
      {"picture a.png 1 1 000000\nfill 0 0 0 1 000000\n", 2, "W and H must be above 0"},
      {"picture a.png 1 1 000000\ntext 0 0 10 thin 000000 a\n", 2,
       "unknown style 'thin' (regular, bold, italic or bolditalic)"},
      {"picture a.png 1 1 000000\ntext 0 0 10 bold 000000\n", 2,
       "expected 'text X Y SIZE regular|bold|italic|bolditalic C TEXT...'"},
      {"picture a.png 1 1 000000\ntext 0 0 10 bold 000000 \xC3\n", 2, "text is not UTF-8"},
      {"picture a.png 1 1 000000\ntext 0 0 10 bold 000000 \xF0\x9F\x98\x80\n", 2,
       "character above U+FFFF in the text"},
      {std::string("picture a.png 1 1 000000\nfill 0 0 1 1 0\0 000000\n", 45), 2,
       "NUL byte in the line"},
  };
  for (const auto& c : cases) {
    SpecError error = Refused(c.text);
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(error.what, c.what) << c.text;
  }
}

TEST(PictureSpec, BoundsAtTheLimitAndOnePast) {
  // Picture sides.
  EXPECT_EQ(Draw("picture a.png 8192 1 000000\n")[0].surface.Width(), 8192);
  EXPECT_EQ(Refused("picture a.png 8193 1 000000\n").what, "size 8193x1 out of range (1 to 8192)");
  EXPECT_EQ(Refused("picture a.png 1 0 000000\n").what, "size 1x0 out of range (1 to 8192)");
  // Text sizes.
  Draw("picture a.png 4 4 000000\ntext 0 0 200 regular FFFFFF A\n");
  EXPECT_EQ(Refused("picture a.png 4 4 000000\ntext 0 0 201 regular FFFFFF A\n").what,
            "text size 201 out of range (1 to 200)");
  EXPECT_EQ(Refused("picture a.png 4 4 000000\ntext 0 0 0 regular FFFFFF A\n").what,
            "text size 0 out of range (1 to 200)");
  // Coordinates.
  Draw("picture a.png 4 4 000000\nfill -100000 100000 1 1 FFFFFF\n");
  EXPECT_EQ(Refused("picture a.png 4 4 000000\nfill 100001 0 1 1 FFFFFF\n").what,
            "number 100001 out of range (at most 100000 either way)");
  EXPECT_EQ(Refused("picture a.png 4 4 000000\norigin -100001 0\n").what,
            "number -100001 out of range (at most 100000 either way)");
}

TEST(PictureSpec, SameTextSamePixels) {
  const std::string text =
      "picture a.png 60 20 FFFFFF\nellipse 2 2 30 16 112233\ntext 1 1 12 italic 445566 Señor\n";
  EXPECT_EQ(Draw(text)[0].surface.Pixels(), Draw(text)[0].surface.Pixels());
}

TEST(BmpWriter, TwentyFourBitsBottomUpPaddedRows) {
  gfx::Surface s(3, 2);
  s.SetPixel(0, 0, gfx::Rgb(1, 2, 3));  // top-left
  s.SetPixel(2, 1, gfx::Rgb(7, 8, 9));  // bottom-right
  const std::vector<uint8_t> b = course_draw::EncodeBmp24(s);
  ASSERT_EQ(b.size(), 54u + 2 * 12);  // rows of 9 bytes padded to 12
  auto u32 = [&](size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24; };
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(u32(2), b.size());
  EXPECT_EQ(u32(10), 54u);
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 3u);
  EXPECT_EQ(u32(22), 2u);  // positive height: bottom-up
  EXPECT_EQ(b[28], 24);
  EXPECT_EQ(u32(30), 0u);  // BI_RGB
  EXPECT_EQ(u32(34), 24u);
  // The bottom row comes first, pixels blue, green, red.
  EXPECT_EQ(b[54 + 6], 9);
  EXPECT_EQ(b[54 + 7], 8);
  EXPECT_EQ(b[54 + 8], 7);
  EXPECT_EQ(b[54 + 12], 3);
  EXPECT_EQ(b[54 + 13], 2);
  EXPECT_EQ(b[54 + 14], 1);
  EXPECT_TRUE(course_draw::EncodeBmp24(gfx::Surface()).empty());
}

class CourseDrawTool : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/course-draw-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    tool_ = std::string(LECTORIA_BIN_DIR) + "/course-draw";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // Exit code; stdout and stderr go to files.
  int Run(const std::string& args) {
    int status = std::system(
        (tool_ + " " + args + " > " + (dir_ / "out").string() + " 2> " + (dir_ / "err").string())
            .c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path dir_;
  std::string tool_;
};

TEST_F(CourseDrawTool, WritesEachPictureSilently) {
  Write("s.draw", "picture one.png 5 4 102030\npicture two.bmp 6 2 405060\n");
  const std::string out = (dir_ / "pics").string();
  ASSERT_EQ(Run((dir_ / "s.draw").string() + " " + out), 0);
  EXPECT_EQ(Read(dir_ / "out"), "");
  EXPECT_EQ(Read(dir_ / "err"), "");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"one.png", "two.bmp"}));
  // An 8-bit RGB PNG: no alpha, no transparency or time chunk.
  const std::string png = Read(fs::path(out) / "one.png");
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(png[24], 8);  // bit depth
  EXPECT_EQ(png[25], 2);  // colour type RGB
  EXPECT_EQ(png.find("tRNS"), std::string::npos);
  EXPECT_EQ(png.find("tIME"), std::string::npos);
  EXPECT_EQ(Read(fs::path(out) / "two.bmp").substr(0, 2), "BM");
  // Deterministic: a second run gives the same bytes.
  const std::string again = (dir_ / "again").string();
  ASSERT_EQ(Run((dir_ / "s.draw").string() + " " + again), 0);
  EXPECT_EQ(Read(fs::path(again) / "one.png"), png);
}

TEST_F(CourseDrawTool, ABadLineWritesNothing) {
  Write("bad.draw", "picture one.png 5 4 102030\npicture two.png 5 4 102030\nfill 1 1 1\n");
  const fs::path out = dir_ / "pics";
  fs::create_directories(out);
  std::ofstream(out / "keep.txt") << "kept";
  const std::string spec = (dir_ / "bad.draw").string();
  EXPECT_EQ(Run(spec + " " + out.string()), 1);
  EXPECT_EQ(Read(dir_ / "err"), "course-draw: " + spec + ":3: expected 'fill X Y W H C'\n");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(Run((dir_ / "missing.draw").string() + " " + out.string()), 1);
  EXPECT_EQ(Read(dir_ / "err"),
            "course-draw: " + (dir_ / "missing.draw").string() + ": cannot be read\n");
}

TEST_F(CourseDrawTool, UsageExitsTwo) {
  EXPECT_EQ(Run(""), 2);
  EXPECT_EQ(Read(dir_ / "err"), "usage: course-draw SPEC OUT_FOLDER\n");
  EXPECT_EQ(Run("a b c"), 2);
}

}  // namespace
