// Drawing and measuring text with a realised font.
//
// Text is drawn the way the window system's opaque text output goes: the
// cell (the advance of the whole run by the font's cell height) is filled
// with the background colour first, its top-left corner at (x, y); glyphs are
// blended over it in the text colour. The signed character extra is added
// after each character. Underline and strike-out of the font record run
// across the whole advance.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/gfx/Colour.h"
#include "platform/gfx/Font.h"
#include "platform/gfx/Surface.h"

namespace platform::gfx {

// The advance of a run: the sum of each character's advance plus the extra.
int MeasureText(FontInstance& font, std::u16string_view text, int extra);

// Draws 16-bit text (each code unit is one character); returns the advance.
int DrawText(Surface& surface, int x, int y, FontInstance& font, std::u16string_view text,
             int extra, COLORREF text_colour, COLORREF background_colour);

// Draws byte text, each byte read in the code page of the record's character set.
int DrawTextBytes(Surface& surface, int x, int y, FontInstance& font, const char* text,
                  size_t length, int extra, COLORREF text_colour, COLORREF background_colour);

}  // namespace platform::gfx
