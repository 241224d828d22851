// The eHDD wire format, the TCP socket and the reply-head reader, against a
// listener on 127.0.0.1.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "ehdd/EHDDProtocol.h"
#include "ehdd/THTTPReply.h"
#include "ehdd/TSocketTCP.h"

using namespace ehdd_protocol;

namespace {

std::string Body(const PeticionEnMarcada& p) { return std::string(p.cuerpo.begin(), p.cuerpo.end()); }

TEST(Framing, PrefixCountsAndContentLength) {
  PeticionEnMarcada close;
  const std::string cf = "CM=CF&ID=ab&IS=x";
  ASSERT_EQ(cf.size(), 16u);
  ASSERT_TRUE(EnmarcarPeticion("srv", 80, BloqueCabeceras("srv", 80), cf, nullptr, 0, 7, 0, 1, close));
  EXPECT_EQ(Body(close).substr(0, 8), "QOR0010,");
  EXPECT_EQ(Body(close).substr(8, close.id.size() + 1), close.id + ",");
  EXPECT_EQ(Body(close).substr(32), cf);
  EXPECT_EQ(Body(close)[31], ' ');
  EXPECT_NE(close.cabeza.find("Content-Length: 48\r\n\r\n"), std::string::npos);
  EXPECT_EQ(close.cabeza.rfind("POST http://srv:80/qor/japmlwah1_0.bin HTTP/1.1\r\nHost: srv:80\r\n", 0), 0u);
  EXPECT_EQ(close.id.substr(close.id.size() - 5), "_0007");

  PeticionEnMarcada write;
  const std::string wr = "CM=WR&OF=0&BS=3&ID=abcdef&IS=s12345&WBD=";
  ASSERT_EQ(wr.size(), 40u);
  const unsigned char data[3] = {'x', 'y', 'z'};
  ASSERT_TRUE(EnmarcarPeticion("srv", 80, "", wr, data, 3, 1, 0, 1, write));
  EXPECT_EQ(Body(write).substr(0, 8), "QOR002B,");
  EXPECT_NE(write.cabeza.find("Content-Length: 75\r\n"), std::string::npos);
  EXPECT_EQ(Body(write).substr(72), "xyz");
  // The id is the CRC of what follows the prefix, in lower case.
  EXPECT_EQ(write.id, IdPeticion(write.cuerpo.data() + 32, 43, 1));
  EXPECT_EQ(IdPeticion(reinterpret_cast<const unsigned char*>("123456789"), 9, 0xABC), "cbf43926_0abc");
}

TEST(Framing, CountersAndCommandTexts) {
  const uint16_t first = SiguienteContadorId();
  for (int i = 0; i < 65535; ++i) SiguienteContadorId();
  EXPECT_EQ(SiguienteContadorId(), first);  // the 65537th wraps to the same value
  PeticionEnMarcada a, b;
  ASSERT_TRUE(EnmarcarPeticion("h", 1, "", "CM=CF&ID=1&IS=2", nullptr, 0, SiguienteContadorId(), 0, 0, a));
  ASSERT_TRUE(EnmarcarPeticion("h", 1, "", "CM=CF&ID=1&IS=2", nullptr, 0, SiguienteContadorId(), 0, 0, b));
  EXPECT_NE(a.id, b.id);

  std::string text;
  EXPECT_TRUE(Comando({{"CM", "OP"}, {"MD", "1"}, {"FN", "data/u#/A.TAE"}, {"IS", "s"}}, text));
  EXPECT_EQ(text, "CM=OP&MD=1&FN=data/u#/A.TAE&IS=s");
  EXPECT_FALSE(Comando({{"CM", "OP"}, {"FN", "a&IS=evil"}}, text));
  EXPECT_FALSE(Comando({{"CM", "MD"}, {"FN", "a=b"}}, text));
  EXPECT_FALSE(Comando({{"CM", "MD"}, {"FN", std::string(600, 'a')}}, text));
  PeticionEnMarcada big;
  EXPECT_FALSE(EnmarcarPeticion("h", 1, "", std::string(512, 'a'), nullptr, 0, 0, 0, 0, big));
}

TEST(Framing, ReplyBlock) {
  auto block = [](const std::string& text) {
    std::string b = text;
    b.resize(32, ' ');
    return LeerBloqueRespuesta(reinterpret_cast<const unsigned char*>(b.data()));
  };
  BloqueRespuesta ok = block("RET00000FA00 3a1b_0001,");
  EXPECT_TRUE(ok.ok);
  EXPECT_EQ(ok.longitud, 0xFA00u);
  EXPECT_EQ(ok.id, "3a1b_0001");
  EXPECT_FALSE(block("RET1000000FF x_0001,").ok);
  BloqueRespuesta no_comma = block("RET000000010 " + std::string(19, 'a'));
  EXPECT_FALSE(no_comma.ok);
  EXPECT_EQ(no_comma.longitud, 0u);
  EXPECT_EQ(no_comma.id, "");
  EXPECT_EQ(block("RET05        x_1,").longitud, 5u);  // a short length ends at a non-digit
}

TEST(ReplyHead, ParseCases) {
  THTTPReply r;
  const std::string h407 = "HTTP/1.1 407 x\r\n\r\n";
  ASSERT_TRUE(ParseReplyHeader(h407.data(), h407.size(), r));
  EXPECT_EQ(r.status, 407);
  EXPECT_EQ(r.status_line, "HTTP/1.1 407 x");

  THTTPReply two;
  const std::string h = "HTTP/1.1 407 Auth\r\nProxy-Authenticate: NTLM\r\nproxy-authenticate: Basic realm:x\r\n\r\n";
  ASSERT_TRUE(ParseReplyHeader(h.data(), h.size(), two));
  ASSERT_EQ(two.headers["proxy-authenticate"].size(), 2u);
  EXPECT_EQ(two.headers["proxy-authenticate"][0], " NTLM");
  EXPECT_EQ(two.headers["proxy-authenticate"][1], " Basic realm");  // cut at its first ':'
  EXPECT_TRUE(HeaderContains(two, "Proxy-Authenticate", " ntlm", true));
  std::string value;
  EXPECT_TRUE(HeaderValueStartingWith(two, "proxy-authenticate", " basic", value, true));
  EXPECT_EQ(value, " Basic realm");
  EXPECT_FALSE(HeaderValue(two, "content-length", 0, value));

  EXPECT_FALSE(ParseReplyHeader("HTTP/1.1 20", 11, r));
  EXPECT_FALSE(ParseReplyHeader("XTTP/1.1 200 OK\r\n\r\n", 19, r));
}

TEST(Socket, DottedQuads) {
  uint8_t q[4];
  EXPECT_TRUE(TSocketTCP::ParseDottedQuad("127.0.0.1", q));
  EXPECT_EQ(q[0], 127);
  EXPECT_FALSE(TSocketTCP::ParseDottedQuad("1111.222.33.444", q));
  EXPECT_FALSE(TSocketTCP::ParseDottedQuad("127.000.000.0001", q));  // 16 characters
  EXPECT_FALSE(TSocketTCP::ParseDottedQuad("1.2.3", q));
  EXPECT_FALSE(TSocketTCP::ParseDottedQuad("256.1.1.1", q));
  EXPECT_FALSE(TSocketTCP::ParseDottedQuad("1..2.3", q));
}

// A one-connection listener on 127.0.0.1 that runs `serve` on the accepted
// connection in a thread.
class Listener {
 public:
  explicit Listener(std::function<void(int)> serve) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    listen(fd_, 1);
    thread_ = std::thread([this, serve] {
      int c = accept(fd_, nullptr, nullptr);
      if (c >= 0) {
        serve(c);
        close(c);
      }
    });
  }
  ~Listener() {
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  uint16_t port() const { return port_; }

 private:
  int fd_;
  uint16_t port_ = 0;
  std::thread thread_;
};

void SendText(int fd, const std::string& text) { send(fd, text.data(), text.size(), MSG_NOSIGNAL); }
void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool WaitAndRead(TSocketTCP& s, int64_t& length, THTTPReply& reply, uint32_t timeout_ms = 2000) {
  if (s.WaitReadable(2000) != kSocketOk) return false;
  return ReadReplyHeader(s, length, reply, timeout_ms);
}

TEST(Socket, HeadInPiecesAndBody) {
  Listener server([](int c) {
    char buf[256];
    recv(c, buf, sizeof(buf), 0);
    for (const char* piece : {"HTT", "P/1.1 200 OK\r\nContent-Le", "ngth: 5\r\n", "\r\nhello"}) {
      SendText(c, piece);
      Pause(20);
    }
  });
  TSocketTCP s;
  ASSERT_EQ(s.Connect("127.0.0.1", server.port()), kSocketOk);
  ASSERT_EQ(s.Send("ping", 4, nullptr, 0), kSocketOk);
  int64_t length = -1;
  THTTPReply reply;
  ASSERT_TRUE(WaitAndRead(s, length, reply));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(length, 5);
  char body[5];
  size_t count = 0;
  ASSERT_EQ(s.Receive(body, 5, count), kSocketOk);
  EXPECT_EQ(std::string(body, 5), "hello");
  // The peer is gone now: the next receive reports a lost connection.
  EXPECT_EQ(s.Receive(body, 1, count), kSocketLost);
  EXPECT_FALSE(s.IsConnected());
  EXPECT_EQ(s.Poll(), kSocketNone);
}

TEST(Socket, BadHeadsEndCleanly) {
  {
    Listener server([](int c) { SendText(c, "GARBAGE\r\n\r\n"); Pause(50); });
    TSocketTCP s;
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), kSocketOk);
    int64_t length = 0;
    THTTPReply reply;
    EXPECT_FALSE(WaitAndRead(s, length, reply));
  }
  {
    // The peer closes in the middle of a head.
    Listener server([](int c) { SendText(c, "HTTP/1.1 200 OK\r\nConte"); });
    TSocketTCP s;
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), kSocketOk);
    int64_t length = 0;
    THTTPReply reply;
    EXPECT_FALSE(WaitAndRead(s, length, reply));
  }
  {
    // A head that never ends is cut at its cap.
    Listener server([](int c) {
      SendText(c, "HTTP/1.1 200 OK\r\n");
      std::string filler(1024, 'a');
      for (size_t sent = 0; sent < kMaxCabezaRespuesta + 2048; sent += filler.size()) SendText(c, filler);
      Pause(100);
    });
    TSocketTCP s;
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), kSocketOk);
    int64_t length = 0;
    THTTPReply reply;
    EXPECT_FALSE(WaitAndRead(s, length, reply));
  }
  {
    // A head that stalls runs into its deadline.
    Listener server([](int c) { SendText(c, "HTTP/1.1 200"); Pause(400); });
    TSocketTCP s;
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), kSocketOk);
    int64_t length = 0;
    THTTPReply reply;
    EXPECT_FALSE(WaitAndRead(s, length, reply, 100));
  }
  {
    Listener server([](int c) { SendText(c, "HTTP/1.1 200 OK\r\nContent-Length: -4\r\n\r\n"); Pause(50); });
    TSocketTCP s;
    ASSERT_EQ(s.Connect("127.0.0.1", server.port()), kSocketOk);
    int64_t length = 0;
    THTTPReply reply;
    EXPECT_FALSE(WaitAndRead(s, length, reply));
  }
}

