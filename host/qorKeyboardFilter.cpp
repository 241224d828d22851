#include "host/qorKeyboardFilter.h"

#include <QKeyEvent>
#include <QWindow>

#include <cctype>

namespace {

// Keys told by their function, whatever they type.
bool FixedKey(int qt_key, int32_t& code) {
  switch (qt_key) {
    case Qt::Key_PageUp:
      code = kVkPrior;
      return true;
    case Qt::Key_PageDown:
      code = kVkNext;
      return true;
    case Qt::Key_Backspace:
      code = kVkBack;
      return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      code = kVkTab;
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      code = kVkReturn;
      return true;
    case Qt::Key_Escape:
      code = kVkEscape;
      return true;
    case Qt::Key_Left:
      code = kVkLeft;
      return true;
    case Qt::Key_Up:
      code = kVkUp;
      return true;
    case Qt::Key_Right:
      code = kVkRight;
      return true;
    case Qt::Key_Down:
      code = kVkDown;
      return true;
    case Qt::Key_Delete:
      code = kVkDelete;
      return true;
    case Qt::Key_Shift:
      code = kVkShift;
      return true;
    case Qt::Key_Control:
      code = kVkControl;
      return true;
    case Qt::Key_Alt:
      code = kVkMenu;
      return true;
    case Qt::Key_CapsLock:
      code = kVkCapital;
      return true;
    default:
      return false;
  }
}

bool AsciiLetterOrDigit(int qt_key) {
  return (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) ||
         (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9);
}

}  // namespace

bool VirtualKeyOf(const QKeyEvent& event, VirtualKey& key) {
  const QString text = event.text();
  const uint16_t typed = text.size() == 1 ? text.at(0).unicode() : 0;
  int32_t code = 0;
  if (FixedKey(event.key(), code)) {
    key = VirtualKey{code, typed};
    return true;
  }
  if (typed != 0) {
    if (typed < 0x80 && std::isalnum(typed)) {
      key = VirtualKey{static_cast<int32_t>(std::toupper(typed)), typed};
    } else if (typed == ' ') {
      key = VirtualKey{kVkSpace, typed};
    } else if (typed < 0x20 || typed == 0x7F) {
      // A control character (Ctrl with a letter): the letter's key.
      if (!AsciiLetterOrDigit(event.key())) return false;
      key = VirtualKey{static_cast<int32_t>(event.key()), typed};
    } else {
      key = VirtualKey{kVkOtherCharacter, typed};
    }
    return true;
  }
  // A letter or digit with a modifier that types nothing.
  if (text.isEmpty() && AsciiLetterOrDigit(event.key())) {
    key = VirtualKey{static_cast<int32_t>(event.key()), 0};
    return true;
  }
  return false;
}

qorKeyboardFilter::qorKeyboardFilter(QWidget* window, Handler handler, QObject* parent)
    : QObject(parent), window_(window), handler_(std::move(handler)) {}

bool qorKeyboardFilter::eventFilter(QObject* receiver, QEvent* event) {
  if (event->type() != QEvent::KeyPress || window_ == nullptr) return false;
  // A press reaches the window first and its focus widget after: acting on
  // the window's delivery alone sees it once.
  if (receiver != window_->windowHandle()) return false;
  VirtualKey key;
  if (handler_ && VirtualKeyOf(*static_cast<QKeyEvent*>(event), key)) handler_(key);
  return false;
}
