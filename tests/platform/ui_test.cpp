#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/MessageBox.h"
#include "platform/ui/Headless.h"

namespace gfx = platform::gfx;
namespace ui = platform::ui;

namespace {

TEST(HeadlessSite, PresentCopiesIntoTheFrontImageAndLogsTheWindowRectangle) {
  ui::HeadlessControlSite site(100, 80);
  gfx::Surface page(40, 30);
  page.Fill({0, 0, 40, 30}, 0x00FF00);
  page.SetPixel(5, 6, 0x0000FF);

  site.Present(page, {5, 6, 10, 10}, 90, 75);  // runs past the window's corner
  gfx::Surface front = site.FrontImage();
  EXPECT_EQ(front.GetPixel(90, 75), 0x0000FFu);
  EXPECT_EQ(front.GetPixel(99, 79), 0x00FF00u);
  EXPECT_EQ(front.GetPixel(89, 75), 0u);
  auto log = site.PresentLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].window_rect, (gfx::Rect{90, 75, 10, 5}));

  // From another thread, while this one holds nothing: it never waits for a GUI thread.
  std::thread worker([&] { site.Present(page, {0, 0, 40, 30}, 0, 0); });
  worker.join();
  log = site.PresentLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[1].thread, std::this_thread::get_id());
  EXPECT_EQ(site.RepaintRequests(), 2);
  site.Present(page, {0, 0, 10, 10}, 500, 500);  // wholly outside: nothing to repaint
  EXPECT_EQ(site.RepaintRequests(), 2);
}

TEST(HeadlessSite, CaretStartsHiddenAndShowHideNest) {
  ui::HeadlessControlSite site(10, 10);
  site.CreateCaret(2, 19);
  EXPECT_TRUE(site.Caret().exists);
  EXPECT_FALSE(site.Caret().Visible());
  site.ShowCaret();
  EXPECT_TRUE(site.Caret().Visible());
  site.HideCaret();
  site.HideCaret();
  site.ShowCaret();
  EXPECT_FALSE(site.Caret().Visible());  // hidden twice, shown once
  site.ShowCaret();
  EXPECT_TRUE(site.Caret().Visible());
  site.ShowCaret();  // showing a visible caret changes nothing
  site.HideCaret();
  EXPECT_FALSE(site.Caret().Visible());
  site.DestroyCaret();
  EXPECT_FALSE(site.Caret().exists);
  site.ShowCaret();  // without a caret: nothing
  EXPECT_FALSE(site.Caret().Visible());
}

TEST(HeadlessSite, CursorFocusAndKey) {
  ui::HeadlessControlSite site(10, 10);
  EXPECT_EQ(site.SetCursor(ui::kCursorHand), 0u);
  EXPECT_EQ(site.SetCursor(ui::kCursorIBeam), ui::kCursorHand);
  EXPECT_EQ(site.Cursor(), ui::kCursorIBeam);
  EXPECT_FALSE(site.HasFocus());
  site.SetFocus();
  EXPECT_TRUE(site.HasFocus());
  site.ClearFocus();
  EXPECT_FALSE(site.HasFocus());
  site.SetKeyChar(u'é');
  EXPECT_EQ(site.KeyChar(), u'é');
}

TEST(HeadlessHost, TimersTickInTimeOrderAndCanStopThemselves) {
  ui::HeadlessUiHost host;
  std::vector<std::string> ticks;
  auto fast = host.SetTimer(50, [&] { ticks.push_back("50"); });
  ui::IUiHost::TimerId slow = 0;
  int slow_count = 0;
  slow = host.SetTimer(120, [&] {
    ticks.push_back("120");
    if (++slow_count == 2) host.KillTimer(slow);
  });
  EXPECT_NE(fast, 0u);
  EXPECT_NE(fast, slow);
  EXPECT_EQ(host.AdvanceTimers(49), 0);
  EXPECT_EQ(host.AdvanceTimers(211), 7);  // now 260: 50 x5, 120 x2
  std::vector<std::string> expected = {"50", "50", "120", "50", "50", "120", "50"};
  EXPECT_EQ(ticks, expected);
  EXPECT_EQ(host.TimerCount(), 1u);
  EXPECT_TRUE(host.KillTimer(fast));
  EXPECT_FALSE(host.KillTimer(fast));
  EXPECT_EQ(host.AdvanceTimers(1000), 0);
  EXPECT_EQ(host.SetTimer(50, nullptr), 0u);
}