TEST(Socket, NothingWaitingAndRefusedConnections) {
  Listener server([](int c) { Pause(100); });
  TSocketTCP s;
  ASSERT_EQ(s.Connect("localhost", server.port()), kSocketOk);
  size_t count = 9;
  EXPECT_EQ(s.Peek(3, count, nullptr), kSocketNothing);
  EXPECT_EQ(count, 0u);
  int64_t length = 0;
  THTTPReply reply;
  EXPECT_FALSE(ReadReplyHeader(s, length, reply, 50));  // nothing there: false at once
  s.Close();
  EXPECT_EQ(s.Send("x", 1, nullptr, 0), kSocketLost);
  // A port nobody listens on.
  Listener other([](int) {});
  const uint16_t dead = other.port();
  TSocketTCP probe;
  ASSERT_EQ(probe.Connect("127.0.0.1", dead), kSocketOk);  // the listener takes this one
  probe.Close();
  TSocketTCP none;
  EXPECT_EQ(none.Connect("no-such-host.invalid", 80), kSocketFailed);
}

TEST(ReplyHead, ContentLengthMustBeAWholeNumberUpToInt32Max) {
  auto length_of = [](const std::string& value, int64_t& n) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + value + "\r\n\r\n";
    THTTPReply reply;
    EXPECT_TRUE(ParseReplyHeader(head.data(), head.size(), reply));
    return ParseContentLength(reply, n);
  };
  int64_t n = -1;
  EXPECT_TRUE(length_of("2147483647", n));
  EXPECT_EQ(n, 2147483647);
  EXPECT_TRUE(length_of("0", n));
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(length_of("12 ", n));
  EXPECT_EQ(n, 12);
  for (const char* bad : {"2147483648", "abc", "-1", "12x", "", "99999999999"}) {
    n = -1;
    EXPECT_FALSE(length_of(bad, n)) << bad;
    EXPECT_EQ(n, 0) << bad;
  }
  // No header at all is a length of 0.
  THTTPReply bare;
  const std::string head = "HTTP/1.1 200 OK\r\n\r\n";
  ASSERT_TRUE(ParseReplyHeader(head.data(), head.size(), bare));
  EXPECT_TRUE(ParseContentLength(bare, n));
  EXPECT_EQ(n, 0);
}

