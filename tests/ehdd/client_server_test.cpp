// The eHDD client in server mode against ehdd-server on 127.0.0.1: what
// goes on the wire, the block cache in front of it, and every fault mode
// ending cleanly.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/Checksums.h"
#include "ehdd/TEHDDCache.h"
#include "ehdd/TEHDDClient.h"
#include "ehdd/TEHDDReply.h"
#include "ehdd/TTransaccionHTTP.h"
#include "platform/MessageBox.h"
#include "tests/ehdd/fake_peer.h"
#include "tests/support/TestServer.h"

namespace fs = std::filesystem;

namespace {

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 37 + 11) % 251);
  return s;
}

std::vector<std::string> Lines(const fs::path& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

using Server = TestServer;

// A read that needs the server once it is lost fails once, with the
// lost-connection text.
void ExpectLostConnection(TEHDDClient& client, TFicheroEHDD* f, char* buffer, uint32_t n) {
  int thrown = 0;
  try {
    client.Leer(buffer, 1, n, f);
  } catch (const std::string& text) {
    ++thrown;
    EXPECT_EQ(text, "Se ha perdido la conexión con el servidor");
  }
  EXPECT_EQ(thrown, 1);
}

class ServerClientTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-server-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "root" / "data");
    std::ofstream(dir_ / "root" / "data" / "nine.bin", std::ios::binary) << Pattern(9000);
    std::ofstream(dir_ / "root" / "data" / "rec.STR", std::ios::binary) << Pattern(100);
    TEHDDCache::Destroy();
    // The server is on loopback: no proxy from the environment or a registry.
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    setenv("LECTORIA_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("LECTORIA_REGISTRY_DIR");
    TEHDDCache::Destroy();
    fs::remove_all(dir_);
  }
  std::vector<std::string> Sent(const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& line : Lines(dir_ / "log")) {
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    }
    return out;
  }
  // The requests nobody waits for (a close) reach the log a little after
  // the call that sent them: what is there once `count` lines of `prefix`
  // are, or after two seconds.
  std::vector<std::string> SentAtLeast(const std::string& prefix, size_t count) {
    std::vector<std::string> sent = Sent(prefix);
    for (int i = 0; i < 200 && sent.size() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      sent = Sent(prefix);
    }
    return sent;
  }
  std::unique_ptr<Server> Start(std::vector<std::string> flags = {}) {
    auto server = std::make_unique<Server>(dir_ / "root", dir_ / "log", flags);
    EXPECT_NE(server->port(), 0);
    return server;
  }
  fs::path dir_;
};

TEST_F(ServerClientTest, ReadsGoThroughTheBlockCache) {
  auto server = Start();
  TEHDDClient client;
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", server->port());
  EXPECT_FALSE(client.session_id().empty());
  TFicheroEHDD* f = client.Abrir("D:\\nine.bin", 0);
  ASSERT_NE(f, nullptr);
  // The file's first blocks came with the open, under the id the open gave.
  ASSERT_EQ(Sent("CM=RD").size(), 1u);
  EXPECT_EQ(Sent("CM=RD")[0].rfind("CM=RD&OF=0&BS=4000&NB=16&ID=" + f->fileId + "&", 0), 0u);
  std::vector<char> buffer(9000);
  ASSERT_EQ(client.Leer(buffer.data(), 1, 9000, f), 9000u);
  EXPECT_EQ(std::string(buffer.data(), 9000), Pattern(9000));
  client.Posicionar(f, 0, 0);
  ASSERT_EQ(client.Leer(buffer.data(), 1, 9000, f), 9000u);  // the reads send nothing
  EXPECT_EQ(Sent("CM=RD").size(), 1u);
  client.Cerrar(f);
  EXPECT_EQ(SentAtLeast("CM=CF", 1).size(), 1u);
  EXPECT_EQ(Sent("CM=OP").size(), 1u);
}

