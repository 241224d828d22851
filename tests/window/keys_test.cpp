// The keyboard hook: virtual keys and typed characters, page keys, one call
// per press (auto-repeat included), none on release or from other windows.
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include <algorithm>

#include "WindowFixture.h"
#include "host/qorKeyboardFilter.h"

using Calls = std::vector<std::string>;

namespace {

VirtualKey KeyOf(int key, const QString& text, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
  VirtualKey out;
  EXPECT_TRUE(VirtualKeyOf(event, out)) << key;
  return out;
}

TEST(VirtualKeyTest, LettersDigitsAndOtherCharacters) {
  struct Case {
    int key;
    QString text;
    int32_t code;
    uint16_t typed;
  };
  const Case cases[] = {
      {Qt::Key_A, "a", 0x41, 0x61},
      {Qt::Key_A, "A", 0x41, 0x41},
      {Qt::Key_Z, "z", 0x5A, 0x7A},
      {Qt::Key_5, "5", 0x35, 0x35},
      {Qt::Key_Space, " ", 0x20, 0x20},
      {0x0424, QString(QChar(0x0444)), 0xBA, 0x0444},  // Cyrillic ef
      {0x0141, QString(QChar(0x0142)), 0xBA, 0x0142},  // Polish l with stroke
      {0x015E, QString(QChar(0x015F)), 0xBA, 0x015F},  // Turkish s with cedilla
      {Qt::Key_Eacute, QString(QChar(0xE9)), 0xBA, 0xE9},
      {Qt::Key_Comma, ",", 0xBA, 0x2C},
      {Qt::Key_Backspace, "\b", 0x08, 0x08},
      {Qt::Key_Tab, "\t", 0x09, 0x09},
      {Qt::Key_Return, "\r", 0x0D, 0x0D},
      {Qt::Key_Enter, "\r", 0x0D, 0x0D},
      {Qt::Key_Escape, QString(QChar(0x1B)), 0x1B, 0x1B},
      {Qt::Key_PageUp, "", 0x21, 0},
      {Qt::Key_PageDown, "", 0x22, 0},
      {Qt::Key_Left, "", 0x25, 0},
      {Qt::Key_Up, "", 0x26, 0},
      {Qt::Key_Right, "", 0x27, 0},
      {Qt::Key_Down, "", 0x28, 0},
      {Qt::Key_Delete, QString(QChar(0x7F)), 0x2E, 0x7F},
      {Qt::Key_Shift, "", 0x10, 0},
      {Qt::Key_Control, "", 0x11, 0},
      {Qt::Key_Alt, "", 0x12, 0},
      {Qt::Key_CapsLock, "", 0x14, 0},
  };
  for (const Case& c : cases) {
    const VirtualKey key = KeyOf(c.key, c.text);
    EXPECT_EQ(key.code, c.code) << c.key;
    EXPECT_EQ(key.typed, c.typed) << c.key;
  }
  // Ctrl with a letter types a control character: the letter's key.
  const VirtualKey control_a = KeyOf(Qt::Key_A, QString(QChar(1)), Qt::ControlModifier);
  EXPECT_EQ(control_a.code, 0x41);
  EXPECT_EQ(control_a.typed, 1);
  // A key that types nothing and has no virtual key of its own is not told.
  QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier, "");
  VirtualKey none;
  EXPECT_FALSE(VirtualKeyOf(f1, none));
}

class KeysTest : public WindowTest {
 protected:
  TForm1& Shown() {
    TForm1& form = Open();
    form.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    return form;
  }
  // Sends a press to the main window's own window, as the system does.
  void Press(int key, const QString& text, bool repeat = false) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text, repeat);
    QApplication::sendEvent(form_->windowHandle(), &event);
  }
};

// Counts the key presses that reach a widget.
class PressCounter : public QObject {
 public:
  int presses = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) ++presses;
    return false;
  }
};

TEST_F(KeysTest, PageDownTurnsThePageOfALoadedUnit) {
  TForm1& form = Shown();
  Study(1);
  control_->Take();
  QTest::keyClick(form.windowHandle(), Qt::Key_PageDown);
  EXPECT_EQ(control_->Take(),
            (Calls{"PaginaSiguiente", "EsperaFinEvento", "get 14", "get 15", "get 38", "get 38"}));
  EXPECT_EQ(form.LabelPage->text(), "02");
  EXPECT_TRUE(form.StudyTabActive);
  QTest::keyClick(form.windowHandle(), Qt::Key_PageUp);
  EXPECT_EQ(control_->Take()[0], "PaginaAnterior");
  EXPECT_EQ(form.LabelPage->text(), "01");
}

