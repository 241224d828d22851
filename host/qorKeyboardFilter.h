// The main window's keyboard hook: an application event filter that sees
// each key press delivered to the main window's own window (once per press,
// auto-repeat included; presses in boxes and other windows are not seen),
// tells the handler its virtual key and typed character, and never consumes
// the event.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QKeyEvent;

struct VirtualKey {
  int32_t code = 0;    // the Windows virtual-key code
  uint16_t typed = 0;  // the character typed, one UTF-16 code unit (0 for none)
};

constexpr int32_t kVkBack = 0x08;
constexpr int32_t kVkTab = 0x09;
constexpr int32_t kVkReturn = 0x0D;
constexpr int32_t kVkShift = 0x10;
constexpr int32_t kVkControl = 0x11;
constexpr int32_t kVkMenu = 0x12;
constexpr int32_t kVkCapital = 0x14;
constexpr int32_t kVkEscape = 0x1B;
constexpr int32_t kVkSpace = 0x20;
constexpr int32_t kVkPrior = 0x21;
constexpr int32_t kVkNext = 0x22;
constexpr int32_t kVkLeft = 0x25;
constexpr int32_t kVkUp = 0x26;
constexpr int32_t kVkRight = 0x27;
constexpr int32_t kVkDown = 0x28;
constexpr int32_t kVkDelete = 0x2E;
// The key of any other typed character.
constexpr int32_t kVkOtherCharacter = 0xBA;

// The virtual key of a key press; false for a key the lesson is not told of.
bool VirtualKeyOf(const QKeyEvent& event, VirtualKey& key);

class qorKeyboardFilter : public QObject {
  Q_OBJECT

 public:
  using Handler = std::function<void(const VirtualKey& key)>;

  qorKeyboardFilter(QWidget* window, Handler handler, QObject* parent = nullptr);

  bool eventFilter(QObject* receiver, QEvent* event) override;

 private:
  QPointer<QWidget> window_;
  Handler handler_;
};