TEST_F(ServerClientTest, WritesTravelInRequestsOf32000Bytes) {
  auto server = Start();
  TEHDDClient client;
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", server->port());
  TFicheroEHDD* f = client.Crear("D:\\out.bin");
  ASSERT_NE(f, nullptr);
  const std::string body = Pattern(32001);
  EXPECT_EQ(client.Escribir(body.data(), 32001, f), 32001u);
  ASSERT_EQ(Sent("CM=WR").size(), 1u);
  EXPECT_NE(Sent("CM=WR")[0].find("OF=0&BS=32000&"), std::string::npos);
  client.Cerrar(f);
  auto writes = Sent("CM=WR");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_NE(writes[1].find("OF=32000&BS=1&"), std::string::npos);
  SentAtLeast("CM=CF", 1);
  auto lines = Lines(dir_ / "log");
  EXPECT_EQ(lines.back().rfind("CM=CF", 0), 0u);
  std::ifstream in(dir_ / "root" / "data" / "out.bin", std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), body);

  // Nothing written: the close still sends WR with BS 0, then CF.
  TFicheroEHDD* empty = client.Crear("D:\\empty.bin");
  ASSERT_NE(empty, nullptr);
  client.Cerrar(empty);
  SentAtLeast("CM=CF", 2);
  lines = Lines(dir_ / "log");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(lines[lines.size() - 2].find("BS=0&"), std::string::npos);
  EXPECT_EQ(lines.back().rfind("CM=CF", 0), 0u);
}

TEST_F(ServerClientTest, CompleteFilesSkipRequestsButNeverForRecordings) {
  auto server = Start();
  TEHDDClient client;
  client.Mount("data\\unit.dat", 'U');  // a container mount served by the server
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", server->port());
  // Container paths resolve to "data/unit#/..."; the server has no such
  // volume, so use the folder files for the recording rule.
  TFicheroEHDD* rec = client.Abrir("D:\\rec.STR", 0);
  ASSERT_NE(rec, nullptr);
  char buf[100];
  ASSERT_EQ(client.Leer(buf, 1, 100, rec), 100u);
  client.Cerrar(rec);
  rec = client.Abrir("D:\\rec.STR", 0);
  ASSERT_NE(rec, nullptr);
  client.Cerrar(rec);
  EXPECT_EQ(Sent("CM=OP").size(), 2u);
  EXPECT_EQ(SentAtLeast("CM=CF", 2).size(), 2u);
}

TEST_F(ServerClientTest, ConnectionFailures) {
  // Nobody listens: the connection text, before any thread starts.
  auto gone = Start();
  const uint16_t port = gone->port();
  gone.reset();
  TEHDDClient client;
  try {
    client.Conectar("127.0.0.1", "alumno", port);
    ADD_FAILURE() << "connected to nobody";
  } catch (const std::string& text) {
    EXPECT_EQ(text, "No se ha podido conectar con el servidor");
  }
  EXPECT_EQ(client.transaccion()->running.load(), 0);

  auto no_session = Start({"--no-session"});
  TEHDDClient other;
  try {
    other.Conectar("127.0.0.1", "alumno", no_session->port());
    ADD_FAILURE() << "a session without IS";
  } catch (const std::string& text) {
    EXPECT_EQ(text, "NO SESSION");
  }
  EXPECT_EQ(other.transaccion()->running.load(), 0);

  // Never connected: a server open fails at once.
  TEHDDClient local;
  local.Mount("data", 'D');
  EXPECT_EQ(local.Abrir("D:\\nine.bin", 0), nullptr);
}

TEST_F(ServerClientTest, FaultModesEndCleanly) {
  for (const std::vector<std::string>& flags :
       std::vector<std::vector<std::string>>{{"--status-503"}, {"--wrong-id"}, {"--bad-block"},
                                             {"--long-length"}, {"--close-mid-reply"}}) {
    SCOPED_TRACE(flags[0]);
    auto server = Start(flags);
    platform::SetMessageSink([](const std::string&, const std::string&, unsigned) { return 1; });
    TEHDDClient client;
    client.SetTimeout(1);
    client.Mount("data", 'D');
    try {
      client.Conectar("127.0.0.1", "alumno", server->port());
      ADD_FAILURE() << "a session through a broken server";
    } catch (const std::string& text) {
      EXPECT_EQ(text, "NO SESSION");
    }
    platform::SetMessageSink(nullptr);
  }
  // A head that arrives one byte at a time still reads.
  auto slow = Start({"--trickle-head"});
  TEHDDClient client;
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", slow->port());
  TFicheroEHDD* f = client.Abrir("D:\\rec.STR", 0);
  ASSERT_NE(f, nullptr);
  client.Cerrar(f);
}

