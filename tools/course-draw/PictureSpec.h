// Pictures described line by line in a text file, drawn with the drawing
// layer. Each picture starts with
//
//   picture NAME W H RRGGBB        (NAME ends in .png or .bmp; filled with RRGGBB)
//
// and is drawn by the commands that follow it, in order:
//
//   fill X Y W H C                 a filled rectangle
//   frame X Y W H C                its 1-pixel outline
//   line X1 Y1 X2 Y2 C             a 1-pixel line, both ends drawn
//   ellipse X Y W H C              the filled ellipse inside the rectangle
//   text X Y SIZE STYLE C TEXT...  UTF-8 text in Arial of SIZE pixels, STYLE
//                                  regular, bold, italic or bolditalic, its
//                                  cell's top-left corner at X, Y, blended
//                                  over what is there (the cell is not filled)
//   origin X Y                     adds X, Y to the positions of what follows
//                                  (until the next origin or picture)
//
// C is RRGGBB in hex. Lines starting with '#' and blank lines are skipped.
// Everything is clipped to the picture; the same text gives the same pixels.
#pragma once

#include <string>
#include <vector>

#include "platform/gfx/Surface.h"

namespace course_draw {

// Largest side of a picture, and largest text size.
constexpr int kMaxSide = 8192;
constexpr int kMaxTextSize = 200;
// Coordinates and extents of the commands stay within this magnitude.
constexpr long kMaxCoordinate = 100000;

struct Picture {
  std::string name;  // as written in its picture line
  bool bmp = false;  // written as a 24-bit bitmap, else as a PNG
  platform::gfx::Surface surface;
};

struct SpecError {
  int line = 0;  // 1-based
  std::string what;
};

// Reads the whole description and draws every picture. False at the first
// bad line, with its number and what is wrong; no picture is returned then.
bool DrawPictures(const std::string& text, std::vector<Picture>& pictures, SpecError& error);

// Writes the picture to the path, as a PNG or a bitmap by its name; false
// with the reason in *error.
bool WritePicture(const Picture& picture, const std::string& path, std::string* error);

}  // namespace course_draw
