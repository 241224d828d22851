#include "platform/gfx/TextDraw.h"

#include <algorithm>
#include <cstdint>

#include "platform/gfx/CodePage.h"

namespace platform::gfx {

int MeasureText(FontInstance& font, std::u16string_view text, int extra) {
  int64_t width = 0;
  for (char16_t ch : text) width += font.Advance(ch) + extra;
  return static_cast<int>(std::clamp<int64_t>(width, INT32_MIN / 2, INT32_MAX / 2));
}

int DrawText(Surface& surface, int x, int y, FontInstance& font, std::u16string_view text,
             int extra, COLORREF text_colour, COLORREF background_colour) {
  int width = MeasureText(font, text, extra);
  int ascent = font.Ascent();
  int cell = font.CellHeight();
  if (width > 0) surface.Fill(Rect{x, y, width, cell}, background_colour);

  int64_t pen = x;
  int64_t baseline = static_cast<int64_t>(y) + ascent;
  for (char16_t ch : text) {
    const Glyph& g = font.GlyphOf(ch);
    int advance = font.Advance(ch) + extra;
    if (g.width <= 0 || g.height <= 0) {  // blank: nothing to blend
      pen += advance;
      continue;
    }
    int64_t gx = pen + g.left;
    int64_t gy = baseline - g.top;
    // Rows and columns outside the surface are skipped before blending.
    for (int row = 0; row < g.height; ++row) {
      int64_t py = gy + row;
      if (py < 0 || py >= surface.Height()) continue;
      const uint8_t* cov = &g.coverage[static_cast<size_t>(row) * g.width];
      for (int col = 0; col < g.width; ++col) {
        int64_t px = gx + col;
        if (px < 0 || px >= surface.Width()) continue;
        surface.BlendPixel(static_cast<int>(px), static_cast<int>(py), text_colour, cov[col]);
      }
    }
    pen += advance;
  }

  const LOGFONTA& r = font.Record();
  if (width > 0 && r.lfUnderline)
    surface.Fill(
        Rect{x, static_cast<int>(baseline + font.UnderlineOffset()), width, font.LineThickness()},
        text_colour);
  if (width > 0 && r.lfStrikeOut)
    surface.Fill(
        Rect{x, static_cast<int>(baseline + font.StrikeOffset()), width, font.LineThickness()},
        text_colour);
  return width;
}

int DrawTextBytes(Surface& surface, int x, int y, FontInstance& font, const char* text,
                  size_t length, int extra, COLORREF text_colour, COLORREF background_colour) {
  if (text == nullptr) length = 0;
  std::u16string wide = BytesToUnicode(font.Record().lfCharSet, text, length);
  return DrawText(surface, x, y, font, wide, extra, text_colour, background_colour);
}

}  // namespace platform::gfx