TEST_F(ServerClientTest, LostConnectionMidReadThrowsAndTheClientRecovers) {
  auto good = Start();
  TEHDDClient client;
  client.SetTimeout(1);
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", good->port());
  // Past the blocks that come with the open.
  std::ofstream(dir_ / "root" / "data" / "long.bin", std::ios::binary) << Pattern(100000);
  TFicheroEHDD* f = client.Abrir("D:\\long.bin", 0);
  ASSERT_NE(f, nullptr);
  good.reset();  // the server goes away with the file open
  std::vector<char> buffer(100);
  ASSERT_EQ(client.Posicionar(f, 64000, 0), 0);
  ExpectLostConnection(client, f, buffer.data(), 100);
  EXPECT_EQ(client.Posicion(f), 64000u);  // the offset did not move
  // What came with the open is still served.
  client.Posicionar(f, 0, 0);
  ASSERT_EQ(client.Leer(buffer.data(), 1, 100, f), 100u);
  EXPECT_EQ(std::string(buffer.data(), 100), Pattern(100));
  auto back = Start();
  client.ForgetOpenFiles();
  client.Conectar("127.0.0.1", "alumno", back->port());
  f = client.Abrir("D:\\nine.bin", 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(client.Leer(buffer.data(), 1, 100, f), 100u);
  client.Cerrar(f);
}

TEST(Transaction, NoConnectionFailsAtOnce) {
  TTransaccionHTTP engine;
  engine.SetCallback(&TEHDDClient::OnRequestDone);
  TEHDDReply reply;
  std::string id;
  EXPECT_FALSE(engine.Submit("CM=CF&ID=1&IS=2", nullptr, 0, id, &reply, nullptr, 0));
  EXPECT_TRUE(reply.semaphore.WaitFor(0));
  EXPECT_EQ(reply.status, 1);
  EXPECT_FALSE(id.empty());
}

}  // namespace

namespace {

TEST_F(ServerClientTest, TimeOutsOfZeroAndOfOneSecond) {
  auto slow = Start({"--delay-ms", "1300"});
  TEHDDClient patient;
  patient.SetTimeout(0);  // no request ever fails by age
  patient.Mount("data", 'D');
  patient.Conectar("127.0.0.1", "alumno", slow->port());
  EXPECT_FALSE(patient.session_id().empty());

  TEHDDClient hasty;
  hasty.SetTimeout(1);
  try {
    hasty.Conectar("127.0.0.1", "alumno", slow->port());
    ADD_FAILURE() << "a reply later than the time-out";
  } catch (const std::string& text) {
    EXPECT_EQ(text, "NO SESSION");
  }
}

TEST_F(ServerClientTest, SeveralThreadsShareTheConnection) {
  auto server = Start();
  TEHDDClient client;
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", server->port());
  std::vector<std::thread> readers;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        TFicheroEHDD* f = client.Abrir("D:\\nine.bin", 0);
        if (f == nullptr) continue;
        std::vector<char> buffer(9000);
        if (client.Leer(buffer.data(), 1, 9000, f) == 9000 &&
            std::string(buffer.data(), 9000) == Pattern(9000)) {
          ++good;
        }
        client.Cerrar(f);
      }
    });
  }
  for (auto& r : readers) r.join();
  EXPECT_EQ(good.load(), 20);
}

