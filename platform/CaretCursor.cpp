#include "platform/CaretCursor.h"

#include <mutex>

namespace platform {
namespace {

constexpr size_t kMaxLog = 256;  // the log keeps the latest calls only

struct WindowModel {
  std::mutex mutex;
  WindowHandle focus = nullptr;
  CaretState caret;
  CursorHandle cursor = 0;
  std::vector<std::string> log;

  void Log(std::string entry) {
    if (log.size() >= kMaxLog) log.erase(log.begin());
    log.push_back(std::move(entry));
  }
};

WindowModel& Model() {
  static WindowModel model;
  return model;
}

}  // namespace

void SetFocus(WindowHandle window) {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.focus = window;
  m.Log("SetFocus");
}

WindowHandle Focus() {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.focus;
}

void DestroyCaret() {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.caret = CaretState{};
  m.Log("DestroyCaret");
}

void CreateCaret(WindowHandle window, int width, int height) {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.caret = CaretState{};
  m.caret.exists = true;
  m.caret.window = window;
  m.caret.width = width;
  m.caret.height = height;
  m.caret.hide_count = 1;
  m.Log("CreateCaret " + std::to_string(width) + "x" + std::to_string(height));
}

void SetCaretPos(int x, int y) {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.caret.x = x;
  m.caret.y = y;
  m.Log("SetCaretPos " + std::to_string(x) + "," + std::to_string(y));
}

void ShowCaret(WindowHandle window) {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (m.caret.exists && m.caret.window == window && m.caret.hide_count > 0) --m.caret.hide_count;
  m.Log("ShowCaret");
}

void HideCaret(WindowHandle window) {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (m.caret.exists && m.caret.window == window) ++m.caret.hide_count;
  m.Log("HideCaret");
}

CaretState Caret() {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.caret;
}

CursorHandle LoadSystemCursor(uint32_t id) { return static_cast<CursorHandle>(id); }

CursorHandle SetCursor(CursorHandle cursor) {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  CursorHandle previous = m.cursor;
  m.cursor = cursor;
  m.Log("SetCursor " + std::to_string(cursor));
  return previous;
}

CursorHandle CurrentCursor() {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.cursor;
}

std::vector<std::string> CaretCallLog() {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.log;
}

void ClearCaretCallLog() {
  auto& m = Model();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.log.clear();
}

}  // namespace platform
