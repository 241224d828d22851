// Reply bodies of the eHDD server and proxy headers: key/value lists,
// tokens, hexadecimal lengths and Base64 all come from the network.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/Base64.h"
#include "base/TTokenizer.h"
#include "base/TextUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);

  std::map<std::string, std::string> values;
  ParseKeyValues(text.c_str(), text.size(), values, '&', '=');

  TTokenizer lines(text, "\r\n");
  while (lines.HasMore()) {
    TTokenizer fields(lines.Next(), ':');
    fields.Next();
    fields.Rest();
  }
  ParseHex(text.c_str());

  std::vector<uint8_t> decoded(size / 4 * 3 + 3);
  size_t n = Base64Decode(decoded.data(), decoded.size(), text.data(), text.size());
  if (n > 0) {
    std::vector<char> encoded(Base64EncodedSize(n) + 1);
    Base64Encode(encoded.data(), encoded.size(), decoded.data(), n);
  }
  return 0;
}
