// An HTTP reply head: status line, status code and the headers by lower-case
// name, each with its values in arrival order; and the reader that takes a
// head off the eHDD connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class TSocketTCP;

struct THTTPReply {
  std::map<std::string, std::vector<std::string>> headers;
  std::string status_line;
  int status = 0;
};

constexpr size_t kMaxCabezaRespuesta = 64 * 1024;

// Parses a head: false when shorter than 13 bytes, not "HTTP", or without a
// status line. A value keeps its leading blank and is cut at its first ':'.
bool ParseReplyHeader(const char* head, size_t length, THTTPReply& reply);

// Reads a reply head when one has begun to arrive (false at once when no
// byte is waiting). The head must begin with "HTTP", end with CR LF CR LF
// within kMaxCabezaRespuesta bytes and arrive within timeout_ms; a closed or
// lost connection ends the read with false. content_length is the first
// "content-length" value (0 when absent); a value that is not a number from
// 0 up fails the read.
bool ReadReplyHeader(TSocketTCP& socket, int64_t& content_length, THTTPReply& reply,
                     uint32_t timeout_ms = 30000);

// The first "content-length" value as a number from 0 to INT32_MAX (0 when
// there is none); false when it is not such a number ("abc", "-1", "12x").
bool ParseContentLength(const THTTPReply& reply, int64_t& content_length);

// Value n of a header; false when there is none.
bool HeaderValue(const THTTPReply& reply, const std::string& name, size_t n, std::string& value);
// One of the header's values equals text (after lower-casing the value when asked).
bool HeaderContains(const THTTPReply& reply, const std::string& name, const std::string& text,
                    bool lower_case);
// The first value that begins with text (compared lower-cased when asked),
// returned as received.
bool HeaderValueStartingWith(const THTTPReply& reply, const std::string& name,
                             const std::string& text, std::string& value, bool lower_case);