TEST(Socket, HeadsUpToTheSizeLimitReadAndOneByteMoreDoesNot) {
  for (size_t size : {kMaxCabezaRespuesta, kMaxCabezaRespuesta + 1}) {
    const std::string start = "HTTP/1.1 200 OK\r\nX: ";
    const std::string head = start + std::string(size - start.size() - 4, 'v') + "\r\n\r\n";
    ASSERT_EQ(head.size(), size);
    Listener peer([&](int c) {
      SendText(c, head);
      Pause(300);
    });
    TSocketTCP s;
    ASSERT_EQ(s.Connect("127.0.0.1", peer.port()), kSocketOk);
    int64_t length = 0;
    THTTPReply reply;
    EXPECT_EQ(WaitAndRead(s, length, reply), size == kMaxCabezaRespuesta) << size;
  }
}

TEST(Socket, AHeadThatStallsEndsAtItsDeadline) {
  // The peer keeps the connection open long after the deadline, so only the
  // deadline can end the read.
  Listener peer([](int c) {
    SendText(c, "HTTP/1.1 200 OK\r\nContent-Le");
    Pause(2000);
  });
  TSocketTCP s;
  ASSERT_EQ(s.Connect("127.0.0.1", peer.port()), kSocketOk);
  int64_t length = 0;
  THTTPReply reply;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitAndRead(s, length, reply, 300));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 0.25);
  EXPECT_LT(seconds, 1.2);
}

}  // namespace
