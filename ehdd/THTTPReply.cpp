#include "ehdd/THTTPReply.h"

#include <cstdlib>
#include <cstring>

#include "base/TTokenizer.h"
#include "ehdd/TSocketTCP.h"
#include "platform/Clock.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

bool ParseReplyHeader(const char* head, size_t length, THTTPReply& reply) {
  if (head == nullptr || length < 13 || std::strncmp(head, "HTTP", 4) != 0) return false;
  reply.status = std::atoi(std::string(head + 9, 3).c_str());
  TTokenizer lines(std::string(head, length), "\r\n");
  if (!lines.HasMore()) return false;
  reply.status_line = lines.Next();
  while (lines.HasMore()) {
    TTokenizer parts(lines.Next(), ':');
    std::string name = Lower(parts.Next());
    std::string value = parts.Next();
    reply.headers[name].push_back(value);
  }
  return true;
}

bool ReadReplyHeader(TSocketTCP& socket, int64_t& content_length, THTTPReply& reply,
                     uint32_t timeout_ms) {
  content_length = 0;
  size_t count = 0;
  if (socket.Peek(3, count, nullptr) != kSocketOk) return false;
  if (socket.Poll() != kSocketOk) return false;
  std::string head;
  head.reserve(1024);
  const uint32_t start = platform::TickCount();
  for (;;) {
    // Wait for each byte, but never past the deadline or a closed peer.
    const uint32_t elapsed = platform::TickCount() - start;
    if (elapsed >= timeout_ms) return false;
    if (socket.WaitReadable(timeout_ms - elapsed) != kSocketOk) return false;
    unsigned char byte = 0;
    if (socket.ReceiveByte(byte) != kSocketOk) return false;
    head += static_cast<char>(byte);
    if (head.size() == 5 && head.compare(0, 4, "HTTP") != 0) return false;
    if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) break;
    if (head.size() >= kMaxCabezaRespuesta) return false;
  }
  return ParseReplyHeader(head.data(), head.size(), reply) &&
         ParseContentLength(reply, content_length);
}

bool ParseContentLength(const THTTPReply& reply, int64_t& content_length) {
  content_length = 0;
  std::string value;
  if (!HeaderValue(reply, "content-length", 0, value)) return true;
  size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  size_t end = value.size();
  while (end > i && (value[end - 1] == ' ' || value[end - 1] == '\t')) --end;
  if (i == end || end - i > 10) return false;
  int64_t n = 0;
  for (; i < end; ++i) {
    if (value[i] < '0' || value[i] > '9') return false;
    n = n * 10 + (value[i] - '0');
  }
  if (n > INT32_MAX) return false;
  content_length = n;
  return true;
}

bool HeaderValue(const THTTPReply& reply, const std::string& name, size_t n, std::string& value) {
  auto it = reply.headers.find(Lower(name));
  if (it == reply.headers.end() || n >= it->second.size()) return false;
  value = it->second[n];
  return true;
}

bool HeaderContains(const THTTPReply& reply, const std::string& name, const std::string& text,
                    bool lower_case) {
  auto it = reply.headers.find(Lower(name));
  if (it == reply.headers.end()) return false;
  for (const auto& v : it->second) {
    if ((lower_case ? Lower(v) : v) == text) return true;
  }
  return false;
}

bool HeaderValueStartingWith(const THTTPReply& reply, const std::string& name,
                             const std::string& text, std::string& value, bool lower_case) {
  auto it = reply.headers.find(Lower(name));
  if (it == reply.headers.end()) return false;
  for (const auto& v : it->second) {
    const std::string compared = lower_case ? Lower(v) : v;
    if (compared.compare(0, text.size(), text) == 0) {
      value = v;
      return true;
    }
  }
  return false;
}
