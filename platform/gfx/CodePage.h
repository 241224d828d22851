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

}  // namespace platform::gfx
