// Proxy discovery rules, and the eHDD connection through a fake NTLM proxy
// on 127.0.0.1 that asks for the handshake and then answers the session.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/Base64.h"
#include "ehdd/ProxyDiscovery.h"
#include "ehdd/TEHDDClient.h"
#include "ehdd/TTransaccionHTTP.h"
#include "platform/MessageBox.h"
#include "platform/registry/Registry.h"

#include <filesystem>

namespace {

class FixedSettings : public InternetSettings {
 public:
  InternetSettingsValues user, machine;
  bool has_user = false, has_machine = false;
  bool Read(SettingsRoot root, InternetSettingsValues& values) override {
    values = root == SettingsRoot::kCurrentUser ? user : machine;
    return root == SettingsRoot::kCurrentUser ? has_user : has_machine;
  }
};

TEST(ProxyDiscovery, ListAndBypassRules) {
  std::string host;
  int port = 0;
  ASSERT_TRUE(ChooseProxy("ftp=a:21;http=b:8080", "", "srv", host, port));
  EXPECT_EQ(host, "b");
  EXPECT_EQ(port, 8080);
  ASSERT_TRUE(ChooseProxy("c:3128;http=b:8080", "", "srv", host, port));
  EXPECT_EQ(host, "c");
  EXPECT_EQ(port, 3128);
  EXPECT_FALSE(ChooseProxy("c:3128", "x;srv", "srv", host, port));
  EXPECT_TRUE(ChooseProxy("c:3128", "SRV", "srv", host, port));  // exact, case-sensitive
  ASSERT_TRUE(ChooseProxy("noport", "", "srv", host, port));
  EXPECT_EQ(port, 80);
  EXPECT_FALSE(ChooseProxy("ftp=a:21", "", "srv", host, port));

  FixedSettings settings;
  SetInternetSettings(&settings);
  settings.has_user = true;
  settings.user.auto_config_url = "http://wpad/wpad.dat";  // finds nothing here: the manual values follow
  settings.user.has_enable = true;
  settings.user.proxy_enable = 0;
  settings.has_machine = true;
  settings.machine.has_enable = true;
  settings.machine.proxy_enable = 1;
  settings.machine.has_server = true;
  settings.machine.proxy_server = "m:3128";
  ASSERT_TRUE(FindServerProxy("srv", 80, host, port));
  EXPECT_EQ(host, "m");
  SetInternetSettings(nullptr);
}

// One connection at a time: 407 with the NTLM offer, then a challenge for
// the type 1, then 200 for a good type 3, then the session reply.
class FakeNtlmProxy {
 public:
  explicit FakeNtlmProxy(bool good_challenge) : good_(good_challenge) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    listen(fd_, 4);
    thread_ = std::thread([this] {
      for (;;) {
        int c = accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        Serve(c);
        close(c);
      }
    });
  }
  ~FakeNtlmProxy() {
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
  }
  uint16_t port() const { return port_; }
  std::atomic<bool> saw_type3{false};

 private:
  static bool ReadRequest(int c, std::string& head, std::string& body) {
    head.clear();
    char ch;
    while (head.size() < 65536) {
      if (recv(c, &ch, 1, 0) != 1) return false;
      head += ch;
      if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) break;
    }
    size_t at = head.find("Content-Length: ");
    size_t n = at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 16, nullptr, 10);
    body.assign(n, '\0');
    size_t got = 0;
    while (got < n) {
      ssize_t r = recv(c, body.data() + got, n - got, 0);
      if (r <= 0) return false;
      got += static_cast<size_t>(r);
    }
    return true;
  }
  static void Send(int c, const std::string& text) { send(c, text.data(), text.size(), MSG_NOSIGNAL); }

  void Serve(int c) {
    std::string head, body, pending;
    bool authenticated = false;
    while (ReadRequest(c, head, body)) {
      const size_t auth = head.find("Proxy-Authorization: NTLM ");
      if (auth != std::string::npos) {
        const std::string b64 = head.substr(auth + 26, head.find("\r\n", auth) - auth - 26);
        std::vector<uint8_t> msg(b64.size());
        size_t n = Base64Decode(msg.data(), msg.size(), b64.data(), b64.size());
        if (n >= 12 && std::memcmp(msg.data(), "NTLMSSP", 8) == 0 && msg[8] == 1) {
          std::vector<uint8_t> t2(48, 0);
          std::memcpy(t2.data(), "NTLMSSP", 8);
          t2[8] = good_ ? 2 : 3;
          for (int i = 0; i < 8; ++i) t2[24 + i] = static_cast<uint8_t>(i);
          std::string enc(Base64EncodedSize(t2.size()) + 1, '\0');
          enc.resize(Base64Encode(enc.data(), enc.size(), t2.data(), t2.size()));
          Send(c, "HTTP/1.1 407 Auth\r\nProxy-Authenticate: NTLM " + enc + "\r\nContent-Length: 0\r\n\r\n");
        } else if (n >= 64 && std::memcmp(msg.data(), "NTLMSSP", 8) == 0 && msg[8] == 3) {
          saw_type3 = true;
          authenticated = true;
          Send(c, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        }
        continue;
      }
      if (!authenticated) {
        Send(c, "HTTP/1.1 407 Auth\r\nProxy-Authenticate: NTLM\r\nProxy-Authenticate: Basic realm=x\r\n"
                "Content-Length: 4\r\n\r\nnope");
        continue;
      }
      // Authenticated: answer the session request with its id.
      const size_t c1 = body.find(','), c2 = body.find(',', c1 + 1);
      const std::string id = body.substr(c1 + 1, c2 - c1 - 1);
      const std::string data = "IS=P1&RT=1";
      char block[64];
      std::snprintf(block, sizeof(block), "RET0%08zX %s,", data.size(), id.c_str());
      std::string reply(block);
      reply.resize(32, ' ');
      reply += data;
      Send(c, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(reply.size()) + "\r\n\r\n" + reply);
    }
  }

  bool good_;
  int fd_;
  uint16_t port_ = 0;
  std::thread thread_;
};

