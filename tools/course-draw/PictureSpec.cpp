#include "tools/course-draw/PictureSpec.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "platform/gfx/Font.h"
#include "platform/gfx/TextDraw.h"
#include "tools/course-draw/BmpWriter.h"

namespace course_draw {

namespace gfx = platform::gfx;

namespace {

struct Fields {
  std::vector<std::string> words;
  std::string rest;  // the line after the sixth word (the text of a text command)
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

Fields Split(const std::string& line) {
  Fields out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    if (out.words.size() == 6) {
      size_t end = line.size();
      while (end > i && IsBlank(line[end - 1])) --end;
      out.rest = line.substr(i, end - i);
      break;
    }
    size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    out.words.push_back(line.substr(start, i - start));
  }
  return out;
}

class Reader {
 public:
  explicit Reader(std::vector<Picture>& pictures) : pictures_(pictures) {}

  bool Line(const std::string& raw, SpecError& error) {
    error_ = &error;
    Fields f = Split(raw);
    if (f.words.empty() || f.words[0][0] == '#') return true;
    const std::string& command = f.words[0];
    if (command == "picture") return NewPicture(f);
    if (command != "fill" && command != "frame" && command != "line" && command != "ellipse" &&
        command != "text" && command != "origin") {
      return Fail("unknown command '" + command + "'");
    }
    if (pictures_.empty()) return Fail("'" + command + "' before any picture line");
    if (command == "text") return Text(f);
    if (command == "origin") {
      long x, y;
      if (!Count(f, 3, "origin X Y") || !Number(f.words[1], x) || !Number(f.words[2], y)) {
        return false;
      }
      origin_x_ = x;
      origin_y_ = y;
      return true;
    }
    long a, b, c, d;
    gfx::COLORREF colour;
    const std::string form = command + (command == "line" ? " X1 Y1 X2 Y2 C" : " X Y W H C");
    if (!Count(f, 6, form) || !Number(f.words[1], a) || !Number(f.words[2], b) ||
        !Number(f.words[3], c) || !Number(f.words[4], d) || !Colour(f.words[5], colour)) {
      return false;
    }
    gfx::Surface& s = pictures_.back().surface;
    const int x = static_cast<int>(a + origin_x_);
    const int y = static_cast<int>(b + origin_y_);
    if (command == "line") {
      const int x2 = static_cast<int>(c + origin_x_);
      const int y2 = static_cast<int>(d + origin_y_);
      s.DrawLine(x, y, x2, y2, colour);
      s.SetPixel(x2, y2, colour);  // the layer leaves the end point out
      return true;
    }
    if (c <= 0 || d <= 0) return Fail("W and H must be above 0");
    const int w = static_cast<int>(c);
    const int h = static_cast<int>(d);
    if (command == "fill") {
      s.Fill(gfx::Rect{x, y, w, h}, colour);
    } else if (command == "frame") {
      s.Fill(gfx::Rect{x, y, w, 1}, colour);
      s.Fill(gfx::Rect{x, y + h - 1, w, 1}, colour);
      s.Fill(gfx::Rect{x, y, 1, h}, colour);
      s.Fill(gfx::Rect{x + w - 1, y, 1, h}, colour);
    } else {
      Ellipse(s, x, y, w, h, colour);
    }
    return true;
  }

 private:
  bool Fail(const std::string& what) {
    error_->what = what;
    return false;
  }

  bool Count(const Fields& f, size_t n, const std::string& form) {
    if (f.words.size() == n && f.rest.empty()) return true;
    return Fail("expected '" + form + "'");
  }

  bool Number(const std::string& word, long& value) {
    size_t i = (word[0] == '-' || word[0] == '+') ? 1 : 0;
    if (i == word.size() || word.size() > 12) return Fail("bad number '" + word + "'");
    for (size_t k = i; k < word.size(); ++k) {
      if (word[k] < '0' || word[k] > '9') return Fail("bad number '" + word + "'");
    }
    value = std::strtol(word.c_str(), nullptr, 10);
    if (value > kMaxCoordinate || value < -kMaxCoordinate) {
      return Fail("number " + word + " out of range (at most " + std::to_string(kMaxCoordinate) +
                  " either way)");
    }
    return true;
  }

  bool Colour(const std::string& word, gfx::COLORREF& colour) {
    if (word.size() != 6 || !std::all_of(word.begin(), word.end(), [](char c) {
          return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        })) {
      return Fail("bad colour '" + word + "' (RRGGBB)");
    }
    const unsigned long rgb = std::strtoul(word.c_str(), nullptr, 16);
    colour = gfx::Rgb(static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                      static_cast<uint8_t>(rgb));
    return true;
  }

  bool NewPicture(const Fields& f) {
    long w, h;
    gfx::COLORREF colour;
    if (!Count(f, 5, "picture NAME W H RRGGBB")) return false;
    const std::string& name = f.words[1];
    const bool png = name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0;
    const bool bmp = name.size() > 4 && name.compare(name.size() - 4, 4, ".bmp") == 0;
    if (!png && !bmp) return Fail("picture name '" + name + "' must end in .png or .bmp");
    if (name.find('/') != std::string::npos || name[0] == '.') {
      return Fail("picture name '" + name + "' must be a plain file name");
    }
    if (!names_.insert(name).second) return Fail("picture '" + name + "' drawn twice");
    if (!Number(f.words[2], w) || !Number(f.words[3], h) || !Colour(f.words[4], colour)) {
      return false;
    }
    if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide) {
      return Fail("size " + f.words[2] + "x" + f.words[3] + " out of range (1 to " +
                  std::to_string(kMaxSide) + ")");
    }
    course_draw::Picture picture;
    picture.name = name;
    picture.bmp = bmp;
    picture.surface = gfx::Surface(static_cast<int>(w), static_cast<int>(h));
    picture.surface.Fill(gfx::Rect{0, 0, static_cast<int>(w), static_cast<int>(h)}, colour);
    pictures_.push_back(std::move(picture));
    origin_x_ = 0;
    origin_y_ = 0;
    return true;
  }

