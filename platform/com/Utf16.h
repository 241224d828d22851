// UTF-8 and UTF-16, the two forms a text takes between the file system and
// the component interfaces (BSTR). Header-only, for the engine, the host and
// the tools alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::com {

// The code point of the UTF-8 sequence at text[i], in *point; its length in
// bytes, or 0 when no valid sequence starts there (a stray continuation, a
// cut or overlong sequence, a surrogate, a point past U+10FFFF).
inline size_t DecodeUtf8At(const std::string& text, size_t i, char32_t& point) {
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  if (i >= n) return 0;
  const unsigned char c = b[i];
  const size_t length = c < 0x80             ? 1
                        : (c & 0xE0) == 0xC0 ? 2
                        : (c & 0xF0) == 0xE0 ? 3
                        : (c & 0xF8) == 0xF0 ? 4
                                             : 0;
  static constexpr uint32_t kMask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  static constexpr uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (length == 0 || length > n - i) return 0;
  uint32_t p = c & kMask[length];
  for (size_t k = 1; k < length; ++k) {
    if ((b[i + k] & 0xC0) != 0x80) return 0;
    p = p << 6 | (b[i + k] & 0x3F);
  }
  if (p < kSmallest[length] || p > 0x10FFFF || (p >= 0xD800 && p <= 0xDFFF)) return 0;
  point = p;
  return length;
}

// A UTF-8 text in UTF-16; a byte that starts no valid sequence becomes
// U+FFFD.
inline std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    char32_t point = 0;
    const size_t length = DecodeUtf8At(text, i, point);
    if (length == 0) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(point));
    }
    i += length;
  }
  return out;
}

// A UTF-16 text in UTF-8; an unpaired surrogate becomes U+FFFD.
inline std::string Utf16ToUtf8(const std::u16string& u) {
  std::string out;
  for (size_t i = 0; i < u.size(); ++i) {
    uint32_t c = u[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
        u[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace platform::com
