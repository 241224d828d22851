#include "platform/gfx/Font.h"

#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/gfx/CodePage.h"

namespace platform::gfx {

LOGFONTA MakeLogFont(const char* face, int32_t height, int32_t weight, bool italic, bool underline,
                     uint8_t charset) {
  LOGFONTA f;
  f.lfHeight = height;
  f.lfWeight = weight;
  f.lfItalic = italic ? 1 : 0;
  f.lfUnderline = underline ? 1 : 0;
  f.lfCharSet = charset;
  f.lfQuality = 2;
  if (face != nullptr) {
    size_t n = strnlen(face, kLfFaceSize - 1);
    std::memcpy(f.lfFaceName, face, n);
  }
  return f;
}

std::string FaceName(const LOGFONTA& font) {
  return std::string(font.lfFaceName, strnlen(font.lfFaceName, kLfFaceSize));
}

const std::array<int, 256>& FontInstance::ByteAdvances() {
  std::call_once(widths_once_, [this] {
    CodePage page = CodePageForCharset(record_.lfCharSet);
    for (int b = 0; b < 256; ++b)
      widths_[b] = Advance(ByteToUnicode(page, static_cast<uint8_t>(b)));
  });
  return widths_;
}

namespace {

// The cache key: every field of the record, the face name up to its end.
std::string KeyOf(const LOGFONTA& r) {
  LOGFONTA copy = r;
  std::string face = FaceName(r);
  std::memset(copy.lfFaceName, 0, sizeof copy.lfFaceName);
  std::memcpy(copy.lfFaceName, face.data(), face.size());
  return std::string(reinterpret_cast<const char*>(&copy), sizeof copy);
}

// Fonts in use stay alive through their shared pointers; the cache only
// remembers a bounded number of records.
constexpr size_t kMaxCachedFonts = 128;

struct FontCache {
  std::mutex mutex;
  std::shared_ptr<FontBackend> backend;
  std::unordered_map<std::string, std::shared_ptr<FontInstance>> fonts;
};

FontCache& Cache() {
  static FontCache cache;
  return cache;
}

}  // namespace

void SetFontBackend(std::shared_ptr<FontBackend> backend) {
  auto& c = Cache();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.backend = std::move(backend);
  c.fonts.clear();
}

std::shared_ptr<FontInstance> CreateFont(const LOGFONTA& record) {
  auto& c = Cache();
  std::string key = KeyOf(record);
  std::shared_ptr<FontBackend> backend;
  {
    std::lock_guard<std::mutex> lock(c.mutex);
    auto it = c.fonts.find(key);
    if (it != c.fonts.end()) return it->second;
    if (!c.backend) c.backend = MakeFreeTypeBackend();
    backend = c.backend;
  }
  // Realised outside the lock: matching and opening a face is slow.
  std::shared_ptr<FontInstance> font = backend->Realise(record);
  std::lock_guard<std::mutex> lock(c.mutex);
  if (c.backend != backend) return font;  // the backend changed meanwhile: do not cache
  auto [it, inserted] = c.fonts.emplace(key, font);
  if (!inserted) return it->second;
  if (c.fonts.size() > kMaxCachedFonts) {
    c.fonts.clear();
    c.fonts.emplace(key, font);
  }
  return font;
}

std::array<int, 256> CharWidthTable(const LOGFONTA& record) {
  return CreateFont(record)->ByteAdvances();
}

// ---- fake backend ----

struct FakeFontBackend::Shared {
  int advance;
  int ascent;
  int descent;
  std::mutex mutex;
  std::map<char32_t, int> advances;

  int AdvanceOf(char32_t ch) {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = advances.find(ch);
    return it == advances.end() ? advance : it->second;
  }
};

namespace {

class FakeFont : public FontInstance {
 public:
  FakeFont(const LOGFONTA& record, std::shared_ptr<FakeFontBackend::Shared> shared)
      : FontInstance(record), shared_(std::move(shared)) {}

  int Ascent() const override;
  int Descent() const override;
  int UnderlineOffset() const override { return 1; }
  int StrikeOffset() const override { return -Ascent() / 3; }
  int LineThickness() const override { return 1; }
  int Advance(char32_t ch) override;
  const Glyph& GlyphOf(char32_t ch) override;
  std::string Family() const override { return ""; }
  std::string File() const override { return ""; }

 private:
  std::shared_ptr<FakeFontBackend::Shared> shared_;
  std::mutex mutex_;
  std::map<char32_t, Glyph> glyphs_;
};

}  // namespace

FakeFontBackend::FakeFontBackend(int advance, int ascent, int descent)
    : shared_(std::make_shared<Shared>()) {
  shared_->advance = advance;
  shared_->ascent = ascent;
  shared_->descent = descent;
}

void FakeFontBackend::SetAdvance(char32_t ch, int advance) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->advances[ch] = advance;
}

std::shared_ptr<FontInstance> FakeFontBackend::Realise(const LOGFONTA& record) {
  return std::make_shared<FakeFont>(record, shared_);
}

namespace {

int FakeFont::Ascent() const {
  return shared_->ascent;
}
int FakeFont::Descent() const {
  return shared_->descent;
}
int FakeFont::Advance(char32_t ch) {
  return shared_->AdvanceOf(ch);
}

const Glyph& FakeFont::GlyphOf(char32_t ch) {
  int advance = Advance(ch);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = glyphs_.find(ch);
  if (it != glyphs_.end()) return it->second;
  Glyph g;
  if (ch == U' ') return glyphs_.emplace(ch, std::move(g)).first->second;  // blank
  g.left = 0;
  g.top = shared_->ascent;
  g.width = advance > 1 ? advance - 1 : 0;
  g.height = shared_->ascent;
  g.coverage.assign(static_cast<size_t>(g.width) * g.height, 255);
  return glyphs_.emplace(ch, std::move(g)).first->second;
}

}  // namespace

}  // namespace platform::gfx