// Against an in-test peer that holds replies back: what other threads can
// do meanwhile, and where a read that fails leaves its file.
bool Starts(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

using Clock = std::chrono::steady_clock;

TEST_F(ServerClientTest, AFlushWaitingForTheServerHoldsUpNoOtherFile) {
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

// Sixteen blocks' worth read from an offset inside a block touch seventeen,
// one more than the memory level holds (no slot file here): the read still
// returns every byte right, in rounds the level can hold, and no block is
// asked for twice.
TEST_F(ServerClientTest, AnUnalignedReadOfSixteenBlocksTouchingSeventeenReadsWhole) {
  constexpr size_t kLength = 20 * 4000;
  std::ofstream(dir_ / "root" / "data" / "big.bin", std::ios::binary) << Pattern(kLength);
  auto server = Start();
  TEHDDClient client;
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", server->port());
  ASSERT_FALSE(TEHDDCache::Instance()->persistente());
  TFicheroEHDD* f = client.Abrir("D:\\big.bin", 0);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(client.Posicionar(f, 2000, 0), 0);
  std::vector<char> buffer(64000);
  ASSERT_EQ(client.Leer(buffer.data(), 1, 64000, f), 64000u);
  EXPECT_EQ(std::string(buffer.data(), 64000), Pattern(kLength).substr(2000, 64000));
  EXPECT_EQ(client.Posicion(f), 66000u);
  // Blocks 0..15 in the first request; the 17th block (index 16) came in a
  // later one, from its own offset.
  const auto reads = Sent("CM=RD");
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].rfind("CM=RD&OF=0&BS=4000&NB=16&", 0), 0u);
  EXPECT_EQ(reads[1].rfind("CM=RD&OF=64000&BS=4000&NB=16&", 0), 0u);
  // One block past the level: the same read again still gives every byte.
  ASSERT_EQ(client.Posicionar(f, 2000, 0), 0);
  ASSERT_EQ(client.Leer(buffer.data(), 1, 64000, f), 64000u);
  EXPECT_EQ(std::string(buffer.data(), 64000), Pattern(kLength).substr(2000, 64000));
  client.Cerrar(f);
}

TEST_F(ServerClientTest, AReadWhoseLaterRoundFailsLeavesTheOffsetWhereItBegan) {
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
  ExpectLostConnection(client, f, buffer.data(), kLength - 100);
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

// Files named ahead are opened and their first blocks fetched together;
// the open that follows sends nothing and reads what came, also after a
// seek back into those blocks. A hint nobody took is closed once the open
// files are forgotten; a file the store refused is reported absent.
TEST_F(ServerClientTest, HintedFilesAreOpenedTogetherAndTheOpenTakesWhatCame) {
  std::ofstream(dir_ / "root" / "data" / "a.bin", std::ios::binary) << Pattern(70000);
  std::ofstream(dir_ / "root" / "data" / "b.bin", std::ios::binary) << Pattern(5);
  auto server = Start();
  TEHDDClient client;
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", server->port());
  EXPECT_EQ(client.transaccion()->window(), TEHDDClient::kVentana);  // a direct connection
  client.Anticipar({"D:\\a.bin", "D:\\b.bin", "D:\\missing.bin", "D:\\a.bin"});
  TFicheroEHDD* f = client.Abrir("D:\\a.bin", 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->length, 70000u);
  EXPECT_EQ(Sent("CM=OP&MD=1&FN=data/a.bin&").size(), 1u);
  std::vector<char> buffer(70000);
  // Past the blocks that came: one read more; back into them: none.
  ASSERT_EQ(client.Posicionar(f, 64000, 0), 0);
  ASSERT_EQ(client.Leer(buffer.data() + 64000, 1, 6000, f), 6000u);
  ASSERT_EQ(client.Posicionar(f, 40000, 0), 0);
  ASSERT_EQ(client.Leer(buffer.data() + 40000, 1, 24000, f), 24000u);
  EXPECT_EQ(std::string(buffer.data() + 40000, 30000), Pattern(70000).substr(40000));
  EXPECT_EQ(Sent("CM=RD&OF=0&").size(), 3u);  // a, b and missing, once each
  EXPECT_EQ(Sent("CM=RD&OF=64000&").size(), 1u);
  client.Cerrar(f);

  EXPECT_EQ(client.Abrir("D:\\missing.bin", 0), nullptr);
  EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), TEHDDClient::FalloApertura::kAusente);
  EXPECT_EQ(Sent("CM=OP&MD=1&FN=data/missing.bin&").size(), 1u);

  // b.bin was never opened: its server file is closed when the open files
  // are forgotten, and a later open asks again.
  client.ForgetOpenFiles();
  EXPECT_EQ(SentAtLeast("CM=CF", 2).size(), 2u);
  TFicheroEHDD* b = client.Abrir("D:\\b.bin", 0);
  ASSERT_NE(b, nullptr);
  char small[5];
  ASSERT_EQ(client.Leer(small, 1, 5, b), 5u);
  EXPECT_EQ(std::string(small, 5), Pattern(5));
  EXPECT_EQ(Sent("CM=OP&MD=1&FN=data/b.bin&").size(), 2u);
  client.Cerrar(b);
}

