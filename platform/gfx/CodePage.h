// Byte text to Unicode by the character set of a font record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::gfx {

enum class CodePage { kCp1250, kCp1251, kCp1252, kCp1254 };

// Character set of a font record to its code page: 204 Cyrillic (1251),
// 238 Central European (1250), 162 Turkish (1254); 0, 1 and any other set
// are Western (1252).
CodePage CodePageForCharset(uint8_t charset);

char16_t ByteToUnicode(CodePage page, uint8_t byte);

std::u16string BytesToUnicode(uint8_t charset, const char* text, size_t length);

// The reverse map, one for every caller: the byte of the code page that
// stands for the character, or the fallback when the page has none (U+0000
// gives 0). ASCII maps to itself.
uint8_t UnicodeToByte(CodePage page, char16_t character, uint8_t fallback);

// A UTF-16 text to bytes of the code page, each character the page lacks
// becoming the fallback (an unpaired or paired surrogate is one character
// per unit and becomes the fallback too).
std::string UnicodeToBytes(CodePage page, const std::u16string& text, uint8_t fallback);

// Case folding, one table per code page: the byte of the small letter for a
// capital (ASCII and the page's own letters), any other byte unchanged.
uint8_t FoldCase(CodePage page, uint8_t byte);
// The two bytes are one letter, whatever their case (or the same byte).
bool SameLetterIgnoringCase(CodePage page, uint8_t a, uint8_t b);

}  // namespace platform::gfx
