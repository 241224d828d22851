// The host's 8-bit texts (the ANSI code page, cp1252) as Qt strings.
#pragma once

#include <QString>

#include <string>

QString FromAnsi(const std::string& text);
