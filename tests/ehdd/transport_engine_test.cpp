// The transaction engine against peers that misbehave on purpose: boxes
// that stay open, replies that trickle, proxies that drop the handshake,
// reconnections from other threads, and callers that free their reply
// record the moment it is signalled.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ehdd/TEHDDClient.h"
#include "ehdd/TEHDDReply.h"
#include "ehdd/TSocketTCP.h"
#include "ehdd/TTransaccionHTTP.h"
#include "platform/MessageBox.h"
#include "tests/ehdd/fake_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// An engine on its own socket, connected to a peer.
struct Engine {
  explicit Engine(uint16_t port, int32_t timeout_s) {
    socket.Connect("127.0.0.1", port);
    engine.SetServer("ehdd.example", 80);
    engine.SetSocket(&socket);
    engine.SetTimeout(timeout_s);
    engine.SetCallback(&TEHDDClient::OnRequestDone);
    engine.Launch();
    for (int i = 0; i < 500 && engine.running.load() == 0; ++i) Dormir(10);
  }
  ~Engine() { engine.StopAndJoin(); }
  void Submit(const std::string& command, TEHDDReply& reply) {
    std::string id;
    engine.Submit(command, nullptr, 0, id, &reply, nullptr, 0);
  }
  TSocketTCP socket;
  TTransaccionHTTP engine;
};

// A box that stays open until the test closes it.
class HeldBox {
 public:
  HeldBox() {
    platform::SetMessageSink([this](const std::string& text, const std::string& caption, unsigned) {
      std::unique_lock<std::mutex> lock(mutex_);
      boxes_.push_back(caption + "|" + text);
      cv_.notify_all();
      cv_.wait_for(lock, std::chrono::seconds(10), [this] { return closed_; });
      return platform::kIdOk;
    });
  }
  ~HeldBox() {
    Close();
    platform::SetMessageSink(nullptr);
  }
  bool WaitOpen() {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [this] { return !boxes_.empty(); });
  }
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    cv_.notify_all();
  }
  std::vector<std::string> Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> boxes_;
  bool closed_ = false;
};

