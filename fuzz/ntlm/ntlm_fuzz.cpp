// The proxy's type 2 challenge, as Base64 text after "NTLM ".
#include <array>
#include <cstdint>
#include <string>

#include "ehdd/NTLM.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::array<uint8_t, 8> challenge{};
  std::string text(reinterpret_cast<const char*>(data), size);
  if (NtlmParseType2(text, challenge)) NtlmType3("D\\u", "u", "", challenge);
  return 0;
}