// A file written after it was named ahead is read as written, not as the
// hint found it.
TEST_F(ServerClientTest, AFileWrittenAfterItsHintIsReadAsWritten) {
  std::ofstream(dir_ / "root" / "data" / "w.bin", std::ios::binary) << "old";
  auto server = Start();
  TEHDDClient client;
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", server->port());
  client.Anticipar({"D:\\w.bin"});
  TFicheroEHDD* w = client.Crear("D:\\w.bin");
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(client.Escribir("new!", 4, w), 4u);
  client.Cerrar(w);
  TFicheroEHDD* r = client.Abrir("D:\\w.bin", 0);
  ASSERT_NE(r, nullptr);
  char text[8] = {};
  ASSERT_EQ(client.Leer(text, 1, 8, r), 4u);
  EXPECT_EQ(std::string(text, 4), "new!");
  client.Cerrar(r);
}

// The server reads a file through the descriptor its open took, as a
// server holding the file open does, until the file's close; a read after
// the close, or a new open, finds the file as it is on disk then, never a
// descriptor left from before.
TEST_F(ServerClientTest, TheServerReadsAnOpenFileUntilItsCloseAndThenTheFileOnDisk) {
  const fs::path file = dir_ / "root" / "data" / "swap.bin";
  std::ofstream(file, std::ios::binary) << "first";
  auto server = Start();
  TEHDDClient client;
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", server->port());
  const std::string session = "&IS=" + client.session_id();
  auto send = [&](const std::string& command) {
    TEHDDReply reply;
    EXPECT_TRUE(client.Enviar(command + session, nullptr, 0, nullptr, 0, reply)) << command;
    return std::string(reinterpret_cast<const char*>(reply.data), reply.length);
  };
  const std::string id = CacheName("data/swap.bin");
  const std::string read = "CM=RD&OF=0&BS=4000&NB=1&ID=" + id;
  EXPECT_EQ(send("CM=OP&FN=data/swap.bin&MD=0"), "IDF=" + id + "&RT=1&LN=5");
  // Replaced on disk under the open file.
  std::ofstream(dir_ / "new.bin", std::ios::binary) << "second";
  fs::rename(dir_ / "new.bin", file);
  EXPECT_EQ(send(read), "first");
  send("CM=CF&ID=" + id);
  EXPECT_EQ(send(read), "second");
  EXPECT_EQ(send("CM=OP&FN=data/swap.bin&MD=0"), "IDF=" + id + "&RT=1&LN=6");
  EXPECT_EQ(send(read), "second");
  // An open of a file that is gone, or is a folder, fails.
  EXPECT_EQ(send("CM=OP&FN=data/none.bin&MD=0"), "RT=0");
  EXPECT_EQ(send("CM=OP&FN=data&MD=0"), "RT=0");
}

