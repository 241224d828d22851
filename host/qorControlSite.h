// The control's window: a 687 x 534 widget that shows the front image the
// engine presents into (from any thread), its text caret and its cursors, and
// sends the control its mouse messages. Keys never go to the control from
// here: the main window's keyboard filter sends them.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>

#include <memory>
#include <mutex>

#include "platform/ui/ControlSite.h"

class QTimer;
class TAXeTAE;
class qorUiHost;

class qorControlSite : public QWidget, public platform::ui::ControlSiteBase {
  Q_OBJECT

 public:
  static constexpr int kWidth = 687;
  static constexpr int kHeight = 534;

  explicit qorControlSite(QWidget* parent = nullptr);
  ~qorControlSite() override;

  // Where mouse messages go (null: nowhere).
  void SetControl(TAXeTAE* control) { control_ = control; }
  // Told of every present, so that a GUI-thread wait repaints at once.
  void SetUiHost(std::weak_ptr<qorUiHost> host);

  // GUI thread: paints now what was presented since the last paint; false
  // when nothing had changed.
  bool RepaintIfChanged();
  // Paint events handled so far.
  int PaintCount() const { return paints_; }

  // GUI thread: what presents and state changes asked for from any thread
  // (queued by name, so nothing of theirs passes through Qt's queue).
  Q_INVOKABLE void ApplyPresented();
  Q_INVOKABLE void ApplyState();

 protected:
  void RequestRepaint(platform::gfx::Rect window_rect) override;
  void StateChanged() override;

  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  // Tab is a key of the lesson (its exercises), not a move to the next widget.
  bool focusNextPrevChild(bool next) override;

 private:
  QRect TakeDirty();
  void SendMouse(uint32_t message, const QMouseEvent* event);

  TAXeTAE* control_ = nullptr;
  QImage image_;  // what was last painted, opaque
  int paints_ = 0;
  QTimer* blink_ = nullptr;
  bool caret_on_ = true;
  QRect caret_rect_;  // where the caret was last drawn

  std::mutex mutex_;  // guards the fields below, set from any thread
  std::weak_ptr<qorUiHost> host_;
  QRect dirty_;
  bool repaint_posted_ = false;
  bool state_posted_ = false;
  bool dead_ = false;
  bool presented_ = false;  // until the first present the window is plain grey
};
