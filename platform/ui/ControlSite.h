// The control site: what the engine needs of the window a control lives in.
//
// One site per control window. The engine draws into its own surfaces and
// presents rectangles of them here from any thread; the site copies them into
// its front image under a lock and asks its GUI thread to repaint, so a
// present never waits for the GUI thread. The site also holds the window's
// mouse cursor, its text caret, its focus and the character of the key being
// handled.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gfx/Surface.h"

namespace platform::ui {

// System cursor identifiers; a cursor handle is its identifier.
using CursorHandle = uintptr_t;
constexpr uint32_t kCursorArrow = 32512;
constexpr uint32_t kCursorIBeam = 32513;
constexpr uint32_t kCursorHand = 32649;

struct CaretState {
  bool exists = false;
  int width = 0;
  int height = 0;
  int x = 0;
  int y = 0;
  int hide_count = 0;  // a new caret starts hidden (1); shown at 0
  bool Visible() const { return exists && hide_count == 0; }
};

class IControlSite {
 public:
  virtual ~IControlSite() = default;

  // Copies the rectangle of the source to (window_x, window_y) of the window.
  virtual void Present(const gfx::Surface& source, gfx::Rect source_rect, int window_x,
                       int window_y) = 0;

  // Sets the window's cursor; gives the previous one (0 when none was set).
  virtual CursorHandle SetCursor(CursorHandle cursor) = 0;
  virtual CursorHandle Cursor() const = 0;

  // The caret: a new one starts hidden; show and hide nest.
  virtual void CreateCaret(int width, int height) = 0;
  virtual void DestroyCaret() = 0;
  virtual void SetCaretPos(int x, int y) = 0;
  virtual void ShowCaret() = 0;
  virtual void HideCaret() = 0;
  virtual CaretState Caret() const = 0;

  virtual void SetFocus() = 0;
  virtual bool HasFocus() const = 0;

  // The character of the key message being handled (0 outside one).
  virtual uint16_t KeyChar() const = 0;
};

// The state every site keeps: the front image, cursor, caret, focus and key,
// under one lock, with an ordered log of the caret and focus calls (the
// engine's caret operations depend on their order). A subclass is told of
// changes to repaint them.
class ControlSiteBase : public IControlSite {
 public:
  ControlSiteBase(int width, int height);

  void Present(const gfx::Surface& source, gfx::Rect source_rect, int window_x,
               int window_y) override;
  CursorHandle SetCursor(CursorHandle cursor) override;
  CursorHandle Cursor() const override;
  void CreateCaret(int width, int height) override;
  void DestroyCaret() override;
  void SetCaretPos(int x, int y) override;
  void ShowCaret() override;
  void HideCaret() override;
  CaretState Caret() const override;
  void SetFocus() override;
  bool HasFocus() const override;
  uint16_t KeyChar() const override;

  // Set by the host around the handling of a key message.
  void SetKeyChar(uint16_t ch);
  // Taken by the host, e.g. when another window gets the focus.
  void ClearFocus();

  // A copy of the front image (what the window shows).
  gfx::Surface FrontImage() const;

  // Caret and focus calls in order ("SetFocus", "CreateCaret 2x19", ...).
  std::vector<std::string> CallLog() const;
  void ClearCallLog();

 protected:
  // Called after a present, without the lock held, with the window
  // rectangle that changed.
  virtual void RequestRepaint(gfx::Rect window_rect) = 0;
  // Called after a cursor, caret or focus change, without the lock held.
  virtual void StateChanged() {}

  // Runs f on the front image under the lock (for the GUI thread's paint).
  template <typename F>
  void WithFront(F&& f) const {
    std::lock_guard<std::mutex> lock(mutex_);
    f(front_);
  }

 private:
  void Log(std::string entry);

  mutable std::mutex mutex_;
  gfx::Surface front_;
  CursorHandle cursor_ = 0;
  CaretState caret_;
  bool focus_ = false;
  uint16_t key_char_ = 0;
  std::vector<std::string> log_;
};

}  // namespace platform::ui