TEST(NtlmProxy, SessionThroughTheProxy) {
  FakeNtlmProxy proxy(true);
  FixedSettings settings;
  settings.has_user = true;
  settings.user.has_enable = true;
  settings.user.proxy_enable = 1;
  settings.user.has_server = true;
  settings.user.proxy_server = "127.0.0.1:" + std::to_string(proxy.port());
  SetInternetSettings(&settings);
  platform::SetMessageSink([](const std::string&, const std::string&, unsigned) { return 1; });
  TEHDDClient client;
  client.SetTimeout(5);
  client.Conectar("ehdd.example", "alumno", 80);  // never resolved: the proxy is dialled
  EXPECT_EQ(client.session_id(), "P1");
  EXPECT_TRUE(proxy.saw_type3.load());
  // The handshake answers one request at a time: none overlap here.
  EXPECT_EQ(client.transaccion()->window(), 1);
  platform::SetMessageSink(nullptr);
  SetInternetSettings(nullptr);
}

TEST(NtlmProxy, ABadChallengeFailsWithoutHanging) {
  FakeNtlmProxy proxy(false);
  FixedSettings settings;
  settings.has_user = true;
  settings.user.has_enable = true;
  settings.user.proxy_enable = 1;
  settings.user.has_server = true;
  settings.user.proxy_server = "127.0.0.1:" + std::to_string(proxy.port());
  SetInternetSettings(&settings);
  platform::SetMessageSink([](const std::string&, const std::string&, unsigned) { return 1; });
  TEHDDClient client;
  client.SetTimeout(1);
  EXPECT_THROW(client.Conectar("ehdd.example", "alumno", 80), std::string);
  platform::SetMessageSink(nullptr);
  SetInternetSettings(nullptr);
}

}  // namespace

namespace {

TEST(ProxyDiscovery, RegistrySettingsComeFirst) {
  char pattern[] = "/tmp/lectoria-proxyreg-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  setenv("LECTORIA_REGISTRY_DIR", pattern, 1);
  setenv("http_proxy", "http://env-proxy:3128/", 1);
  std::string host;
  int port = 0;
  ASSERT_TRUE(FindServerProxy("srv", 80, host, port));  // no registry key: the environment
  EXPECT_EQ(host, "env-proxy");
  namespace reg = platform::registry;
  const char* key = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  ASSERT_TRUE(reg::CreateKey(reg::Root::kCurrentUser, key));
  reg::Value enable;
  enable.type = reg::Type::kDword;
  enable.dword = 1;
  reg::Value server;
  server.text = "http=reg-proxy:8080";
  ASSERT_TRUE(reg::SetValue(reg::Root::kCurrentUser, key, "ProxyEnable", enable));
  ASSERT_TRUE(reg::SetValue(reg::Root::kCurrentUser, key, "ProxyServer", server));
  ASSERT_TRUE(FindServerProxy("srv", 80, host, port));
  EXPECT_EQ(host, "reg-proxy");
  EXPECT_EQ(port, 8080);
  unsetenv("http_proxy");
  unsetenv("LECTORIA_REGISTRY_DIR");
  std::filesystem::remove_all(pattern);
}

}  // namespace
