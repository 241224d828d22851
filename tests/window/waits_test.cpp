// The GUI thread's waits for the engine: frames a worker presents are painted
// and its boxes answered while input and timers stay out; boxes from any
// thread; bounded waits.
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

#include "WindowFixture.h"
#include "platform/MessageBox.h"
#include "platform/gfx/Surface.h"

using namespace std::chrono_literals;

namespace {

class WaitsTest : public WindowTest {};

TEST_F(WaitsTest, AWaitPaintsFramesAndAnswersBoxesButRunsNoInput) {
  TForm1& form = Open();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  Study(1);
  qorUiHost* host = form.UiHost();
  int engine_ticks = 0;
  const auto timer = host->SetTimer(5, [&] { ++engine_ticks; });
  ASSERT_NE(timer, 0u);

  int ticks_inside = -1;
  size_t calls_before_box = 0;
  size_t calls_after_box = 0;
  during_box_ = [&] {
    // A real box runs the event loop: ticks, Timer1 and clicks come now.
    calls_before_box = control_->calls.size();
    QTest::qWait(650);
    QTest::mouseClick(form.Image31, Qt::LeftButton);
    ticks_inside = engine_ticks;
    calls_after_box = control_->calls.size();
  };
  int paints_during = 0;
  int worker_answer = 0;
  bool finished = false;
  bool waited = false;
  control_->on_wait = [&] {
    if (waited) return;  // the first wait only
    waited = true;
    std::atomic<bool> done{false};
    const int paints_before = form.AXeTAE1->PaintCount();
    std::thread worker([&] {
      platform::gfx::Surface frame(687, 534);
      for (int i = 0; i < 5; ++i) {
        frame.Fill({0, 0, 687, 534}, platform::gfx::Rgb(40 * i, 100, 200));
        form.AXeTAE1->Present(frame, {0, 0, 687, 534}, 0, 0);
        std::this_thread::sleep_for(15ms);
      }
      worker_answer = host->ShowMessageBox("Worker box", "Lectoria", platform::kMbYesNo);
      done = true;
      host->Wake();
    });
    finished = host->WaitOnGuiThread([&] { return done.load(); }, 20000);
    worker.join();
    paints_during = form.AXeTAE1->PaintCount() - paints_before;
  };
  form.Image18Click();  // the page turn waits for the control
  EXPECT_TRUE(finished);
  EXPECT_GE(paints_during, 1);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "Lectoria|Worker box|4");
  EXPECT_EQ(worker_answer, 1);
  EXPECT_EQ(ticks_inside, 0);
  EXPECT_EQ(calls_after_box, calls_before_box);                   // no tick read the audit
  EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet2);  // the click stayed out
  EXPECT_EQ(form.LabelPage->text(), "02");
  // The last frame is what the window shows.
  const QImage shown = form.AXeTAE1->grab().toImage();
  EXPECT_EQ(shown.pixelColor(300, 300), QColor(160, 100, 200));
  // Out of the wait, ticks run again.
  QTest::qWait(60);
  EXPECT_GT(engine_ticks, 0);
  EXPECT_TRUE(host->KillTimer(timer));
  EXPECT_FALSE(host->KillTimer(timer));
}

TEST_F(WaitsTest, AWorkersBoxIsShownByTheIdleEventLoop) {
  TForm1& form = Open();
  std::atomic<int> answer{-1};
  std::thread worker([&] {
    answer = form.UiHost()->ShowMessageBox("From a worker", "Lectoria", platform::kMbOk);
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return answer.load() != -1; }, 10000));
  worker.join();
  EXPECT_EQ(answer.load(), 1);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "Lectoria|From a worker|0");
}

TEST_F(WaitsTest, WaitsEndOnTheirConditionOrTheirTime) {
  auto host = std::make_shared<qorUiHost>();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(host->WaitOnGuiThread([] { return false; }, 40));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
  std::atomic<bool> flag{false};
  std::thread worker([&] {
    std::this_thread::sleep_for(20ms);
    flag = true;
    host->Wake();
  });
  EXPECT_TRUE(host->WaitOnGuiThread([&] { return flag.load(); }, 20000));
  worker.join();
  // A wait off the GUI thread only waits.
  bool off_thread = false;
  std::thread other([&] { off_thread = host->WaitOnGuiThread([] { return true; }, 10); });
  other.join();
  EXPECT_TRUE(off_thread);
}

TEST_F(WaitsTest, TimersLiveOnTheGuiThreadAndMayStopThemselves) {
  auto host = std::make_shared<qorUiHost>();
  qorUiHost::TimerId from_worker = 1;
  std::thread worker([&] { from_worker = host->SetTimer(10, [] {}); });
  worker.join();
  EXPECT_EQ(from_worker, 0u);
  int ticks = 0;
  qorUiHost::TimerId id = 0;
  id = host->SetTimer(1, [&] {
    ++ticks;
    host->KillTimer(id);
  });
  ASSERT_NE(id, 0u);
  QTest::qWait(50);
  EXPECT_EQ(ticks, 1);
}

TEST_F(WaitsTest, AWorkerWaitingForABoxIsAnsweredWhenTheHostGoes) {
  auto host = std::make_shared<qorUiHost>();
  std::atomic<int> answer{-1};
  qorUiHost* raw = host.get();
  std::thread worker([&] { answer = raw->ShowMessageBox("late", "Lectoria", platform::kMbYesNo); });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (host->PendingBoxes() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  ASSERT_EQ(host->PendingBoxes(), 1u);
  host.reset();  // the event loop never ran
  worker.join();
  EXPECT_EQ(answer.load(), platform::kIdYes);
}

}  // namespace