// A client against a scripted peer: no proxy, no registry, a fresh cache,
// boxes answered at once.
class ClientAgainstPeer : public testing::Test {
 protected:
  void SetUp() override {
    setenv("LECTORIA_REGISTRY_DIR", "/nonexistent-registry", 1);
    unsetenv("http_proxy");
    TEHDDCache::Destroy();
    platform::SetMessageSink([](const std::string&, const std::string&, unsigned) {
      return platform::kIdOk;
    });
  }
  void TearDown() override {
    platform::SetMessageSink(nullptr);
    unsetenv("LECTORIA_REGISTRY_DIR");
    TEHDDCache::Destroy();
  }
  // A peer serving one file of `bytes` at data/<name> under the id a
  // server of ours gives it, in ranges of 16 blocks; `range` may change
  // the answer to the read at an offset.
  static FakePeer::Handler ServingOneFile(
      const std::string& name, std::string bytes,
      std::function<void(const FakePeer::Request&, size_t offset, FakePeer::Answer&)> range =
          nullptr) {
    return [name, bytes = std::move(bytes), range](const FakePeer::Request& r) {
      FakePeer::Answer a;
      if (r.command.rfind("CM=OS", 0) == 0) {
        a.bytes = FakePeer::Session(r);
      } else if (r.command.rfind("CM=OP", 0) == 0) {
        a.bytes = FakePeer::Ok(r.id, "IDF=" + CacheName(("data/" + name).c_str()) +
                                         "&RT=1&LN=" + std::to_string(bytes.size()));
      } else if (r.command.rfind("CM=RD", 0) == 0) {
        const size_t of = std::strtoul(r.command.c_str() + 9, nullptr, 10);
        a.bytes = FakePeer::Ok(r.id, bytes.substr(std::min(of, bytes.size()), 64000));
        if (range) range(r, of, a);
      } else {
        a.bytes = FakePeer::Ok(r.id, "RET=0");
      }
      return a;
    };
  }
  static void Connect(TEHDDClient& client, const FakePeer& peer, int32_t timeout_s) {
    client.SetTimeout(timeout_s);
    client.Mount("data", 'D');
    client.Conectar("127.0.0.1", "alumno", peer.port());
  }
};

// A server that names its files otherwise: the read that went beside the
// open under the cache name is answered with bytes that are not the file's
// (as a server may answer an id it does not know); they are dropped, the
// file is read under the id the open gave, and no later open sends such a
// read again.
TEST_F(ClientAgainstPeer, AnOpenAnsweredWithAnotherIdDropsTheReadBesideIt) {
  std::atomic<int> reads_by_name{0};
  FakePeer peer([&](const FakePeer::Request& r) {
    FakePeer::Answer a;
    if (r.command.rfind("CM=OS", 0) == 0) {
      a.bytes = FakePeer::Session(r);
    } else if (r.command.rfind("CM=OP", 0) == 0) {
      a.bytes = FakePeer::Ok(r.id, "IDF=F1&RT=1&LN=6");
    } else if (r.command.rfind("CM=RD", 0) == 0) {
      const bool ours = r.command.find("&ID=F1&") != std::string::npos;
      if (!ours) ++reads_by_name;
      a.bytes = FakePeer::Ok(r.id, ours ? "right!" : "WRONG!");
    } else {
      a.bytes = FakePeer::Ok(r.id, "RET=0");
    }
    return a;
  });
  TEHDDClient client;
  Connect(client, peer, 5);
  for (int round = 0; round < 2; ++round) {
    TFicheroEHDD* f = client.Abrir("D:\\six.bin", 0);
    ASSERT_NE(f, nullptr);
    char text[6];
    ASSERT_EQ(client.Leer(text, 1, 6, f), 6u);
    EXPECT_EQ(std::string(text, 6), "right!");
    client.Cerrar(f);
  }
  EXPECT_EQ(reads_by_name.load(), 1);
}