TEST(TransportEngine, ABoxForA5xxReplyIsShownWithoutTheEngineLock) {
  FakePeer peer([](const FakePeer::Request& r) {
    FakePeer::Answer a;
    if (r.command.rfind("CM=OP", 0) == 0) {
      a.bytes = "HTTP/1.1 503 Busy\r\nContent-Length: 4\r\n\r\ndown";
    } else if (!r.id.empty()) {
      a.bytes = FakePeer::Ok(r.id, "RT=1");
    }
    return a;
  });
  HeldBox box;
  Engine e(peer.port(), 5);
  TEHDDReply refused;
  e.Submit("CM=OP&MD=1&FN=x&IS=s", refused);
  ASSERT_TRUE(refused.semaphore.WaitFor(5000));
  EXPECT_EQ(refused.status, 1);  // a 5xx fails what was in flight
  ASSERT_TRUE(box.WaitOpen());

  // The box is up: another thread's request is taken at once.
  std::atomic<bool> submitted{false};
  TEHDDReply later;
  std::thread other([&] {
    e.Submit("CM=CF&ID=1&IS=s", later);
    submitted = true;
  });
  for (int i = 0; i < 200 && !submitted; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(submitted.load());
  EXPECT_EQ(e.engine.waiting() + static_cast<size_t>(e.engine.outstanding()), 1u);
  box.Close();
  other.join();
  ASSERT_TRUE(later.semaphore.WaitFor(5000));
  EXPECT_EQ(later.status, 0);
  // The status line first, then the body.
  EXPECT_EQ(box.Boxes(), (std::vector<std::string>{"ERROR |HTTP/1.1 503 Busy", "|down"}));
}

TEST(TransportEngine, AReplyThatTricklesFailsAtItsRequestsAgeAndHoldsNobody) {
  FakePeer peer([](const FakePeer::Request& r) {
    FakePeer::Answer a;
    if (r.command.rfind("CM=RD", 0) == 0) {
      a.bytes = FakePeer::Ok(r.id, std::string(100, 'x'));
      a.trickle_ms = 200;  // a byte every 200 ms: the head alone takes seconds
    } else if (!r.id.empty()) {
      a.bytes = FakePeer::Ok(r.id, "RT=1");
    }
    return a;
  });
  Engine e(peer.port(), 1);
  const auto start = Clock::now();
  TEHDDReply slow;
  e.Submit("CM=RD&OF=0&BS=4000&NB=1&ID=1&IS=s", slow);
  // Meanwhile the engine takes other requests without waiting on the socket.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto submit_start = Clock::now();
  TEHDDReply queued;
  e.Submit("CM=CF&ID=1&IS=s", queued);
  EXPECT_LT(SecondsSince(submit_start), 0.5);
  ASSERT_TRUE(slow.semaphore.WaitFor(10000));
  EXPECT_EQ(slow.status, 1);
  const double failed_after = SecondsSince(start);
  EXPECT_GE(failed_after, 0.9);
  EXPECT_LT(failed_after, 4.0);  // the head would need about 8 s
  // The queued request goes out on a new connection and is answered.
  ASSERT_TRUE(queued.semaphore.WaitFor(5000));
  EXPECT_EQ(queued.status, 0);
}

TEST(TransportEngine, AProxyThatDropsTheHandshakeIsDialledAgainAndQueuedRequestsGoOut) {
  std::atomic<bool> dropped{false};
  FakePeer* peer_ptr = nullptr;
  FakePeer peer([&](const FakePeer::Request& r) {
    FakePeer::Answer a;
    if (r.connection == 1 && !r.id.empty()) {
      a.bytes = "HTTP/1.1 407 Auth\r\nProxy-Authenticate: NTLM\r\nContent-Length: 0\r\n\r\n";
    } else if (r.connection == 1) {
      // The type 1 message: the proxy stalls, then drops the connection.
      peer_ptr->Wait(400);
      dropped = true;
      a.close = true;
    } else if (!r.id.empty()) {
      a.bytes = FakePeer::Ok(r.id, "IS=S1&RT=1");
    }
    return a;
  });
  peer_ptr = &peer;
  platform::SetMessageSink([](const std::string&, const std::string&, unsigned) { return 1; });
  Engine e(peer.port(), 10);
  const auto start = Clock::now();
  TEHDDReply first;
  e.Submit("CM=OS&OW=a", first);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  TEHDDReply second;  // queued while the handshake is under way
  e.Submit("CM=CF&ID=1&IS=s", second);
  ASSERT_TRUE(first.semaphore.WaitFor(15000));
  ASSERT_TRUE(second.semaphore.WaitFor(15000));
  EXPECT_TRUE(dropped.load());
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(second.status, 0);
  EXPECT_LT(SecondsSince(start), 5.0);  // well before the 10 s time-out
  EXPECT_GE(peer.connections(), 2);
  platform::SetMessageSink(nullptr);
}

TEST(TransportEngine, WaitingRequestsExpireWhileAHandshakeStalls) {
  FakePeer peer([](const FakePeer::Request& r) {
    FakePeer::Answer a;
    if (!r.id.empty()) {
      a.bytes = "HTTP/1.1 407 Auth\r\nProxy-Authenticate: NTLM\r\nContent-Length: 0\r\n\r\n";
    }
    return a;  // the type 1 message gets no answer at all
  });
  platform::SetMessageSink([](const std::string&, const std::string&, unsigned) { return 1; });
  Engine e(peer.port(), 1);
  const auto start = Clock::now();
  TEHDDReply first;
  e.Submit("CM=OS&OW=a", first);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  TEHDDReply second;
  e.Submit("CM=CF&ID=1&IS=s", second);
  ASSERT_TRUE(first.semaphore.WaitFor(10000));
  ASSERT_TRUE(second.semaphore.WaitFor(10000));
  EXPECT_EQ(first.status, 1);
  EXPECT_EQ(second.status, 1);
  EXPECT_LT(SecondsSince(start), 4.0);
  platform::SetMessageSink(nullptr);
}

// Another thread closes and reconnects the socket over and over while
// requests are in flight: each request ends (answered or failed), nothing
// waits for ever and nothing is read off a connection that is gone.
TEST(TransportEngine, ReconnectsFromAnotherThreadWhileRequestsAreInFlight) {
  FakePeer peer([](const FakePeer::Request& r) {
    FakePeer::Answer a;
    if (!r.id.empty()) a.bytes = FakePeer::Ok(r.id, std::string(3000, 'r'));
    return a;
  });
  Engine e(peer.port(), 2);
  std::atomic<bool> done{false};
  std::thread reconnector([&] {
    while (!done) {
      e.engine.Reconectar("127.0.0.1", peer.port(), "ehdd.example", 80);
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  std::vector<std::thread> callers;
  std::atomic<int> ended{0};
  for (int t = 0; t < 3; ++t) {
    callers.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        TEHDDReply reply;
        e.Submit("CM=RD&OF=0&BS=4000&NB=1&ID=1&IS=s", reply);
        if (reply.semaphore.WaitFor(10000)) ++ended;
        if (reply.status == 0) {
          EXPECT_EQ(reply.length, 3000u);
        }
      }
    });
  }
  for (auto& c : callers) c.join();
  done = true;
  reconnector.join();
  EXPECT_EQ(ended.load(), 60);
}

// A later start of the session reconnects through the engine while its
// thread is busy with a request the peer holds back.
TEST(TransportEngine, ALaterConnectReconnectsUnderTheEnginesLock) {
  std::atomic<int> reads{0};
  FakePeer peer([&](const FakePeer::Request& r) {
    FakePeer::Answer a;
    if (r.command.rfind("CM=OS", 0) == 0) {
      a.bytes = FakePeer::Session(r);
    } else if (r.command.rfind("CM=RD", 0) == 0) {
      a.bytes = FakePeer::Ok(r.id, "data");
      if (++reads == 1) a.delay_ms = 500;  // the first read is held back
    }
    return a;
  });
  setenv("LECTORIA_REGISTRY_DIR", "/nonexistent-registry", 1);
  unsetenv("http_proxy");
  TEHDDClient client;
  client.SetTimeout(5);
  client.Conectar("127.0.0.1", "alumno", peer.port());
  TEHDDReply held;
  std::string id;
  client.transaccion()->Submit("CM=RD&OF=0&BS=4000&NB=1&ID=1&IS=S1", nullptr, 0, id, &held, nullptr,
                               0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  client.Conectar("127.0.0.1", "alumno", peer.port());
  EXPECT_EQ(client.session_id(), "S1");
  // The held read went back in line and was answered on the new connection.
  ASSERT_TRUE(held.semaphore.WaitFor(5000));
  EXPECT_EQ(held.status, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(held.data), held.length), "data");
  unsetenv("LECTORIA_REGISTRY_DIR");
}

// The thread sleeps while a request is on the wire and the reply is late;
// the reply's arrival wakes it and is handed over in that same turn, and
// an idle engine takes no turns of its own.
TEST(TransportEngine, AReplyThatArrivesWhileTheThreadWaitsIsHandedOverInOneTurn) {
  std::mutex mutex;
  std::condition_variable cv;
  bool arrived = false, release = false;
  FakePeer peer([&](const FakePeer::Request& r) {
    std::unique_lock<std::mutex> lock(mutex);
    arrived = true;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
    FakePeer::Answer a;
    a.bytes = FakePeer::Ok(r.id, "RT=1");
    return a;
  });
  Engine e(peer.port(), 30);
  TEHDDReply reply;
  e.Submit("CM=CF&ID=1&IS=s", reply);
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return arrived; }));
  }
  // The request is on the wire and its reply held back: the thread settles
  // into its wait and takes no turns meanwhile.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const uint64_t waiting_since = e.engine.turns();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(e.engine.turns(), waiting_since);
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
    cv.notify_all();
  }
  ASSERT_TRUE(reply.semaphore.WaitFor(10000));
  EXPECT_EQ(reply.status, 0);
  // Woken by the reply, read and completed in the turn that followed.
  EXPECT_LE(e.engine.turns() - waiting_since, 1u);
  // Idle again: no turns while nothing is on the wire.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const uint64_t idle_since = e.engine.turns();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(e.engine.turns(), idle_since);
}

