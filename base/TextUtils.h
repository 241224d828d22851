// Text routines of the eHDD protocol and the key/value list parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// Appends source to target with every `from` written as `to`.
void ReplaceChar(const char* source, std::string& target, char from, char to);

bool MemEqual(const void* a, const void* b, size_t n);

// A number read from at most 8 hexadecimal characters, most significant
// first. '0'-'9', 'a'-'f', 'A'-'F' count as usual; the characters 0x2A to
// 0x2F and 0x3A to 0x3F count their low four bits. Any other character ends
// the number.
uint32_t ParseHex(const char* text);

// Appends characters up to the stop character or the end; returns how many.
size_t CopyUntil(const char* text, char stop, std::string& target);

// Appends at most n characters, stopping at a zero byte; returns how many.
size_t CopyN(const char* text, size_t n, std::string& target);

// Splits at most `length` characters of text (stopping at a zero byte) into
// pairs on pair_separator, and each pair into key and value on
// key_separator; a key keeps its first value. True when a pair was found.
bool ParseKeyValues(const char* text, size_t length, std::map<std::string, std::string>& values,
                    char pair_separator, char key_separator);
