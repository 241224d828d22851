// The scripts lectoria-drive runs: one command a line, '#' lines and blank
// lines skipped, the whole file checked before anything runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DriveCommand {
  enum Kind { kNext, kPrev, kPart, kKey, kChar, kClick, kWait, kShot, kAudit, kUnload };
  Kind kind;
  int32_t a = 0;     // part, key code, x, milliseconds; the character's UTF-16 unit
  int32_t b = 0;     // y
  std::string name;  // shot
};

// Reads the script's text; false with "script line K: ..." in *error.
bool ParseDriveScript(const std::string& text, std::vector<DriveCommand>& commands,
                      std::string* error);

// The virtual key a character is typed with: letters and digits their
// upper-case ASCII code, a space 0x20, any other character 0xBA.
int32_t VirtualKeyOfChar(char16_t c);