// Each caller frees its reply record (and so its semaphore) as soon as its
// wait returns, while the releasing thread may still be inside Release.
TEST(TransportEngine, AWaiterMayFreeItsReplyTheMomentItIsSignalled) {
  constexpr int kPairs = 4;
  constexpr int kRounds = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kPairs; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < kRounds; ++i) {
        auto* reply = new TEHDDReply;
        std::thread releaser([reply] {
          TRespuestaHTTP done;
          done.reply = reply;
          done.status = 0;
          TEHDDClient::OnRequestDone(done);
        });
        reply->semaphore.Wait();
        delete reply;
        releaser.join();
      }
    });
  }
  for (auto& t : threads) t.join();
  SUCCEED();
}

}  // namespace

// With a window of more than one, requests that do not wait for each other
// are on the wire together; a lost connection sends them again in the order
// they were submitted, whatever their ids, so a close never overtakes the
// open before it. With a window of one they go one at a time.
TEST(TransportEngine, RequestsOverlapUpToTheWindowAndGoAgainInTheirOrder) {
  const std::vector<std::string> commands = {
      "CM=OP&MD=1&FN=a&IS=s", "CM=RD&OF=0&BS=4000&NB=16&ID=a&IS=s", "CM=CF&ID=a&IS=s",
      "CM=OP&MD=1&FN=b&IS=s", "CM=RD&OF=0&BS=4000&NB=16&ID=b&IS=s", "CM=CF&ID=b&IS=s"};
  std::mutex mutex;
  std::vector<std::string> again;
  FakePeer peer([&](const FakePeer::Request& r) {
    FakePeer::Answer a;
    if (r.connection == 1) {
      // The first connection answers nothing and goes once all are out.
      a.delay_ms = 300;
      a.close = true;
      return a;
    }
    std::lock_guard<std::mutex> lock(mutex);
    again.push_back(r.command);
    a.bytes = FakePeer::Ok(r.id, "RET=0");
    return a;
  });
  Engine e(peer.port(), 10);
  e.engine.SetWindow(16);
  std::vector<std::unique_ptr<TEHDDReply>> replies;
  for (const std::string& command : commands) {
    replies.push_back(std::make_unique<TEHDDReply>());
    e.Submit(command, *replies.back());
  }
  EXPECT_EQ(e.engine.outstanding(), 6);
  EXPECT_EQ(e.engine.waiting(), 0u);
  for (auto& reply : replies) {
    ASSERT_TRUE(reply->semaphore.WaitFor(10000));
    EXPECT_EQ(reply->status, 0);
  }
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(again, commands);
}

