#include "host/qorUtils.h"

#include <zlib.h>

#include <cstdio>
#include <vector>

namespace {

// cp1252's bytes 0x80-0x9F; the rest match their code points.
constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool Known(unsigned code_page) { return code_page == kCodePageAnsi || code_page == kCodePage1252; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

size_t FindTag(const std::string& page, const std::string& tag, size_t from) {
  for (size_t i = from; i + tag.size() <= page.size(); ++i) {
    size_t k = 0;
    while (k < tag.size() && Lower(page[i + k]) == tag[k]) ++k;
    if (k == tag.size()) {
      const char next = i + k < page.size() ? page[i + k] : '>';
      if (next == '>' || next == ' ' || next == '\t' || next == '\r' || next == '\n') return i;
    }
  }
  return std::string::npos;
}

}  // namespace

void ReplaceChar(const char* text, std::string& out, char from, char to) {
  if (text == nullptr) return;
  for (const char* p = text; *p; ++p) out += *p == from ? to : *p;
}

uint32_t Crc32Update(uint32_t crc, const void* data, uint32_t length) {
  if (data == nullptr) return 0;
  return static_cast<uint32_t>(crc32(crc, static_cast<const Bytef*>(data), length));
}

uint32_t FileCrc32(const char* path, uint32_t crc, int32_t start, int32_t length) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return 0;
  int64_t size = 0;
  if (fseeko(f, 0, SEEK_END) == 0) size = ftello(f);
  int64_t count = length;
  if (count == 0) count = size;
  else if (count < 0) count = size + count;
  if (count > 0 && start >= 0 && fseeko(f, start, SEEK_SET) == 0) {
    std::vector<unsigned char> buffer(32768);
    while (count > 0) {
      const size_t want = static_cast<size_t>(std::min<int64_t>(count, 32768));
      const size_t got = std::fread(buffer.data(), 1, want, f);
      if (got == 0) break;
      crc = Crc32Update(crc, buffer.data(), static_cast<uint32_t>(got));
      count -= static_cast<int64_t>(got);
    }
  }
  std::fclose(f);
  return crc;
}

void WideToAnsi(const std::u16string& text, std::string& out, unsigned code_page) {
  if (text.empty() || !Known(code_page)) return;
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      result += static_cast<char>(c);
      continue;
    }
    int found = -1;
    for (int k = 0; k < 32; ++k) {
      if (kHigh[k] == c) found = k;
    }
    if (found >= 0) {
      result += static_cast<char>(0x80 + found);
      continue;
    }
    // A character the code page cannot hold becomes the default character,
    // one for a whole surrogate pair.
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      ++i;
    result += '?';
  }
  out = result;
}

void AnsiToWide(const std::string& text, std::u16string& out, unsigned code_page) {
  if (text.empty() || !Known(code_page)) return;
  std::u16string result;
  for (unsigned char c : text) result += (c >= 0x80 && c < 0xA0) ? kHigh[c - 0x80] : static_cast<char16_t>(c);
  out = result;
}

std::string ReplaceHtmlBody(const std::string& page, const std::string& html) {
  std::string out = page;
  size_t from = 0;
  for (;;) {
    const size_t open = FindTag(out, "<body", from);
    if (open == std::string::npos) break;
    const size_t open_end = out.find('>', open);
    if (open_end == std::string::npos) break;
    const size_t close = FindTag(out, "</body", open_end + 1);
    const size_t content_end = close == std::string::npos ? out.size() : close;
    out.replace(open_end + 1, content_end - open_end - 1, html);
    from = open_end + 1 + html.size();
  }
  return out;
}
