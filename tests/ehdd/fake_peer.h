// An eHDD peer on 127.0.0.1 run inside the test: it reads requests off
// each connection and lets the test decide, request by request, what goes
// back (a reply, nothing for a while, bytes one at a time, a closed
// connection). Every wait ends when the peer is destroyed.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakePeer {
 public:
  struct Request {
    int connection = 0;   // 1 for the first connection accepted
    std::string head;     // request line and headers
    std::string id;       // empty for a request without the 32-byte prefix
    std::string command;  // the command text (a write's data follow in `data`)
    std::string data;
  };
  struct Answer {
    std::string bytes;   // sent back as they are
    int delay_ms = 0;    // wait before sending
    int trickle_ms = 0;  // wait before each byte
    bool close = false;  // close the connection after sending
  };
  using Handler = std::function<Answer(const Request&)>;

  explicit FakePeer(Handler handler) : handler_(std::move(handler)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    listen(listen_fd_, 8);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~FakePeer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      for (int fd : connections_) shutdown(fd, SHUT_RDWR);
    }
    cv_.notify_all();
    shutdown(listen_fd_, SHUT_RDWR);
    acceptor_.join();
    for (auto& t : servers_) t.join();
    close(listen_fd_);
  }
  FakePeer(const FakePeer&) = delete;
  FakePeer& operator=(const FakePeer&) = delete;

  uint16_t port() const { return port_; }
  int connections() const { return accepted_.load(); }
  std::vector<std::string> Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }

  // A 200 reply carrying the reply block for the id and the data.
  static std::string Ok(const std::string& id, const std::string& data) {
    char block[64];
    std::snprintf(block, sizeof(block), "RET0%08X %s,", static_cast<unsigned>(data.size()),
                  id.c_str());
    std::string body(block);
    body.resize(32, ' ');
    body += data;
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  // What the session and open commands are answered with by default.
  static std::string Session(const Request& r) { return Ok(r.id, "IS=S1&RT=1"); }
  static std::string Opened(const Request& r, size_t length) {
    return Ok(r.id, "IDF=F1&RT=1&LN=" + std::to_string(length));
  }

  // Sleeps up to ms; false when the peer is being destroyed.
  bool Wait(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
  }

 private:
  void Accept() {
    for (;;) {
      int fd = accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) {
        close(fd);
        return;
      }
      connections_.push_back(fd);
      const int number = ++accepted_;
      servers_.emplace_back([this, fd, number] { Serve(fd, number); });
    }
  }

  bool RecvAll(int fd, char* out, size_t n) {
    for (size_t done = 0; done < n;) {
      ssize_t got = recv(fd, out + done, n - done, 0);
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  }

  void Serve(int fd, int number) {
    for (;;) {
      Request r;
      r.connection = number;
      char c;
      while (r.head.size() < 65536) {
        if (recv(fd, &c, 1, 0) != 1) return Close(fd);
        r.head += c;
        if (r.head.size() >= 4 && r.head.compare(r.head.size() - 4, 4, "\r\n\r\n") == 0) break;
      }
      const size_t cl = r.head.find("Content-Length: ");
      const size_t length =
          cl == std::string::npos ? 0 : std::strtoul(r.head.c_str() + cl + 16, nullptr, 10);
      std::string body(length, '\0');
      if (length > 0 && !RecvAll(fd, body.data(), length)) return Close(fd);
      if (length >= 32 && body.compare(0, 3, "QOR") == 0) {
        const size_t c1 = body.find(','), c2 = body.find(',', c1 + 1);
        if (c1 < 32 && c2 < 32) r.id = body.substr(c1 + 1, c2 - c1 - 1);
        r.command = body.substr(32);
        const size_t wbd = r.command.find("&WBD=");
        if (r.command.compare(0, 5, "CM=WR") == 0 && wbd != std::string::npos) {
          r.data = r.command.substr(wbd + 5);
          r.command = r.command.substr(0, wbd + 5);
        }
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(r.command);
      }
      const Answer answer = handler_(r);
      if (answer.delay_ms > 0 && !Wait(answer.delay_ms)) return Close(fd);
      if (answer.trickle_ms > 0) {
        for (char byte : answer.bytes) {
          if (!Wait(answer.trickle_ms) || send(fd, &byte, 1, MSG_NOSIGNAL) != 1) return Close(fd);
        }
      } else if (!answer.bytes.empty()) {
        send(fd, answer.bytes.data(), answer.bytes.size(), MSG_NOSIGNAL);
      }
      if (answer.close) return Close(fd);
    }
  }

  void Close(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    shutdown(fd, SHUT_RDWR);
    close(fd);
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
      if (*it == fd) {
        connections_.erase(it);
        break;
      }
    }
  }

  Handler handler_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::vector<std::thread> servers_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ = false;
  std::vector<int> connections_;
  std::vector<std::string> commands_;
  std::atomic<int> accepted_{0};
};
