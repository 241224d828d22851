// Font records, realised fonts and the process-wide font cache.
//
// A font is asked for with a record shaped like the window system's logical
// font. The backend realises it into a FontInstance: cell metrics, integer
// advances and grey glyph coverage. The same integer advance serves measuring
// and drawing, so text laid out from the width table lands exactly where it
// is drawn.
//
// Heights: a negative lfHeight is the em height in pixels (the character
// height); a positive one is the cell height (ascent + descent), the em
// being scaled so the font's cell fits it; 0 means an em of 16 pixels.
// Ems are kept between 1 and kMaxEmPixels. lfWidth, lfEscapement,
// lfOrientation, the precisions, lfQuality and lfPitchAndFamily do not
// change the result: text is always drawn upright with grey anti-aliasing.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform::gfx {

constexpr int kLfFaceSize = 32;
constexpr int kMaxEmPixels = 512;
constexpr int kDefaultEmPixels = 16;

struct LOGFONTA {
  int32_t lfHeight = 0;
  int32_t lfWidth = 0;
  int32_t lfEscapement = 0;
  int32_t lfOrientation = 0;
  int32_t lfWeight = 0;
  uint8_t lfItalic = 0;
  uint8_t lfUnderline = 0;
  uint8_t lfStrikeOut = 0;
  uint8_t lfCharSet = 0;
  uint8_t lfOutPrecision = 0;
  uint8_t lfClipPrecision = 0;
  uint8_t lfQuality = 0;
  uint8_t lfPitchAndFamily = 0;
  char lfFaceName[kLfFaceSize] = {};
};
static_assert(sizeof(LOGFONTA) == 60);

// A record with the face name set (cut to 31 bytes), the rest as given.
LOGFONTA MakeLogFont(const char* face, int32_t height, int32_t weight = 400, bool italic = false,
                     bool underline = false, uint8_t charset = 0);

// The face name of a record, read up to its terminator or its 32 bytes.
std::string FaceName(const LOGFONTA& font);

// One rendered glyph: 8-bit coverage rows, placed relative to the pen on the
// baseline (left bearing, and top as the distance above the baseline).
struct Glyph {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> coverage;  // width x height
};

// A realised font. Safe to use from several threads at once.
class FontInstance {
 public:
  virtual ~FontInstance() = default;

  const LOGFONTA& Record() const { return record_; }
  // Pixels above and below the baseline; their sum is the cell height.
  virtual int Ascent() const = 0;
  virtual int Descent() const = 0;
  int CellHeight() const { return Ascent() + Descent(); }
  // Underline and strike-out: the top row as an offset below the baseline
  // (strike-out: a negative offset, above it) and the thickness.
  virtual int UnderlineOffset() const = 0;
  virtual int StrikeOffset() const = 0;
  virtual int LineThickness() const = 0;

  // The integer advance of a code point, in pixels.
  virtual int Advance(char32_t ch) = 0;
  // The glyph of a code point; it lives as long as the font.
  virtual const Glyph& GlyphOf(char32_t ch) = 0;

  // The file and family the font came from ("" for the fake backend).
  virtual std::string Family() const = 0;
  virtual std::string File() const = 0;

  // Advances of the bytes 0 to 255 under the record's character set,
  // computed once per font.
  const std::array<int, 256>& ByteAdvances();

 protected:
  explicit FontInstance(const LOGFONTA& record) : record_(record) {}

 private:
  LOGFONTA record_;
  std::once_flag widths_once_;
  std::array<int, 256> widths_{};
};

class FontBackend {
 public:
  virtual ~FontBackend() = default;
  // Never null: a record that matches nothing gets the fallback face.
  virtual std::shared_ptr<FontInstance> Realise(const LOGFONTA& record) = 0;
};

// The backend fonts are realised with: FreeType with fontconfig unless a test
// installs another one (null restores the default). Installing clears the
// font cache.
void SetFontBackend(std::shared_ptr<FontBackend> backend);

// The font of a record, from the process-wide cache (one per distinct record).
std::shared_ptr<FontInstance> CreateFont(const LOGFONTA& record);

// The advances of bytes 0 to 255 for a record, from its cached font.
std::array<int, 256> CharWidthTable(const LOGFONTA& record);

// The FreeType and fontconfig backend (the default).
std::shared_ptr<FontBackend> MakeFreeTypeBackend();

// A backend for layout tests: every character advances `advance` pixels
// unless set otherwise, cells are ascent + descent high, and each glyph is a
// solid block one pixel narrower than its advance, from the baseline up to
// the ascent.
class FakeFontBackend : public FontBackend {
 public:
  FakeFontBackend(int advance, int ascent, int descent);
  void SetAdvance(char32_t ch, int advance);
  std::shared_ptr<FontInstance> Realise(const LOGFONTA& record) override;

  struct Shared;  // the widths, shared with the fonts it realised

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace platform::gfx