// The connection is lost in the middle of the read that went with an open
// and the server stays away: the open stands (its answer came), the read
// that needs the server fails once with the lost-connection text, and
// nothing of the cut reply is served as the file's.
TEST_F(ClientAgainstPeer, AServerLostInTheMiddleOfTheReadBesideAnOpen) {
  FakePeer peer([](const FakePeer::Request& r) {
    FakePeer::Answer a;
    if (r.connection > 1) {
      a.close = true;  // gone for good
    } else if (r.command.rfind("CM=OS", 0) == 0) {
      a.bytes = FakePeer::Session(r);
    } else if (r.command.rfind("CM=OP", 0) == 0) {
      a.bytes = FakePeer::Opened(r, 9000);
    } else {
      const std::string whole = FakePeer::Ok(r.id, std::string(9000, 'x'));
      a.bytes = whole.substr(0, whole.size() / 2);
      a.close = true;
    }
    return a;
  });
  TEHDDClient client;
  Connect(client, peer, 1);
  TFicheroEHDD* f = client.Abrir("D:\\nine.bin", 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TEHDDCache::Instance()->BytesEnCache(f->path), 0u);
  std::vector<char> buffer(9000);
  ExpectLostConnection(client, f, buffer.data(), 9000);
  EXPECT_EQ(client.Posicion(f), 0u);
  EXPECT_EQ(TEHDDCache::Instance()->BytesEnCache(f->path), 0u);
}

// A file read on from its start asks for each range once, the next one
// going out while the caller works on this one; a seek back, and a read
// ahead let go when the reading went elsewhere, still read the file's own
// bytes.
TEST_F(ServerClientTest, AFileReadOnFromItsStartAsksForEachRangeOnce) {
  const std::string bytes = Pattern(300000);
  std::ofstream(dir_ / "root" / "data" / "long.bin", std::ios::binary) << bytes;
  auto server = Start();
  TEHDDClient client;
  client.Mount("data", 'D');
  client.Conectar("127.0.0.1", "alumno", server->port());
  TFicheroEHDD* f = client.Abrir("D:\\long.bin", 0);
  ASSERT_NE(f, nullptr);
  std::string read(68000, '\0');
  // Into the second range: it is fetched, and the third goes out before
  // anybody reads it.
  ASSERT_EQ(client.Leer(read.data(), 1, 68000, f), 68000u);
  EXPECT_EQ(SentAtLeast("CM=RD&OF=128000&", 1).size(), 1u);
  char piece[4000];
  for (uint32_t got; (got = client.Leer(piece, 1, sizeof(piece), f)) > 0;) read.append(piece, got);
  EXPECT_EQ(read, bytes);
  const auto reads = Sent("CM=RD");
  EXPECT_EQ(reads.size(), 5u);  // 300,000 bytes in ranges of 64,000
  for (size_t i = 0; i < reads.size(); ++i) {
    EXPECT_EQ(reads[i].rfind("CM=RD&OF=" + std::to_string(i * 64000) + "&", 0), 0u) << reads[i];
  }
  // Back to the start while a range ahead may be on its way, then on.
  ASSERT_EQ(client.Posicionar(f, 100, 0), 0);
  std::vector<char> again(150000);
  ASSERT_EQ(client.Leer(again.data(), 1, 70000, f), 70000u);
  ASSERT_EQ(client.Posicionar(f, 200000, 0), 0);
  ASSERT_EQ(client.Leer(again.data() + 70000, 1, 80000, f), 80000u);
  EXPECT_EQ(std::string(again.data(), 70000), bytes.substr(100, 70000));
  EXPECT_EQ(std::string(again.data() + 70000, 80000), bytes.substr(200000, 80000));
  client.Cerrar(f);
}

// While a read waits for the range it needs, the range after it is already
// on its way: a peer that answers a range only once the next one is asked
// for (a server whose replies leave two requests late) still serves the file
// whole, each range asked for once.
TEST_F(ClientAgainstPeer, TheRangeAfterTheOneAReadWaitsForIsAlreadyAsked) {
  std::string bytes(300000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 23);
  std::string held;  // the answer to the read before, not yet sent
  FakePeer peer(ServingOneFile(
      "late.bin", bytes, [&](const FakePeer::Request&, size_t offset, FakePeer::Answer& a) {
        if (offset < 128000) return;  // with the open, and the first one fetched
        // A range is answered with the next request, the last one with it.
        if (offset + 64000 >= bytes.size()) {
          a.bytes = held + a.bytes;
        } else {
          std::swap(held, a.bytes);
        }
      }));
  TEHDDClient client;
  Connect(client, peer, 3);
  TFicheroEHDD* f = client.Abrir("D:\\late.bin", 0);
  ASSERT_NE(f, nullptr);
  std::string read;
  char piece[16000];
  try {
    for (uint32_t got; (got = client.Leer(piece, 1, sizeof(piece), f)) > 0;) read.append(piece, got);
  } catch (const std::string& text) {
    ADD_FAILURE() << "a read waited for its range before asking for the next: " << text;
  }
  EXPECT_EQ(read, bytes);
  int reads = 0;
  for (const std::string& c : peer.Commands()) reads += c.rfind("CM=RD", 0) == 0;
  EXPECT_EQ(reads, 5);  // 300,000 bytes in ranges of 64,000
  client.Cerrar(f);
}

