// Base64 with the standard alphabet and '=' padding.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of the encoded text of n bytes, without the terminator.
constexpr size_t Base64EncodedSize(size_t n) { return (n + 2) / 3 * 4; }

// Writes the encoding of the bytes and a terminating zero; returns the number
// of characters (without the terminator). Returns 0 and writes nothing when
// the output capacity (terminator included) is too small.
size_t Base64Encode(char* out, size_t out_capacity, const uint8_t* bytes, size_t length);

// Decodes text of a non-zero length that is a multiple of 4; returns the
// number of bytes. 0 when the length is wrong, a character is outside the
// alphabet or '=' stands anywhere but in the padding, or the output capacity
// is too small.
size_t Base64Decode(uint8_t* out, size_t out_capacity, const char* text, size_t length);
