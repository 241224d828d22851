// The eHDD client against an in-test peer that holds replies back: what
// other threads can do meanwhile, and where a read that fails leaves its
// file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ehdd/TEHDDCache.h"
#include "ehdd/TEHDDClient.h"
#include "tests/ehdd/fake_peer.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

bool Starts(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

class PeerClientTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-peer-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    TEHDDCache::Destroy();
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    setenv("LECTORIA_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("LECTORIA_REGISTRY_DIR");
    TEHDDCache::Destroy();
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(PeerClientTest, AFlushWaitingForTheServerHoldsUpNoOtherFile) {
  std::atomic<bool> write_seen{false};
  FakePeer peer([&](const FakePeer::Request& r) {
    FakePeer::Answer a;
    if (Starts(r.command, "CM=OS")) a.bytes = FakePeer::Session(r);
    if (Starts(r.command, "CM=OP")) a.bytes = FakePeer::Opened(r, 0);
    if (Starts(r.command, "CM=CF")) a.bytes = FakePeer::Ok(r.id, "RET=0");
    if (Starts(r.command, "CM=WR")) {
      a.bytes = FakePeer::Ok(r.id, "RET=0");
      if (!write_seen.exchange(true)) a.delay_ms = 1500;  // the first flush is held back
    }
    return a;
  });
  TEHDDClient client;
  client.Mount("data", 'D');
  client.Mount("vol.dat", 'V');
  client.AddLocalLetter('V', "");
  client.SetLocalRoot(dir_.string() + "/");
  client.Conectar("127.0.0.1", "alumno", peer.port());

  TFicheroEHDD* out = client.Crear("D:\\OUT.BIN");
  ASSERT_NE(out, nullptr);
  std::thread writer([&] {
    const std::string bytes(32001, 'w');
    EXPECT_EQ(client.Escribir(bytes.data(), 32001, out), 32001u);  // one flush of 32000 on the way
  });
  for (int i = 0; i < 500 && !write_seen; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(write_seen.load());
  // Opening a container file looks the complete files up under the buffer
  // lock; it must not wait for the write above.
  const auto start = Clock::now();
  EXPECT_EQ(client.Abrir("V:\\ABSENT.TXT", 0), nullptr);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 0.5);
  writer.join();
  client.Cerrar(out);
  std::vector<std::string> writes;
  for (const std::string& c : peer.Commands()) {
    if (Starts(c, "CM=WR")) writes.push_back(c.substr(0, c.find("&ID=")));
  }
  EXPECT_EQ(writes, (std::vector<std::string>{"CM=WR&OF=0&BS=32000", "CM=WR&OF=32000&BS=1"}));
}

TEST_F(PeerClientTest, AReadWhoseLaterRoundFailsLeavesTheOffsetWhereItBegan) {
  constexpr size_t kLength = 130000;
  FakePeer peer([&](const FakePeer::Request& r) {
    FakePeer::Answer a;
    if (Starts(r.command, "CM=OS")) a.bytes = FakePeer::Session(r);
    if (Starts(r.command, "CM=OP")) a.bytes = FakePeer::Opened(r, kLength);
    if (Starts(r.command, "CM=CF")) a.bytes = FakePeer::Ok(r.id, "RET=0");
    // The first 16 blocks come; every later read gets no answer.
    if (Starts(r.command, "CM=RD&OF=0&")) a.bytes = FakePeer::Ok(r.id, std::string(64000, 'd'));
    return a;
  });
  TEHDDClient client;
  client.SetTimeout(1);
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", peer.port());
  TFicheroEHDD* f = client.Abrir("D:\\BIG.BIN", 0);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(client.Posicionar(f, 100, 0), 0);
  std::vector<char> buffer(kLength);
  try {
    client.Leer(buffer.data(), 1, kLength - 100, f);
    ADD_FAILURE() << "a read through a server that stopped answering";
  } catch (const std::string& text) {
    EXPECT_EQ(text, "Se ha perdido la conexión con el servidor");
  }
  EXPECT_EQ(client.Posicion(f), 100u);
  uint32_t length = 0, remaining = 0;
  client.Size(f, length, remaining);
  EXPECT_EQ(remaining, kLength - 100);
  // What is cached still reads, from where the file stood.
  EXPECT_EQ(client.Leer(buffer.data(), 1, 500, f), 500u);
  EXPECT_EQ(client.Posicion(f), 600u);
  client.Cerrar(f);
}

}  // namespace