// The connection is lost in the middle of a read ahead and the server stays
// away: the read that needs those blocks fails once with the lost-connection
// text, the offset stays, and nothing of the cut reply is served.
TEST_F(ClientAgainstPeer, AServerLostInTheMiddleOfAReadAhead) {
  const std::string bytes(200000, 'b');
  FakePeer peer(ServingOneFile(
      "ahead.bin", bytes, [](const FakePeer::Request& r, size_t offset, FakePeer::Answer& a) {
        if (r.connection > 1) {
          a.bytes.clear();  // gone for good
          a.close = true;
        } else if (offset == 128000) {
          a.bytes.resize(a.bytes.size() / 2);
          a.close = true;
        }
      }));
  TEHDDClient client;
  Connect(client, peer, 1);
  TFicheroEHDD* f = client.Abrir("D:\\ahead.bin", 0);
  ASSERT_NE(f, nullptr);
  std::vector<char> buffer(64000);
  // The first range came with the open; the second is fetched, and the
  // third asked for ahead of it.
  ASSERT_EQ(client.Leer(buffer.data(), 1, 64000, f), 64000u);
  ASSERT_EQ(client.Leer(buffer.data(), 1, 64000, f), 64000u);
  EXPECT_EQ(std::string(buffer.data(), 64000), bytes.substr(64000, 64000));
  ExpectLostConnection(client, f, buffer.data(), 4000);
  EXPECT_EQ(client.Posicion(f), 128000u);
  std::vector<TRangoCache> entries;
  uint32_t first_missing = 0;
  EXPECT_EQ(TEHDDCache::Instance()->ComprobarRango(f->path, entries, 128000, 64000, first_missing),
            17u);  // the 16 blocks of the cut range, and the one its end touches
}

// The open files are forgotten (an unload) while a read ahead of one is
// still on its way: its answer, when it comes, finds its reply alive.
TEST_F(ClientAgainstPeer, AReadAheadOutlivesItsForgottenFile) {
  const std::string bytes(200000, 'f');
  std::atomic<bool> late_answered{false};
  FakePeer peer(ServingOneFile(
      "gone.bin", bytes, [&](const FakePeer::Request&, size_t offset, FakePeer::Answer& a) {
        if (offset != 128000) return;
        a.delay_ms = 300;
        late_answered = true;
      }));
  {
    TEHDDClient client;
    Connect(client, peer, 5);
    TFicheroEHDD* f = client.Abrir("D:\\gone.bin", 0);
    ASSERT_NE(f, nullptr);
    std::vector<char> buffer(128000);
    ASSERT_EQ(client.Leer(buffer.data(), 1, 64000, f), 64000u);
    ASSERT_EQ(client.Leer(buffer.data(), 1, 64000, f), 64000u);  // the third range goes ahead
    client.ForgetOpenFiles();
    for (int i = 0; i < 200 && !late_answered; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the late answer has come
    TFicheroEHDD* again = client.Abrir("D:\\gone.bin", 0);
    ASSERT_NE(again, nullptr);
    ASSERT_EQ(client.Leer(buffer.data(), 1, 100, again), 100u);
    EXPECT_EQ(std::string(buffer.data(), 100), bytes.substr(0, 100));
    client.Cerrar(again);
  }
}
