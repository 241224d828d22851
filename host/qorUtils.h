// Small services of the host program: character replacement, CRC-32 of a
// buffer and of a file range, the ANSI code page (cp1252) to and from wide
// text, replacing the BODY of an HTML page, and the host's lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

void ReplaceChar(const char* text, std::string& out, char from, char to);
uint32_t Crc32Update(uint32_t crc, const void* data, uint32_t length);
// A length of 0 means to the end; a negative one counts back from the
// file's size (measured from the start of the file). 0 when the file does
// not open.
uint32_t FileCrc32(const char* path, uint32_t crc, int32_t start, int32_t length);

constexpr unsigned kCodePageAnsi = 0;  // the ANSI code page: cp1252 here
constexpr unsigned kCodePage1252 = 1252;
// Out unchanged for an empty input or an unknown code page. A character the
// code page cannot hold becomes '?' (one for a surrogate pair), as the
// platform's conversion gives its default character.
void WideToAnsi(const std::u16string& text, std::string& out, unsigned code_page);
void AnsiToWide(const std::string& text, std::u16string& out, unsigned code_page);

// Sets the content of every BODY element of an HTML page (tag names compared
// without regard to case) to html; a page without one is left as it is.
std::string ReplaceHtmlBody(const std::string& page, const std::string& html);

class qorCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};
