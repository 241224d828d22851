#include <gtest/gtest.h>

#include <thread>

#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/WakeEvent.h"

namespace {

TEST(Clock, ManualClockDrivesTickAndSleep) {
  platform::ManualClock clock(0xFFFFFFF0u);
  platform::ScopedClock scoped(&clock);
  EXPECT_EQ(platform::TickCount(), 0xFFFFFFF0u);
  platform::SleepMs(0x20);  // sleeping moves a manual clock, and it wraps
  EXPECT_EQ(platform::TickCount(), 0x10u);
  clock.Advance(5);
  EXPECT_EQ(platform::TickCount(), 0x15u);
}

TEST(Clock, SystemClockIsBackAfterScope) {
  {
    platform::ManualClock clock(7);
    platform::ScopedClock scoped(&clock);
    EXPECT_EQ(platform::TickCount(), 7u);
  }
  uint32_t a = platform::TickCount();
  platform::SleepMs(5);
  uint32_t elapsed = platform::TickCount() - a;
  EXPECT_GE(elapsed, 4u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(MessageBox, RecordingSinkSeesEveryBoxAndAnswers) {
  struct Box {
    std::string text, caption;
    unsigned type;
  };
  std::vector<Box> boxes;
  platform::SetMessageSink([&](const std::string& t, const std::string& c, unsigned type) {
    boxes.push_back({t, c, type});
    return platform::kIdNo;
  });
  EXPECT_EQ(platform::ShowMessageBox("hola", "Error", platform::kMbYesNo), platform::kIdNo);
  // A box from another thread reaches the same sink.
  std::thread([] { platform::ShowMessageBox("desde hilo", "T", platform::kMbOk); }).join();
  platform::SetMessageSink(nullptr);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[1].text, "desde hilo");
}

TEST(MessageBox, DefaultSinkAnswersTheFirstButton) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(platform::ShowMessageBox("x", "ERROR", platform::kMbOk), platform::kIdOk);
  EXPECT_EQ(platform::ShowMessageBox("x", "q", platform::kMbYesNo), platform::kIdYes);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("[ERROR] x"), std::string::npos);
}

TEST(MessageBox, ExitHookIsObservable) {
  int seen = 0;
  platform::SetExitHook([&](int code) {
    seen = code;
    throw platform::ExitRequested(code);
  });
  try {
    platform::ExitProcess(-1);
    ADD_FAILURE() << "exit returned";
  } catch (const platform::ExitRequested& e) {
    EXPECT_EQ(e.code, -1);
  }
  platform::SetExitHook(nullptr);
  EXPECT_EQ(seen, -1);
}

TEST(WakeEvent, WakeBeforeWaitIsKept) {
  platform::WakeEvent wake;
  wake.Wake();
  wake.Wake();  // several wakes count as one
  EXPECT_TRUE(wake.Pending());
  EXPECT_TRUE(wake.WaitFor(0));
  EXPECT_FALSE(wake.WaitFor(10));
}

TEST(WakeEvent, WakesAWaitingThread) {
  platform::WakeEvent wake;
  std::atomic<int> stage{0};
  std::thread worker([&] {
    stage = 1;
    wake.Wait();
    stage = 2;
  });
  while (stage.load() != 1) std::this_thread::yield();
  wake.Wake();
  worker.join();
  EXPECT_EQ(stage.load(), 2);
  EXPECT_FALSE(wake.Pending());
}

}  // namespace
