#include "ehdd/TSocketTCP.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace {

void SetTimeout(int fd, int option, uint32_t ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  setsockopt(fd, SOL_SOCKET, option, &tv, sizeof(tv));
}

}  // namespace

TSocketTCP::~TSocketTCP() {
  Close();
}

int TSocketTCP::Close() {
  if (fd_ >= 0) {
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    ++generation_;
  }
  fd_ = -1;
  return kSocketOk;
}

bool TSocketTCP::ParseDottedQuad(const std::string& text, uint8_t out[4]) {
  if (text.empty() || text.size() > 15) return false;
  int part = 0;
  int value = -1;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      value = (value < 0 ? 0 : value * 10) + (c - '0');
      if (value > 255) return false;
    } else if (c == '.') {
      if (value < 0 || part >= 3) return false;
      out[part++] = static_cast<uint8_t>(value);
      value = -1;
    } else {
      return false;
    }
  }
  if (value < 0 || part != 3) return false;
  out[3] = static_cast<uint8_t>(value);
  return true;
}

int TSocketTCP::Connect(const std::string& host, uint16_t port) {
  Close();
  host_ = host;
  port_ = port;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  uint8_t quad[4];
  if (ParseDottedQuad(host, quad)) {
    std::memcpy(&address.sin_addr, quad, 4);
  } else {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
      return kSocketFailed;
    }
    address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return kSocketFailed;
  int rc = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  if (rc != 0 && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int ready;
    do {
      ready = poll(&p, 1, static_cast<int>(connect_timeout_ms_));
    } while (ready < 0 && errno == EINTR);
    int error = 0;
    socklen_t length = sizeof(error);
    rc = (ready == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
             ? 0
             : -1;
  }
  if (rc != 0) {
    close(fd);
    return kSocketFailed;
  }
  int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  SetTimeout(fd, SO_RCVTIMEO, io_timeout_ms_);
  SetTimeout(fd, SO_SNDTIMEO, io_timeout_ms_);
  fd_ = fd;
  ++generation_;
  return kSocketOk;
}

int TSocketTCP::Send(const void* head, size_t head_length, const void* body, size_t body_length) {
  if (fd_ < 0) return kSocketLost;
  last_sent_ = 0;
  // Head and body leave in one call (one segment when they fit), the rest
  // of a short send following until everything is out.
  iovec parts[2] = {{const_cast<void*>(head), head_length},
                    {const_cast<void*>(body), body ? body_length : 0}};
  const size_t total = head_length + parts[1].iov_len;
  while (last_sent_ < total) {
    size_t skip = last_sent_;
    iovec left[2];
    int n = 0;
    for (const iovec& part : parts) {
      if (skip >= part.iov_len) {
        skip -= part.iov_len;
        continue;
      }
      left[n++] = {static_cast<char*>(part.iov_base) + skip, part.iov_len - skip};
      skip = 0;
    }
    msghdr message{};
    message.msg_iov = left;
    message.msg_iovlen = static_cast<size_t>(n);
    const ssize_t put = sendmsg(fd_, &message, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      Close();
      return kSocketLost;
    }
    last_sent_ += static_cast<size_t>(put);
  }
  return kSocketOk;
}

int TSocketTCP::Receive(void* buffer, size_t size, size_t& count) {
  count = 0;
  if (fd_ < 0) return kSocketLost;
  while (count < size) {
    ssize_t got = recv(fd_, static_cast<char*>(buffer) + count, size - count, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {  // peer closed, error, or no byte within the time-out
      Close();
      return kSocketLost;
    }
    count += static_cast<size_t>(got);
  }
  return kSocketOk;
}

int TSocketTCP::ReceiveByte(unsigned char& byte) {
  size_t count = 0;
  return Receive(&byte, 1, count);
}

int TSocketTCP::ReceiveSome(void* buffer, size_t size, size_t& count) {
  count = 0;
  if (fd_ < 0) return kSocketNone;
  if (size == 0) return kSocketNothing;
  ssize_t got;
  do {
    got = recv(fd_, buffer, size, MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    count = static_cast<size_t>(got);
    return kSocketOk;
  }
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kSocketNothing;
  Close();
  return kSocketLost;
}

int TSocketTCP::Peek(size_t size, size_t& count, void* buffer) {
  count = 0;
  if (fd_ < 0) return kSocketNone;
  if (size == 0) size = 1;
  unsigned char scratch[64];
  if (buffer == nullptr) {
    buffer = scratch;
    if (size > sizeof(scratch)) size = sizeof(scratch);
  }
  ssize_t got;
  do {
    got = recv(fd_, buffer, size, MSG_PEEK | MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    count = static_cast<size_t>(got);
    return kSocketOk;
  }
  if (got == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return kSocketNothing;
  Close();
  return kSocketLost;
}

int TSocketTCP::Poll() {
  if (fd_ < 0) return kSocketNone;
  ssize_t got;
  do {
    got = recv(fd_, &last_polled_, 1, MSG_PEEK | MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  if (got > 0) return kSocketOk;
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kSocketNothing;
  Close();
  return kSocketLost;
}

int TSocketTCP::WaitReadable(uint32_t timeout_ms) {
  if (fd_ < 0) return kSocketNone;
  pollfd p{fd_, POLLIN, 0};
  int ready;
  do {
    ready = poll(&p, 1, static_cast<int>(timeout_ms));
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) return kSocketNothing;
  return Poll() == kSocketOk ? kSocketOk : (fd_ < 0 ? kSocketLost : kSocketNothing);
}
