#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "base/CriticalSection.h"
#include "base/Semaphore.h"
#include "base/TThreadOSAL.h"

namespace {

class CountingThread : public TThreadOSAL {
 public:
  CountingThread() : TThreadOSAL(1) {}
  ~CountingThread() override { StopAndJoin(); }
  void Run() override {
    runs.fetch_add(1);
    while (!stop.load()) Dormir(1);
  }
  std::atomic<int> runs{0};
};

void WaitRunning(TThreadOSAL& t, uint8_t value) {
  for (int i = 0; i < 5000 && t.running.load() != value; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(t.running.load(), value);
}

void WaitRuns(CountingThread& t, int runs) {
  for (int i = 0; i < 5000 && t.runs.load() != runs; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(t.runs.load(), runs);
}

TEST(TThreadOSAL, NeverStartedDoesNotWait) {
  CountingThread t;
  EXPECT_FALSE(t.HoldsThread());
  t.Join();
  EXPECT_EQ(t.runs.load(), 0);
}

TEST(TThreadOSAL, LaunchAfterAStopRunsAgain) {
  CountingThread t;
  ASSERT_TRUE(t.Launch());
  WaitRunning(t, 1);
  t.stop = 1;
  WaitRunning(t, 0);
  // The stop flag is still set; Launch clears it so the new thread keeps running.
  ASSERT_TRUE(t.Launch());
  WaitRuns(t, 2);
  EXPECT_EQ(t.stop.load(), 0);
  EXPECT_EQ(t.running.load(), 1);
}

TEST(TThreadOSAL, StartOverARunningThreadKeepsIt) {
  CountingThread t;
  ASSERT_TRUE(t.Launch());
  WaitRuns(t, 1);
  EXPECT_FALSE(t.Start());
  EXPECT_EQ(t.runs.load(), 1);
  t.StopAndJoin();
  EXPECT_EQ(t.running.load(), 0);
  EXPECT_FALSE(t.HoldsThread());
}

TEST(TThreadOSAL, ABodyThatThrowsEndsCleanly) {
  struct Thrower : TThreadOSAL {
    Thrower() : TThreadOSAL(0) {}
    ~Thrower() override { Join(); }
    void Run() override { throw "Se ha perdido la conexión con el servidor"; }
  } t;
  ASSERT_TRUE(t.Launch());
  t.Join();
  EXPECT_EQ(t.running.load(), 0);
}

TEST(Semaphore, ReleasesBeforeTheWaitAreCounted) {
  Semaphore s(0);
  EXPECT_FALSE(s.WaitFor(1));
  EXPECT_TRUE(s.Release());
  EXPECT_TRUE(s.Release());
  s.Wait();
  EXPECT_TRUE(s.WaitFor(0));
  EXPECT_FALSE(s.WaitFor(0));
}

TEST(Semaphore, AReleasePastTheMaximumIsRefused) {
  Semaphore s(Semaphore::kMaximo - 1);
  EXPECT_TRUE(s.Release());
  EXPECT_EQ(s.Count(), Semaphore::kMaximo);
  EXPECT_FALSE(s.Release());
  EXPECT_EQ(s.Count(), Semaphore::kMaximo);
  EXPECT_EQ(Semaphore(-5).Count(), 0);
}

TEST(Semaphore, WakesAWaiterOnAnotherThread) {
  std::unique_ptr<Semaphore> s(Semaphore::Create(0));
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    s->Wait();
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(done.load());
  s->Release();
  waiter.join();
  EXPECT_TRUE(done.load());
}

TEST(CriticalSection, IsReentrantAndExcludesOtherThreads) {
  CriticalSection cs;
  cs.Initialize();
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        CriticalSectionGuard outer(cs);
        CriticalSectionGuard inner(cs);  // same thread enters again
        ++counter;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 8000);
  cs.Delete();
}

}  // namespace
