// The worker record: created asleep, woken once, no wake lost, every stop
// bounded.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/ThreadRecord.h"
#include "platform/MessageBox.h"

namespace {

struct RecordingSink {
  RecordingSink() {
    platform::SetMessageSink([this](const std::string& text, const std::string&, unsigned) {
      std::lock_guard<std::mutex> lock(mutex);
      texts.push_back(text);
      return platform::kIdOk;
    });
  }
  ~RecordingSink() { platform::SetMessageSink(nullptr); }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(mutex);
    return texts;
  }
  std::mutex mutex;
  std::vector<std::string> texts;
};

TEST(ThreadRecord, RunsOnlyAfterTheFirstWakeAndEndsWithState3) {
  ThreadRecord record;
  std::atomic<int> runs{0};
  ASSERT_TRUE(record.Crear("Worker", "Worker creation failed.", nullptr, [&] {
    ++runs;
    while (record.Estado() == ThreadRecord::kCorriendo) record.SuspenderThread();
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(runs.load(), 0);
  EXPECT_EQ(record.Estado(), ThreadRecord::kNuevo);
  record.DespertarThread();
  ASSERT_TRUE(record.EsperarThreadArrancado(5000));
  EXPECT_TRUE(record.Parar(5000));
  EXPECT_EQ(record.Estado(), ThreadRecord::kTerminado);
  EXPECT_EQ(runs.load(), 1);
  EXPECT_FALSE(record.TieneThread());
}

TEST(ThreadRecord, AWakeGivenBeforeTheWorkerSuspendsIsKept) {
  // The worker tests its work, then suspends: a post in between must still
  // wake it. 2000 rounds of post-then-wait must all be served.
  ThreadRecord record;
  std::atomic<int> pending{0};
  std::atomic<int> served{0};
  ASSERT_TRUE(record.Crear("Worker", "", nullptr, [&] {
    while (record.Estado() == ThreadRecord::kCorriendo) {
      if (pending.load() == 0) {
        std::this_thread::yield();  // widen the window between test and sleep
        record.SuspenderThread();
        continue;
      }
      ++served;
      pending.store(0);
      record.Notificar();
    }
  }));
  record.DespertarThread();
  for (int i = 0; i < 2000; ++i) {
    pending.store(1);
    record.DespertarThread();
    ASSERT_TRUE(record.EsperarCondicion([&] { return pending.load() == 0; }, 5000))
        << "round " << i;
  }
  EXPECT_EQ(served.load(), 2000);
  EXPECT_TRUE(record.Parar());
}

TEST(ThreadRecord, AStopBeforeTheStartSkipsTheBody) {
  ThreadRecord record;
  std::atomic<bool> ran{false};
  ASSERT_TRUE(record.Crear("Loader", "", nullptr, [&] { ran = true; }));
  EXPECT_TRUE(record.EsperarFin(5000));
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(record.Estado(), ThreadRecord::kTerminado);
}

TEST(ThreadRecord, AFailedCreationReportsItsTextAndEveryWaitReturnsAtOnce) {
  RecordingSink sink;
  ThreadRecord::FailCreationsForTesting(1);
  ThreadRecord record;
  EXPECT_FALSE(record.Crear("ThreadEvents", "ThreadEvents creation failed.", nullptr, [] {}));
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{"ThreadEvents creation failed."});
  EXPECT_FALSE(record.TieneThread());
  record.DespertarThread();
  EXPECT_TRUE(record.EsperarThreadArrancado(60000));
  EXPECT_TRUE(record.Parar(60000));
  EXPECT_TRUE(record.EsperarFin(60000));
}

TEST(ThreadRecord, AStopThatTimesOutSaysSoAndReturnsFalse) {
  RecordingSink sink;
  std::atomic<bool> release{false};
  auto* record = new ThreadRecord;  // kept alive while its thread still runs
  ASSERT_TRUE(record->Crear("ThreadPeriodicEvents", "", nullptr, [&] {
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }));
  record->DespertarThread();
  ASSERT_TRUE(record->EsperarThreadArrancado(5000));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(record->Parar(100));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{"ThreadPeriodicEvents no termina."});
  release = true;
  EXPECT_TRUE(record->Parar(5000));
  delete record;
}

TEST(ThreadRecord, SuspenderThreadForIsATimedSleepEndedByAWake) {
  ThreadRecord record;
  std::atomic<int> woken{-1};
  ASSERT_TRUE(record.Crear("Audio", "", nullptr, [&] {
    woken = record.SuspenderThreadFor(30) ? 1 : 0;  // times out
    record.Notificar();
    while (record.Estado() == ThreadRecord::kCorriendo) record.SuspenderThreadFor(100);
  }));
  record.DespertarThread();
  ASSERT_TRUE(record.EsperarCondicion([&] { return woken.load() >= 0; }, 5000));
  EXPECT_EQ(woken.load(), 0);
  EXPECT_TRUE(record.Parar(5000));
}

}  // namespace
