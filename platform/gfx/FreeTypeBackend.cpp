// Fonts realised with fontconfig (matching) and FreeType (metrics, glyphs).
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/gfx/Font.h"
#include "platform/gfx/FontsConf.h"

namespace platform::gfx {
namespace {

// The FreeType library and the fontconfig configuration of the process.
// FreeType asks for faces to be made and dropped under one lock.
struct Library {
  std::mutex mutex;
  FT_Library ft = nullptr;
  FcConfig* config = nullptr;

  Library() {
    if (FT_Init_FreeType(&ft) != 0) ft = nullptr;
    config = FcInitLoadConfigAndFonts();
    if (config != nullptr)
      FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(kFontsConf), FcTrue);
  }
  ~Library() {
    if (config != nullptr) FcConfigDestroy(config);
    if (ft != nullptr) FT_Done_FreeType(ft);
  }
};

struct Match {
  std::string file;
  int index = 0;
  std::string family;
  bool embolden = false;
};

int Round(double v) {
  return static_cast<int>(std::lround(v));
}

// What fontconfig picks for the record at the em size.
bool FindFace(Library& lib, const LOGFONTA& record, int em, Match& out) {
  if (lib.config == nullptr) return false;
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) return false;
  std::string face = FaceName(record);
  if (face.empty()) face = "sans-serif";
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
  int weight = record.lfWeight <= 0 ? 400 : std::min(record.lfWeight, 1000);
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(pattern, FC_SLANT, record.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddDouble(pattern, FC_PIXEL_SIZE, em);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(lib.config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(lib.config, pattern, &result);
  FcPatternDestroy(pattern);
  if (match == nullptr) return false;
  FcChar8* file = nullptr;
  FcChar8* family = nullptr;
  FcBool embolden = FcFalse;
  bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr;
  if (ok) {
    out.file = reinterpret_cast<const char*>(file);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &out.index) != FcResultMatch) out.index = 0;
    if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch && family != nullptr)
      out.family = reinterpret_cast<const char*>(family);
    if (FcPatternGetBool(match, FC_EMBOLDEN, 0, &embolden) == FcResultMatch)
      out.embolden = embolden == FcTrue;
  }
  FcPatternDestroy(match);
  return ok;
}

class FreeTypeFont : public FontInstance {
 public:
  FreeTypeFont(const LOGFONTA& record, std::shared_ptr<Library> lib, FT_Face face, Match match)
      : FontInstance(record), lib_(std::move(lib)), face_(face), match_(std::move(match)) {
    Setup();
  }
  ~FreeTypeFont() override {
    std::lock_guard<std::mutex> lock(lib_->mutex);
    FT_Done_Face(face_);
  }

  int Ascent() const override { return ascent_; }
  int Descent() const override { return descent_; }
  int UnderlineOffset() const override { return underline_offset_; }
  int StrikeOffset() const override { return strike_offset_; }
  int LineThickness() const override { return thickness_; }
  int Advance(char32_t ch) override { return Entry(ch).advance; }
  const Glyph& GlyphOf(char32_t ch) override { return Entry(ch).glyph; }
  std::string Family() const override { return match_.family; }
  std::string File() const override { return match_.file; }

 private:
  struct CacheEntry {
    int advance = 0;
    Glyph glyph;
  };

  void Setup();
  const CacheEntry& Entry(char32_t ch);

  std::shared_ptr<Library> lib_;
  FT_Face face_;
  Match match_;
  bool synth_italic_ = false;
  int ascent_ = 0;
  int descent_ = 0;
  int underline_offset_ = 1;
  int strike_offset_ = 0;
  int thickness_ = 1;
  std::mutex mutex_;  // the face and the cache
  std::unordered_map<char32_t, CacheEntry> cache_;
};

void FreeTypeFont::Setup() {
  const LOGFONTA& r = Record();
  double upem = face_->units_per_EM > 0 ? face_->units_per_EM : 2048;
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
  double asc_units = os2 != nullptr && os2->usWinAscent > 0 ? os2->usWinAscent : face_->ascender;
  double desc_units = os2 != nullptr && os2->usWinDescent > 0
                          ? os2->usWinDescent
                          : -static_cast<double>(face_->descender);
  if (asc_units <= 0) asc_units = upem * 0.8;
  if (desc_units < 0) desc_units = 0;

  int em = kDefaultEmPixels;
  if (r.lfHeight < 0) {
    em = r.lfHeight == INT32_MIN ? kMaxEmPixels : -r.lfHeight;
  } else if (r.lfHeight > 0) {
    em = Round(r.lfHeight * upem / (asc_units + desc_units));
  }
  em = std::clamp(em, 1, kMaxEmPixels);
  FT_Set_Pixel_Sizes(face_, 0, static_cast<FT_UInt>(em));

  ascent_ = Round(asc_units * em / upem);
  descent_ = Round(desc_units * em / upem);
  thickness_ = std::max(1, Round(face_->underline_thickness * em / upem));
  int under = Round(-face_->underline_position * em / upem - thickness_ / 2.0);
  underline_offset_ = std::clamp(under, 0, std::max(0, descent_ - thickness_));
  double strike_units =
      os2 != nullptr && os2->yStrikeoutPosition > 0 ? os2->yStrikeoutPosition : asc_units * 0.3;
  strike_offset_ = -Round(strike_units * em / upem);
  synth_italic_ = r.lfItalic != 0 && (face_->style_flags & FT_STYLE_FLAG_ITALIC) == 0;
}

