// The eHDD transport against ehdd-server on loopback: round trips of a small
// request and 16-block (64,000-byte) reads, held against a plain TCP
// ping-pong of the same sizes; and the CPU the idle transaction thread uses.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ehdd/TEHDDCache.h"
#include "ehdd/TEHDDClient.h"
#include "tests/support/TestServer.h"

namespace fs = std::filesystem;

namespace {

// The served folder, and ehdd-server on it for the life of the object.
struct Server {
  std::string root = [] {
    char pattern[] = "/tmp/lectoria-bench-transport-XXXXXX";
    const std::string made = mkdtemp(pattern);
    std::vector<char> bytes(5 * 1000 * 1000, 'x');
    std::ofstream(made + "/big.bin", std::ios::binary).write(bytes.data(), bytes.size());
    std::ofstream(made + "/small.txt") << "hola";
    return made;
  }();
  TestServer server{root, ""};
  uint16_t port = server.port();
  ~Server() {
    server.Kill();
    fs::remove_all(root);
  }
};

Server& TheServer() {
  static Server server;
  return server;
}

TEHDDClient& Client() {
  static TEHDDClient* client = [] {
    unsetenv("http_proxy");  // the server is on loopback
    unsetenv("HTTP_PROXY");
    auto* c = new TEHDDClient();
    c->Mount("", 'D');
    c->Conectar("127.0.0.1", "bench", TheServer().port);
    return c;
  }();
  return *client;
}

void BM_SmallRoundTrip(benchmark::State& state) {
  TEHDDClient& client = Client();
  for (auto _ : state) {
    TEHDDReply reply;
    client.Enviar("CM=CF&ID=none&IS=" + client.session_id(), nullptr, 0, nullptr, 0, reply);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SmallRoundTrip);

void BM_Read16Blocks(benchmark::State& state) {
  TEHDDClient& client = Client();
  TFicheroEHDD* f = client.Abrir("D:/big.bin", 0);
  std::vector<unsigned char> buffer(64000);
  uint32_t offset = 0;
  for (auto _ : state) {
    // A fresh range each time, so every read is one 16-block request.
    client.Posicionar(f, offset, 0);
    benchmark::DoNotOptimize(client.Leer(buffer.data(), 1, 64000, f));
    offset = (offset + 64000) % (5 * 1000 * 1000 - 64000);
    if (offset < 64000) {
      client.Cerrar(f);
      f = client.Abrir("D:/big.bin", 0);  // opening forgets the cached blocks
    }
  }
  client.Cerrar(f);
  state.SetBytesProcessed(state.iterations() * 64000);
}
BENCHMARK(BM_Read16Blocks);

// The same 64,000 bytes again: served by the block cache, nothing is sent.
void BM_Read16BlocksWarm(benchmark::State& state) {
  TEHDDClient& client = Client();
  TFicheroEHDD* f = client.Abrir("D:/big.bin", 0);
  std::vector<unsigned char> buffer(64000);
  for (auto _ : state) {
    client.Posicionar(f, 0, 0);
    benchmark::DoNotOptimize(client.Leer(buffer.data(), 1, 64000, f));
  }
  client.Cerrar(f);
  state.SetBytesProcessed(state.iterations() * 64000);
}
BENCHMARK(BM_Read16BlocksWarm);

// The bound: a plain TCP ping-pong on loopback with the same sizes.
void BM_PingPongBound(benchmark::State& state) {
  const size_t reply_size = static_cast<size_t>(state.range(0));
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  socklen_t len = sizeof(a);
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  listen(listener, 1);
  std::thread peer([&] {
    int c = accept(listener, nullptr, nullptr);
    int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    std::vector<char> request(300), reply(reply_size, 'r');
    for (;;) {
      if (recv(c, request.data(), request.size(), 0) <= 0) break;
      send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    close(c);
  });
  int s = socket(AF_INET, SOCK_STREAM, 0);
  connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  std::vector<char> request(300, 'q'), reply(reply_size);
  for (auto _ : state) {
    send(s, request.data(), request.size(), MSG_NOSIGNAL);
    size_t got = 0;
    while (got < reply_size) got += static_cast<size_t>(recv(s, reply.data() + got, reply_size - got, 0));
  }
  close(s);
  peer.join();
  close(listener);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(reply_size));
}
BENCHMARK(BM_PingPongBound)->Arg(100)->Arg(64100);

// CPU time the process spends while the transaction thread waits idle.
void BM_IdleThreadCpu(benchmark::State& state) {
  Client();
  for (auto _ : state) {
    timespec a{}, b{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
    double cpu = (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
    state.counters["cpu_share"] = cpu / 0.5;
  }
}
BENCHMARK(BM_IdleThreadCpu)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
