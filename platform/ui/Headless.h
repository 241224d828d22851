// A control site and UI host without a window system, for tests and tools.
//
// The site keeps its front image and a log of the rectangles presented. The
// host's timers run when the test advances their clock, on the test's thread;
// its boxes are recorded and answered at once, from any thread, with the
// answers the test queued or else the box's first button.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ui/ControlSite.h"
#include "platform/ui/UiHost.h"

namespace platform::ui {

struct PresentRecord {
  gfx::Rect window_rect;  // the window rectangle that changed (clipped)
  std::thread::id thread;
};

class HeadlessControlSite : public ControlSiteBase {
 public:
  HeadlessControlSite(int width, int height) : ControlSiteBase(width, height) {}

  std::vector<PresentRecord> PresentLog() const;
  void ClearPresentLog();
  int RepaintRequests() const;

 protected:
  void RequestRepaint(gfx::Rect window_rect) override;

 private:
  mutable std::mutex log_mutex_;
  std::vector<PresentRecord> presents_;
  int repaints_ = 0;
};

struct BoxRecord {
  std::string text;
  std::string caption;
  unsigned type = 0;
  int answer = 0;
  std::thread::id thread;
};

class HeadlessUiHost : public IUiHost {
 public:
  TimerId SetTimer(uint32_t interval_ms, std::function<void()> tick) override;
  bool KillTimer(TimerId id) override;
  bool WaitOnGuiThread(const std::function<bool()>& done, uint32_t timeout_ms) override;
  void Wake() override;
  int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) override;
  std::string TempFolder() override;

  // Moves the timers' clock on and runs every tick that falls due, in time
  // order, on the calling thread. Returns the number of ticks run.
  int AdvanceTimers(uint32_t ms);
  size_t TimerCount() const;

  // Answers for the next boxes, in order.
  void QueueAnswers(std::vector<int> answers);
  std::vector<BoxRecord> Boxes() const;

 private:
  struct Timer {
    uint32_t interval_ms;
    uint64_t next_due;
    std::function<void()> tick;
  };

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  uint64_t wakes_ = 0;
  uint64_t now_ms_ = 0;
  TimerId next_id_ = 1;
  std::map<TimerId, Timer> timers_;
  std::vector<int> answers_;
  std::vector<BoxRecord> boxes_;
};

}  // namespace platform::ui
