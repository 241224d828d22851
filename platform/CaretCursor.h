// The caret and mouse cursor of the control window, kept as a model.
//
// The engine shows a text caret for typing into gaps and changes the mouse
// cursor over buttons. These calls keep what a window system would show, so
// the host can draw it and tests can read it; each call is also logged in
// order, since the engine's caret operations rely on their call order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using WindowHandle = void*;

// System cursor identifiers.
constexpr uint32_t kCursorArrow = 32512;
constexpr uint32_t kCursorIBeam = 32513;
constexpr uint32_t kCursorHand = 32649;

struct CaretState {
  bool exists = false;
  WindowHandle window = nullptr;
  int width = 0;
  int height = 0;
  int x = 0;
  int y = 0;
  int hide_count = 0;  // a new caret starts hidden (1); shown at 0
  bool Visible() const { return exists && hide_count == 0; }
};

// Window focus and caret, process-wide (the control window owns them).
void SetFocus(WindowHandle window);
WindowHandle Focus();
void DestroyCaret();
void CreateCaret(WindowHandle window, int width, int height);
void SetCaretPos(int x, int y);
void ShowCaret(WindowHandle window);
void HideCaret(WindowHandle window);
CaretState Caret();

// Cursors: a loaded system cursor is its identifier.
using CursorHandle = uintptr_t;
CursorHandle LoadSystemCursor(uint32_t id);
// Sets the cursor; returns the previous one (0 when none was set).
CursorHandle SetCursor(CursorHandle cursor);
CursorHandle CurrentCursor();

// The calls above in order ("SetFocus", "CreateCaret 2x19", ...), for tests.
std::vector<std::string> CaretCallLog();
void ClearCaretCallLog();

}  // namespace platform
