#include "platform/ui/ControlSite.h"

namespace platform::ui {

namespace {
constexpr size_t kMaxLog = 256;  // the log keeps the latest calls only
}

ControlSiteBase::ControlSiteBase(int width, int height) : front_(width, height) {}

void ControlSiteBase::Present(const gfx::Surface& source, gfx::Rect source_rect, int window_x,
                              int window_y) {
  gfx::Rect changed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    gfx::CopyRect(front_, window_x, window_y, source, source_rect.x, source_rect.y, source_rect.w,
                  source_rect.h);
    changed = front_.Clip(gfx::Rect{window_x, window_y, source_rect.w, source_rect.h});
  }
  if (!changed.Empty()) RequestRepaint(changed);
}

CursorHandle ControlSiteBase::SetCursor(CursorHandle cursor) {
  CursorHandle previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    previous = cursor_;
    cursor_ = cursor;
  }
  if (previous != cursor) StateChanged();
  return previous;
}

CursorHandle ControlSiteBase::Cursor() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cursor_;
}

void ControlSiteBase::Log(std::string entry) {
  if (log_.size() >= kMaxLog) log_.erase(log_.begin());
  log_.push_back(std::move(entry));
}

void ControlSiteBase::CreateCaret(int width, int height) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    caret_ = CaretState{};
    caret_.exists = true;
    caret_.width = width;
    caret_.height = height;
    caret_.hide_count = 1;
    Log("CreateCaret " + std::to_string(width) + "x" + std::to_string(height));
  }
  StateChanged();
}

void ControlSiteBase::DestroyCaret() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    caret_ = CaretState{};
    Log("DestroyCaret");
  }
  StateChanged();
}

void ControlSiteBase::SetCaretPos(int x, int y) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    caret_.x = x;
    caret_.y = y;
    Log("SetCaretPos " + std::to_string(x) + "," + std::to_string(y));
  }
  StateChanged();
}

void ControlSiteBase::ShowCaret() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (caret_.exists && caret_.hide_count > 0) --caret_.hide_count;
    Log("ShowCaret");
  }
  StateChanged();
}

void ControlSiteBase::HideCaret() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (caret_.exists) ++caret_.hide_count;
    Log("HideCaret");
  }
  StateChanged();
}

CaretState ControlSiteBase::Caret() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return caret_;
}

void ControlSiteBase::SetFocus() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    focus_ = true;
    Log("SetFocus");
  }
  StateChanged();
}

void ControlSiteBase::ClearFocus() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    focus_ = false;
  }
  StateChanged();
}

bool ControlSiteBase::HasFocus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return focus_;
}

uint16_t ControlSiteBase::KeyChar() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return key_char_;
}

void ControlSiteBase::SetKeyChar(uint16_t ch) {
  std::lock_guard<std::mutex> lock(mutex_);
  key_char_ = ch;
}

gfx::Surface ControlSiteBase::FrontImage() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return front_;
}

std::vector<std::string> ControlSiteBase::CallLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

void ControlSiteBase::ClearCallLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
}

}  // namespace platform::ui
