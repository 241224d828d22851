// Reply heads and reply blocks come from the server or a proxy: parse them
// and look their headers up.
#include <cstdint>
#include <string>

#include "ehdd/EHDDProtocol.h"
#include "ehdd/THTTPReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  THTTPReply reply;
  if (ParseReplyHeader(reinterpret_cast<const char*>(data), size, reply)) {
    std::string value;
    HeaderValue(reply, "content-length", 0, value);
    int64_t content_length = 0;
    ParseContentLength(reply, content_length);
    HeaderContains(reply, "proxy-authenticate", " ntlm", true);
    HeaderValueStartingWith(reply, "proxy-authenticate", " ntlm ", value, true);
  }
  if (size >= ehdd_protocol::kBloqueRespuesta) ehdd_protocol::LeerBloqueRespuesta(data);
  return 0;
}
