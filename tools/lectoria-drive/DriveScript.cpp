#include "tools/lectoria-drive/DriveScript.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "platform/com/Utf16.h"

namespace {

bool Number(const std::string& word, int64_t low, int64_t high, int32_t& out) {
  if (word.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(word.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value < low || value > high) return false;
  out = static_cast<int32_t>(value);
  return true;
}

// One UTF-8 character up to U+FFFF; false for anything else.
bool OneCharacter(const std::string& s, char16_t& out) {
  char32_t point = 0;
  if (s.empty() || platform::com::DecodeUtf8At(s, 0, point) != s.size() || point > 0xFFFF)
    return false;
  out = static_cast<char16_t>(point);
  return true;
}

}  // namespace

int32_t VirtualKeyOfChar(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - u'a' + 'A';
  if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) return c;
  if (c == u' ') return 0x20;
  return 0xBA;
}

bool ParseDriveScript(const std::string& text, std::vector<DriveCommand>& commands,
                      std::string* error) {
  commands.clear();
  std::istringstream in(text);
  std::string line;
  int number = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = "script line " + std::to_string(number) + ": " + why;
    commands.clear();
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    const std::string& verb = w[0];
    DriveCommand c{DriveCommand::kNext, 0, 0, {}};
    auto count = [&](size_t n) { return w.size() == n + 1; };
    if (verb == "next" && count(0)) {
      c.kind = DriveCommand::kNext;
    } else if (verb == "prev" && count(0)) {
      c.kind = DriveCommand::kPrev;
    } else if (verb == "part") {
      if (!count(1) || !Number(w[1], 0, 7, c.a)) return fail("part needs a part 0-7");
      c.kind = DriveCommand::kPart;
    } else if (verb == "key") {
      if (!count(1) || !Number(w[1], 0, 0xFF, c.a)) return fail("key needs a code 0-255");
      c.kind = DriveCommand::kKey;
    } else if (verb == "char") {
      // The character is what follows "char " (a space is a character too).
      const size_t at = line.find("char", first) + 5;
      const std::string rest = at <= line.size() ? line.substr(at) : std::string();
      char16_t ch = 0;
      if (!OneCharacter(rest, ch)) return fail("char needs one character");
      c.kind = DriveCommand::kChar;
      c.a = ch;
    } else if (verb == "click") {
      if (!count(2) || !Number(w[1], 0, 0xFFFF, c.a) || !Number(w[2], 0, 0xFFFF, c.b))
        return fail("click needs X Y");
      c.kind = DriveCommand::kClick;
    } else if (verb == "wait") {
      if (!count(1) || !Number(w[1], 0, 600000, c.a)) return fail("wait needs milliseconds");
      c.kind = DriveCommand::kWait;
    } else if (verb == "shot") {
      if (!count(1) || w[1].find('/') != std::string::npos) return fail("shot needs a NAME");
      c.kind = DriveCommand::kShot;
      c.name = w[1];
    } else if (verb == "audit" && count(0)) {
      c.kind = DriveCommand::kAudit;
    } else if (verb == "unload" && count(0)) {
      c.kind = DriveCommand::kUnload;
    } else {
      return fail("unknown command '" + line.substr(first) + "'");
    }
    commands.push_back(c);
  }
  return true;
}