  // UTF-8 to UTF-16; characters above U+FFFF are refused (one code unit each).
  bool Utf16(const std::string& text, std::u16string& out) {
    for (size_t i = 0; i < text.size();) {
      const unsigned char b = static_cast<unsigned char>(text[i]);
      int extra = b < 0x80             ? 0
                  : (b & 0xE0) == 0xC0 ? 1
                  : (b & 0xF0) == 0xE0 ? 2
                  : (b & 0xF8) == 0xF0 ? 3
                                       : -1;
      if (extra < 0 || i + static_cast<size_t>(extra) >= text.size()) {
        return Fail("text is not UTF-8");
      }
      uint32_t cp = extra == 0 ? b : b & (0x3F >> extra);
      for (int k = 1; k <= extra; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80) return Fail("text is not UTF-8");
        cp = (cp << 6) | (c & 0x3F);
      }
      static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
      if (cp < kLeast[extra] || (cp >= 0xD800 && cp <= 0xDFFF)) return Fail("text is not UTF-8");
      if (cp > 0xFFFF) return Fail("character above U+FFFF in the text");
      out.push_back(static_cast<char16_t>(cp));
      i += static_cast<size_t>(extra) + 1;
    }
    return true;
  }

  bool Text(const Fields& f) {
    if (f.words.size() < 6 || f.rest.empty()) {
      return Fail("expected 'text X Y SIZE regular|bold|italic|bolditalic C TEXT...'");
    }
    long x, y, size;
    gfx::COLORREF colour;
    if (!Number(f.words[1], x) || !Number(f.words[2], y) || !Number(f.words[3], size)) return false;
    if (size < 1 || size > kMaxTextSize) {
      return Fail("text size " + f.words[3] + " out of range (1 to " +
                  std::to_string(kMaxTextSize) + ")");
    }
    const std::string& style = f.words[4];
    if (style != "regular" && style != "bold" && style != "italic" && style != "bolditalic") {
      return Fail("unknown style '" + style + "' (regular, bold, italic or bolditalic)");
    }
    if (!Colour(f.words[5], colour)) return false;
    std::u16string text;
    if (!Utf16(f.rest, text)) return false;
    const bool bold = style == "bold" || style == "bolditalic";
    const bool italic = style == "italic" || style == "bolditalic";
    auto font = gfx::CreateFont(
        gfx::MakeLogFont("Arial", -static_cast<int32_t>(size), bold ? 700 : 400, italic));
    // The layer draws text on a filled cell: draw white on black aside and
    // use it as the coverage of the colour, so only the glyphs reach the
    // picture. The margin keeps overhangs (italics, bearings) whole.
    const int margin = static_cast<int>(size);
    const int width = gfx::MeasureText(*font, text, 0) + 2 * margin;
    const int height = font->CellHeight() + margin;
    gfx::Surface mask(width, height);
    gfx::DrawText(mask, margin, 0, *font, text, 0, 0xFFFFFF, 0x000000);
    gfx::Surface& s = pictures_.back().surface;
    const long left = x + origin_x_ - margin;
    const long top = y + origin_y_;
    for (int row = 0; row < mask.Height(); ++row) {
      for (int col = 0; col < mask.Width(); ++col) {
        const uint8_t coverage = static_cast<uint8_t>(mask.Row(row)[col] & 0xFF);
        if (coverage == 0) continue;
        s.BlendPixel(static_cast<int>(left + col), static_cast<int>(top + row), colour, coverage);
      }
    }
    return true;
  }

  // Pixels whose centres lie inside the ellipse inscribed in the rectangle,
  // in integers: with the centre doubled, (2px + 1 - w)^2 h^2 + (2py + 1 - h)^2 w^2 <= w^2 h^2.
  static void Ellipse(gfx::Surface& s, int x, int y, int w, int h, gfx::COLORREF colour) {
    const int64_t ww = static_cast<int64_t>(w) * w;
    const int64_t hh = static_cast<int64_t>(h) * h;
    for (int py = 0; py < h; ++py) {
      const int64_t dy = 2 * static_cast<int64_t>(py) + 1 - h;
      int first = -1;
      int last = -1;
      for (int px = 0; px < w; ++px) {
        const int64_t dx = 2 * static_cast<int64_t>(px) + 1 - w;
        if (dx * dx * hh + dy * dy * ww <= ww * hh) {
          if (first < 0) first = px;
          last = px;
        }
      }
      if (first >= 0) s.Fill(gfx::Rect{x + first, y + py, last - first + 1, 1}, colour);
    }
  }

  std::vector<course_draw::Picture>& pictures_;
  std::set<std::string> names_;
  long origin_x_ = 0;
  long origin_y_ = 0;
  SpecError* error_ = nullptr;
};

}  // namespace

bool DrawPictures(const std::string& text, std::vector<Picture>& pictures, SpecError& error) {
  std::vector<Picture> drawn;
  Reader reader(drawn);
  int number = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++number;
    if (line.find('\0') != std::string::npos) {
      error = SpecError{number, "NUL byte in the line"};
      return false;
    }
    if (!reader.Line(line, error)) {
      error.line = number;
      return false;
    }
    at = end + 1;
  }
  pictures = std::move(drawn);
  return true;
}

bool WritePicture(const Picture& picture, const std::string& path, std::string* error) {
  if (picture.bmp) return WriteBmp24(picture.surface, path, error);
  return gfx::WritePng(picture.surface, path, error);
}

}  // namespace course_draw
