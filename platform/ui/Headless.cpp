#include "platform/ui/Headless.h"

#include <chrono>

#include "platform/MessageBox.h"
#include "platform/TempFolder.h"

namespace platform::ui {

std::vector<PresentRecord> HeadlessControlSite::PresentLog() const {
  std::lock_guard<std::mutex> lock(log_mutex_);
  return presents_;
}

void HeadlessControlSite::ClearPresentLog() {
  std::lock_guard<std::mutex> lock(log_mutex_);
  presents_.clear();
}

int HeadlessControlSite::RepaintRequests() const {
  std::lock_guard<std::mutex> lock(log_mutex_);
  return repaints_;
}

void HeadlessControlSite::RequestRepaint(gfx::Rect window_rect) {
  std::lock_guard<std::mutex> lock(log_mutex_);
  constexpr size_t kMaxPresents = 4096;  // a long test keeps the latest ones
  if (presents_.size() >= kMaxPresents) presents_.erase(presents_.begin());
  presents_.push_back(PresentRecord{window_rect, std::this_thread::get_id()});
  ++repaints_;
}

IUiHost::TimerId HeadlessUiHost::SetTimer(uint32_t interval_ms, std::function<void()> tick) {
  if (!tick) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t interval = interval_ms == 0 ? 1 : interval_ms;
  TimerId id = next_id_++;
  timers_[id] = Timer{interval, now_ms_ + interval, std::move(tick)};
  return id;
}

bool HeadlessUiHost::KillTimer(TimerId id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.erase(id) > 0;
}

size_t HeadlessUiHost::TimerCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.size();
}

int HeadlessUiHost::AdvanceTimers(uint32_t ms) {
  uint64_t target;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    target = now_ms_ + ms;
  }
  int ticks = 0;
  for (;;) {
    std::function<void()> tick;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // The earliest timer due by the target time.
      auto due = timers_.end();
      for (auto it = timers_.begin(); it != timers_.end(); ++it)
        if (it->second.next_due <= target &&
            (due == timers_.end() || it->second.next_due < due->second.next_due))
          due = it;
      if (due == timers_.end()) {
        now_ms_ = target;
        return ticks;
      }
      now_ms_ = due->second.next_due;
      due->second.next_due += due->second.interval_ms;
      tick = due->second.tick;  // a copy: the tick may kill its own timer
    }
    tick();
    ++ticks;
  }
}

bool HeadlessUiHost::WaitOnGuiThread(const std::function<bool()>& done, uint32_t timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (done()) return true;
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t seen = wakes_;
    // Re-check often: done() may turn true without a wake.
    auto until =
        std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
    wake_.wait_until(lock, until, [&] { return wakes_ != seen; });
    if (std::chrono::steady_clock::now() >= deadline) {
      lock.unlock();
      return done();
    }
  }
}

void HeadlessUiHost::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++wakes_;
  wake_.notify_all();
}

int HeadlessUiHost::ShowMessageBox(const std::string& text, const std::string& caption,
                                   unsigned type) {
  std::lock_guard<std::mutex> lock(mutex_);
  int answer = platform::DefaultButton(type);
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.erase(answers_.begin());
  }
  boxes_.push_back(BoxRecord{text, caption, type, answer, std::this_thread::get_id()});
  return answer;
}

std::string HeadlessUiHost::TempFolder() {
  return platform::TempFolder();
}

void HeadlessUiHost::QueueAnswers(std::vector<int> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.insert(answers_.end(), answers.begin(), answers.end());
}

std::vector<BoxRecord> HeadlessUiHost::Boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

}  // namespace platform::ui
