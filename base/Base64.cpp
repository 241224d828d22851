#include "base/Base64.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

size_t Base64Encode(char* out, size_t out_capacity, const uint8_t* bytes, size_t length) {
  size_t needed = Base64EncodedSize(length);
  if (out == nullptr || out_capacity < needed + 1 || (bytes == nullptr && length > 0)) return 0;
  size_t o = 0;
  for (size_t i = 0; i < length; i += 3) {
    uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
    if (i + 1 < length) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (i + 2 < length) group |= bytes[i + 2];
    out[o++] = kAlphabet[(group >> 18) & 63];
    out[o++] = kAlphabet[(group >> 12) & 63];
    out[o++] = i + 1 < length ? kAlphabet[(group >> 6) & 63] : '=';
    out[o++] = i + 2 < length ? kAlphabet[group & 63] : '=';
  }
  out[o] = '\0';
  return o;
}

size_t Base64Decode(uint8_t* out, size_t out_capacity, const char* text, size_t length) {
  if (text == nullptr || length == 0 || length % 4 != 0) return 0;
  size_t o = 0;
  for (size_t i = 0; i < length; i += 4) {
    const bool last = i + 4 == length;
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      unsigned char c = static_cast<unsigned char>(text[i + k]);
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad > 0) return 0;  // data after padding
      v[k] = Value(c);
      if (v[k] < 0) return 0;
    }
    size_t produced = 3 - static_cast<size_t>(pad);
    if (o + produced > out_capacity || out == nullptr) return 0;
    uint32_t group = (static_cast<uint32_t>(v[0]) << 18) | (static_cast<uint32_t>(v[1]) << 12) |
                     (static_cast<uint32_t>(v[2]) << 6) | static_cast<uint32_t>(v[3]);
    out[o++] = static_cast<uint8_t>(group >> 16);
    if (produced > 1) out[o++] = static_cast<uint8_t>(group >> 8);
    if (produced > 2) out[o++] = static_cast<uint8_t>(group);
  }
  return o;
}
