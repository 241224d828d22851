#include "base/TextUtils.h"

#include <cstring>

#include "base/TTokenizer.h"

void ReplaceChar(const char* source, std::string& target, char from, char to) {
  if (source == nullptr) return;
  for (const char* p = source; *p != '\0'; ++p) target += (*p == from) ? to : *p;
}

bool MemEqual(const void* a, const void* b, size_t n) { return n == 0 || std::memcmp(a, b, n) == 0; }

uint32_t ParseHex(const char* text) {
  uint32_t value = 0;
  if (text == nullptr) return 0;
  for (int i = 0; i < 8 && text[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t digit;
    if (c >= 0x2A && c <= 0x3F) {
      digit = c & 0x0F;
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    value = (value << 4) | digit;
  }
  return value;
}

size_t CopyUntil(const char* text, char stop, std::string& target) {
  size_t n = 0;
  if (text == nullptr) return 0;
  while (text[n] != '\0' && text[n] != stop) ++n;
  target.append(text, n);
  return n;
}

size_t CopyN(const char* text, size_t n, std::string& target) {
  size_t count = 0;
  if (text == nullptr) return 0;
  while (count < n && text[count] != '\0') ++count;
  target.append(text, count);
  return count;
}

bool ParseKeyValues(const char* text, size_t length, std::map<std::string, std::string>& values,
                    char pair_separator, char key_separator) {
  std::string copy;
  CopyN(text, length, copy);
  bool found = false;
  TTokenizer pairs(copy, pair_separator);
  while (pairs.HasMore()) {
    TTokenizer pair(pairs.Next(), key_separator);
    std::string key = pair.Next();
    std::string value = pair.Next();
    values.emplace(std::move(key), std::move(value));  // the first value stays
    found = true;
  }
  return found;
}