TEST(TransportEngine, AWindowOfOneSendsOneRequestAtATime) {
  FakePeer peer([](const FakePeer::Request& r) {
    FakePeer::Answer a;
    a.bytes = FakePeer::Ok(r.id, "RET=0");
    a.delay_ms = 200;
    return a;
  });
  Engine e(peer.port(), 10);
  e.engine.SetWindow(0);  // below the least: one
  TEHDDReply first, second, third;
  e.Submit("CM=CF&ID=1&IS=s", first);
  e.Submit("CM=CF&ID=2&IS=s", second);
  e.Submit("CM=CF&ID=3&IS=s", third);
  EXPECT_EQ(e.engine.outstanding(), 1);
  EXPECT_EQ(e.engine.waiting(), 2u);
  for (TEHDDReply* reply : {&first, &second, &third}) {
    ASSERT_TRUE(reply->semaphore.WaitFor(10000));
    EXPECT_EQ(reply->status, 0);
  }
}

// Without a buffer of the caller's, the size given bounds the data taken:
// a reply at the bound is whole, one byte past it fails that request alone
// and the stream stays in step for the next.
TEST(TransportEngine, TheSizeGivenBoundsTheDataOfARequestWithoutABuffer) {
  FakePeer peer([](const FakePeer::Request& r) {
    FakePeer::Answer a;
    const size_t n = r.command.find("NB=2") != std::string::npos ? 8001 : 8000;
    a.bytes = FakePeer::Ok(r.id, std::string(n, 'd'));
    return a;
  });
  Engine e(peer.port(), 10);
  e.engine.SetWindow(16);
  TEHDDReply at, past, after;
  std::string id;
  e.engine.Submit("CM=RD&NB=1&IS=s", nullptr, 0, id, &at, nullptr, 8000);
  e.engine.Submit("CM=RD&NB=2&IS=s", nullptr, 0, id, &past, nullptr, 8000);
  e.engine.Submit("CM=RD&NB=3&IS=s", nullptr, 0, id, &after, nullptr, 8000);
  for (TEHDDReply* reply : {&at, &past, &after}) ASSERT_TRUE(reply->semaphore.WaitFor(10000));
  EXPECT_EQ(at.status, 0);
  EXPECT_EQ(at.length, 8000u);
  EXPECT_EQ(past.status, 1);
  EXPECT_EQ(past.data, nullptr);
  EXPECT_EQ(after.status, 0);
  EXPECT_EQ(after.length, 8000u);
}