const FreeTypeFont::CacheEntry& FreeTypeFont::Entry(char32_t ch) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = cache_.find(ch);
  if (it != cache_.end()) return it->second;
  CacheEntry entry;
  FT_UInt index = FT_Get_Char_Index(face_, ch);
  if (FT_Load_Glyph(face_, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL) ==
      0) {
    FT_GlyphSlot slot = face_->glyph;
    if (match_.embolden) FT_GlyphSlot_Embolden(slot);
    if (synth_italic_) FT_GlyphSlot_Oblique(slot);
    entry.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) == 0 &&
        slot->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
      const FT_Bitmap& bm = slot->bitmap;
      Glyph& g = entry.glyph;
      g.left = slot->bitmap_left;
      g.top = slot->bitmap_top;
      g.width = static_cast<int>(bm.width);
      g.height = static_cast<int>(bm.rows);
      g.coverage.resize(static_cast<size_t>(g.width) * g.height);
      int pitch = std::abs(bm.pitch);
      for (int y = 0; y < g.height; ++y) {
        const unsigned char* row = bm.pitch >= 0
                                       ? bm.buffer + static_cast<size_t>(y) * pitch
                                       : bm.buffer + static_cast<size_t>(g.height - 1 - y) * pitch;
        std::memcpy(&g.coverage[static_cast<size_t>(y) * g.width], row, g.width);
      }
    }
  }
  return cache_.emplace(ch, std::move(entry)).first->second;
}

// When no face can be opened at all: blank glyphs with plausible metrics, so
// layout goes on and nothing is null.
class BlankFont : public FontInstance {
 public:
  explicit BlankFont(const LOGFONTA& record) : FontInstance(record) {
    int em = record.lfHeight < 0 && record.lfHeight != INT32_MIN ? -record.lfHeight
             : record.lfHeight > 0                               ? record.lfHeight
                                                                 : kDefaultEmPixels;
    em_ = std::clamp(em, 1, kMaxEmPixels);
  }
  int Ascent() const override { return em_ - em_ / 5; }
  int Descent() const override { return em_ / 5; }
  int UnderlineOffset() const override { return 1; }
  int StrikeOffset() const override { return -em_ / 3; }
  int LineThickness() const override { return 1; }
  int Advance(char32_t) override { return std::max(1, em_ / 2); }
  const Glyph& GlyphOf(char32_t) override { return blank_; }
  std::string Family() const override { return ""; }
  std::string File() const override { return ""; }

 private:
  int em_;
  Glyph blank_;
};

class FreeTypeBackend : public FontBackend {
 public:
  FreeTypeBackend() : lib_(std::make_shared<Library>()) {}

  std::shared_ptr<FontInstance> Realise(const LOGFONTA& record) override {
    int em = record.lfHeight < 0 && record.lfHeight != INT32_MIN ? -record.lfHeight
             : record.lfHeight > 0                               ? record.lfHeight
                                                                 : kDefaultEmPixels;
    em = std::clamp(em, 1, kMaxEmPixels);
    std::lock_guard<std::mutex> lock(lib_->mutex);
    if (lib_->ft != nullptr) {
      Match match;
      for (int attempt = 0; attempt < 2; ++attempt) {
        LOGFONTA wanted = record;
        if (attempt == 1) wanted = MakeLogFont("DejaVu Sans", record.lfHeight, record.lfWeight);
        if (!FindFace(*lib_, wanted, em, match)) continue;
        FT_Face face = nullptr;
        if (FT_New_Face(lib_->ft, match.file.c_str(), match.index, &face) != 0) continue;
        if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0 || !FT_IS_SCALABLE(face)) {
          FT_Done_Face(face);
          continue;
        }
        return std::make_shared<FreeTypeFont>(record, lib_, face, match);
      }
    }
    return std::make_shared<BlankFont>(record);
  }

 private:
  std::shared_ptr<Library> lib_;
};

}  // namespace

std::shared_ptr<FontBackend> MakeFreeTypeBackend() {
  return std::make_shared<FreeTypeBackend>();
}

}  // namespace platform::gfx