TEST(HeadlessHost, GuiThreadWaitServesWorkerBoxesAndEnds) {
  auto shared = std::make_shared<ui::HeadlessUiHost>();
  ui::HeadlessUiHost& host = *shared;
  ui::SetUiHost(shared);
  host.QueueAnswers({platform::kIdRetry});
  std::atomic<bool> finished{false};
  std::atomic<int> answer{0};
  std::thread worker([&] {
    answer = platform::ShowMessageBox("Disk error", "ERROR", platform::kMbRetryCancel);
    finished = true;
    host.Wake();
  });
  EXPECT_TRUE(host.WaitOnGuiThread([&] { return finished.load(); }, 10000));
  worker.join();
  EXPECT_EQ(answer.load(), platform::kIdRetry);
  auto boxes = host.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Disk error");
  EXPECT_EQ(boxes[0].caption, "ERROR");
  EXPECT_NE(boxes[0].thread, std::this_thread::get_id());
  // With no queued answer a box gets its first button.
  EXPECT_EQ(platform::ShowMessageBox("?", "Q", platform::kMbYesNo), platform::kIdYes);
  ui::SetUiHost(nullptr);
  EXPECT_EQ(ui::UiHost(), nullptr);
}

// A host whose box stays open until the test lets it close, and that says
// when it is destroyed.
class HeldBoxHost : public ui::HeadlessUiHost {
 public:
  explicit HeldBoxHost(std::atomic<bool>* destroyed) : destroyed_(destroyed) {}
  ~HeldBoxHost() override { destroyed_->store(true); }
  int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) override {
    std::unique_lock<std::mutex> lock(mutex_);
    inside_ = true;
    cv_.notify_all();
    cv_.wait_for(lock, std::chrono::seconds(10), [this] { return closed_; });
    return ui::HeadlessUiHost::ShowMessageBox(text, caption, type);
  }
  void WaitInside() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::seconds(10), [this] { return inside_; });
  }
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    cv_.notify_all();
  }

 private:
  std::atomic<bool>* destroyed_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool inside_ = false;
  bool closed_ = false;
};

TEST(HeadlessHost, HostRemovedWhileAWorkerIsInsideABoxLivesUntilTheBoxCloses) {
  std::atomic<bool> destroyed{false};
  auto host = std::make_shared<HeldBoxHost>(&destroyed);
  HeldBoxHost* raw = host.get();
  ui::SetUiHost(host);
  std::atomic<int> answer{0};
  std::thread worker([&] { answer = platform::ShowMessageBox("Lost", "ERROR", platform::kMbOk); });
  raw->WaitInside();
  // The program drops the host while the box is open.
  ui::SetUiHost(nullptr);
  host.reset();
  EXPECT_EQ(ui::UiHost(), nullptr);
  EXPECT_FALSE(destroyed.load());
  raw->Close();
  worker.join();
  EXPECT_EQ(answer.load(), platform::kIdOk);
  EXPECT_TRUE(destroyed.load());
  // Boxes asked for afterwards go to the default sink.
  EXPECT_EQ(platform::ShowMessageBox("?", "Q", platform::kMbYesNo), platform::kIdYes);
}

TEST(HeadlessHost, GuiThreadWaitIsBounded) {
  ui::HeadlessUiHost host;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(host.WaitOnGuiThread([] { return false; }, 30));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_FALSE(host.TempFolder().empty());
  EXPECT_EQ(host.TempFolder().back(), '/');
}

}  // namespace