TEST_F(KeysTest, PageKeysDoNothingWithoutAUnitAndStillReachTheFocusedWidget) {
  TForm1& form = Shown();
  PressCounter counter;
  form.IE_Start->installEventFilter(&counter);
  form.IE_Start->setFocus();
  QApplication::processEvents();
  control_->Take();
  QTest::keyClick(form.windowHandle(), Qt::Key_PageDown);
  EXPECT_TRUE(control_->Take().empty());
  EXPECT_EQ(counter.presses, 1);
  // On the map, with a unit loaded, neither.
  Study(1);
  form.ShowTab(1);
  control_->Take();
  QTest::keyClick(form.windowHandle(), Qt::Key_PageDown);
  QTest::keyClick(form.windowHandle(), Qt::Key_A);
  EXPECT_TRUE(control_->Take().empty());
  form.IE_Start->removeEventFilter(&counter);
}

TEST_F(KeysTest, ALetterGoesWithItsCharacter) {
  TForm1& form = Shown();
  Study(1);
  control_->Take();
  QTest::keyClick(form.windowHandle(), Qt::Key_A);
  EXPECT_EQ(control_->Take(), (Calls{"TeclaPulsada 0x41"}));
  EXPECT_EQ(control_->key_char_seen, 0x61);
  EXPECT_EQ(form.AXeTAE1->KeyChar(), 0);  // only around the call
  Press(0x0424, QString(QChar(0x0444)));
  EXPECT_EQ(control_->Take(), (Calls{"TeclaPulsada 0xBA"}));
  EXPECT_EQ(control_->key_char_seen, 0x0444);
}

TEST_F(KeysTest, BackspaceOnTheFocusedControlIsOneCall) {
  TForm1& form = Shown();
  Study(1);
  form.AXeTAE1->setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(form.AXeTAE1->hasFocus());
  control_->Take();
  QTest::keyClick(form.windowHandle(), Qt::Key_Backspace);
  EXPECT_EQ(control_->Take(), (Calls{"TeclaPulsada 0x08"}));
  EXPECT_EQ(control_->key_char_seen, 0x08);
  EXPECT_TRUE(control_->messages.empty());  // the window never sends keys
  // Tab stays a key of the lesson; the focus does not move on.
  QTest::keyClick(form.windowHandle(), Qt::Key_Tab);
  EXPECT_EQ(control_->Take(), (Calls{"TeclaPulsada 0x09"}));
  EXPECT_TRUE(form.AXeTAE1->hasFocus());
}

TEST_F(KeysTest, OneCallPerAutoRepeatAndNoneOnRelease) {
  TForm1& form = Shown();
  Study(1);
  control_->Take();
  Press(Qt::Key_B, "b");
  Press(Qt::Key_B, "b", true);
  Press(Qt::Key_B, "b", true);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_B, Qt::NoModifier, "b");
  QApplication::sendEvent(form.windowHandle(), &release);
  EXPECT_EQ(control_->Take(),
            (Calls{"TeclaPulsada 0x42", "TeclaPulsada 0x42", "TeclaPulsada 0x42"}));
}

TEST_F(KeysTest, PressesInOtherWindowsAreNotSeen) {
  TForm1& form = Shown();
  Study(1);
  QLineEdit other;
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
  control_->Take();
  QTest::keyClick(other.windowHandle(), Qt::Key_C);
  QTest::keyClick(other.windowHandle(), Qt::Key_PageDown);
  EXPECT_TRUE(control_->Take().empty());
  EXPECT_EQ(other.text(), "c");
  // After the close the hook is gone.
  form.close();
  control_->Take();
  Press(Qt::Key_D, "d");
  EXPECT_TRUE(control_->Take().empty());
}

TEST_F(KeysTest, TheMouseReachesTheControlWindow) {
  TForm1& form = Shown();
  Study(1);
  QTest::mouseMove(form.AXeTAE1, QPoint(16, 32));
  QTest::mousePress(form.AXeTAE1, Qt::LeftButton, Qt::NoModifier, QPoint(16, 32));
  QTest::mouseRelease(form.AXeTAE1, Qt::LeftButton, Qt::NoModifier, QPoint(17, 33));
  QTest::mousePress(form.AXeTAE1, Qt::RightButton, Qt::NoModifier, QPoint(5, 6));
  QTest::mouseRelease(form.AXeTAE1, Qt::RightButton, Qt::NoModifier, QPoint(5, 6));
  std::vector<std::string> buttons;
  for (const auto& m : control_->messages)
    if (m.rfind("0x200", 0) != 0) buttons.push_back(m);
  EXPECT_EQ(buttons, (std::vector<std::string>{"0x201 1 0x00200010", "0x202 0 0x00210011",
                                               "0x204 2 0x00060005", "0x205 0 0x00060005"}));
  EXPECT_NE(std::find(control_->messages.begin(), control_->messages.end(), "0x200 0 0x00200010"),
            control_->messages.end());
  EXPECT_EQ(platform::com::MouseLParam(-1, 2),
            0x0002FFFF);  // left of the window: the low word wraps
}

}  // namespace
