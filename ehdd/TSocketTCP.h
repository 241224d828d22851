// The blocking TCP connection of the eHDD transport (IPv4), with the
// transport's result codes. Every wait is bounded: the connect, and each
// send and receive call (a receive that times out counts as a lost
// connection).
#pragma once

#include <cstdint>
#include <string>

constexpr int kSocketOk = 0;
constexpr int kSocketNone = 2003;     // never connected, or closed
constexpr int kSocketFailed = 2005;   // host not resolved, or no connection made
constexpr int kSocketLost = 2006;     // connection lost; the socket is closed
constexpr int kSocketNothing = 2019;  // nothing to read yet

class TSocketTCP {
 public:
  TSocketTCP() = default;
  ~TSocketTCP();
  TSocketTCP(const TSocketTCP&) = delete;
  TSocketTCP& operator=(const TSocketTCP&) = delete;

  // Closes any socket, keeps host and port, resolves and connects within
  // the connect time-out, and sets TCP_NODELAY. 0 or 2005.
  int Connect(const std::string& host, uint16_t port);
  bool Reconnect() { return Connect(host_, port_) == kSocketOk; }
  bool IsConnected() const { return fd_ >= 0; }
  // Shuts the connection down and closes it (also for a copy of the
  // descriptor another thread may be polling).
  int Close();
  // Counts every connect and close, so a holder of the descriptor can tell
  // whether it still names the same connection.
  uint64_t generation() const { return generation_; }

  // Sends the head, then the body, retrying short sends. 0 or 2006.
  int Send(const void* head, size_t head_length, const void* body, size_t body_length);
  // Receives exactly size bytes (count says how many came). 0 or 2006.
  int Receive(void* buffer, size_t size, size_t& count);
  int ReceiveByte(unsigned char& byte);
  // Takes what has arrived, up to size bytes, without waiting: 0 with the
  // count (at least 1), 2019 when nothing is there yet, 2006 when the peer
  // closed or failed (closed), 2003 without a socket.
  int ReceiveSome(void* buffer, size_t size, size_t& count);
  // Looks at up to size bytes without taking them: 0 with the count, 2019
  // when none are waiting (or the peer closed), 2006 on a lost connection,
  // 2003 without a socket.
  int Peek(size_t size, size_t& count, void* buffer);
  // One byte waiting: 0; none: 2019; peer closed or error: 2006 (closed);
  // no socket: 2003.
  int Poll();
  // Waits up to timeout_ms for a byte: 0 when one is there, 2019 when the
  // time ran out, 2006 when the peer closed or failed (closed), 2003.
  int WaitReadable(uint32_t timeout_ms);

  void SetTimeouts(uint32_t connect_ms, uint32_t io_ms) {
    connect_timeout_ms_ = connect_ms;
    io_timeout_ms_ = io_ms;
  }
  const std::string& host() const { return host_; }
  int fd() const { return fd_; }
  uint16_t port() const { return port_; }
  size_t last_sent() const { return last_sent_; }

  // Reads an IPv4 dotted quad (at most 15 characters, up to four parts of
  // at most 255); false when the text is not one.
  static bool ParseDottedQuad(const std::string& text, uint8_t out[4]);

 private:
  std::string host_;
  uint16_t port_ = 0;
  int fd_ = -1;
  unsigned char last_polled_ = 0xFF;
  size_t last_sent_ = 0;
  uint64_t generation_ = 0;
  uint32_t connect_timeout_ms_ = 20000;
  uint32_t io_timeout_ms_ = 60000;
};
