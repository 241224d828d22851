#include "host/qorControlSite.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>

#include <cstring>

#include "host/TAXeTAE.h"
#include "host/qorUiHost.h"

namespace {

constexpr int kBlinkMs = 530;

QRect ToQRect(platform::gfx::Rect r) {
  return QRect(r.x, r.y, r.w, r.h);
}

}  // namespace

qorControlSite::qorControlSite(QWidget* parent)
    : QWidget(parent),
      ControlSiteBase(kWidth, kHeight),
      image_(kWidth, kHeight, QImage::Format_RGB32) {
  image_.fill(Qt::black);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::ArrowCursor);
  resize(kWidth, kHeight);
  blink_ = new QTimer(this);
  blink_->setInterval(kBlinkMs);
  connect(blink_, &QTimer::timeout, this, [this] {
    caret_on_ = !caret_on_;
    if (!caret_rect_.isEmpty()) update(caret_rect_);
  });
}

qorControlSite::~qorControlSite() {
  std::lock_guard<std::mutex> lock(mutex_);
  dead_ = true;  // a late present posts nothing
}

void qorControlSite::SetUiHost(std::weak_ptr<qorUiHost> host) {
  std::lock_guard<std::mutex> lock(mutex_);
  host_ = std::move(host);
}

void qorControlSite::RequestRepaint(platform::gfx::Rect window_rect) {
  std::shared_ptr<qorUiHost> host;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dead_) return;
    presented_ = true;
    dirty_ |= ToQRect(window_rect);
    if (!repaint_posted_) {
      repaint_posted_ = true;
      QMetaObject::invokeMethod(this, "ApplyPresented", Qt::QueuedConnection);
    }
    host = host_.lock();
  }
  if (host) host->NotifyPresent();
}

void qorControlSite::StateChanged() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (dead_ || state_posted_) return;
  state_posted_ = true;
  QMetaObject::invokeMethod(this, "ApplyState", Qt::QueuedConnection);
}

QRect qorControlSite::TakeDirty() {
  std::lock_guard<std::mutex> lock(mutex_);
  repaint_posted_ = false;
  QRect dirty = dirty_;
  dirty_ = QRect();
  return dirty;
}

bool qorControlSite::RepaintIfChanged() {
  const QRect dirty = TakeDirty();
  if (dirty.isEmpty()) return false;
  repaint(dirty);
  return true;
}

void qorControlSite::ApplyPresented() {
  const QRect dirty = TakeDirty();
  if (!dirty.isEmpty()) update(dirty);
}

void qorControlSite::ApplyState() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_posted_ = false;
  }
  switch (Cursor()) {
    case platform::ui::kCursorIBeam:
      setCursor(Qt::IBeamCursor);
      break;
    case platform::ui::kCursorHand:
      setCursor(Qt::PointingHandCursor);
      break;
    default:
      setCursor(Qt::ArrowCursor);
      break;
  }
  const platform::ui::CaretState caret = Caret();
  const QRect now = caret.Visible() ? QRect(caret.x, caret.y, caret.width, caret.height) : QRect();
  if (now != caret_rect_) {
    if (!caret_rect_.isEmpty()) update(caret_rect_);
    caret_rect_ = now;
    caret_on_ = true;
    if (!now.isEmpty()) update(now);
  }
  if (caret_rect_.isEmpty()) {
    blink_->stop();
  } else if (!blink_->isActive()) {
    blink_->start();
  }
  if (HasFocus() && !hasFocus()) setFocus(Qt::OtherFocusReason);
}

void qorControlSite::paintEvent(QPaintEvent* event) {
  ++paints_;
  const QRect area = event->rect() & image_.rect();
  bool presented;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    presented = presented_;
  }
  if (!presented) {
    // Nothing drawn yet: the grey the control's own screens use.
    QPainter(this).fillRect(area, QColor(0x66, 0x66, 0x66));
    return;
  }
  WithFront([&](const platform::gfx::Surface& front) {
    const QRect r = area & QRect(0, 0, front.Width(), front.Height());
    for (int y = r.top(); y <= r.bottom(); ++y) {
      const uint32_t* from = front.Row(y) + r.left();
      auto* to = reinterpret_cast<uint32_t*>(image_.scanLine(y)) + r.left();
      for (int x = 0; x < r.width(); ++x) to[x] = from[x] | 0xFF000000u;  // XRGB, made opaque
    }
  });
  QPainter painter(this);
  painter.drawImage(area.topLeft(), image_, area);
  if (caret_on_ && !caret_rect_.isEmpty() && caret_rect_.intersects(area)) {
    // The caret inverts what is under it.
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.fillRect(caret_rect_, Qt::white);
  }
}

void qorControlSite::SendMouse(uint32_t message, const QMouseEvent* event) {
  if (control_ == nullptr) return;
  uintptr_t buttons = 0;
  if (event->buttons() & Qt::LeftButton) buttons |= kMkLButton;
  if (event->buttons() & Qt::RightButton) buttons |= kMkRButton;
  const QPoint p = event->position().toPoint();
  control_->WindowMessage(message, buttons, platform::com::MouseLParam(p.x(), p.y()));
}

void qorControlSite::mouseMoveEvent(QMouseEvent* event) {
  SendMouse(platform::com::WM_MOUSEMOVE, event);
}

void qorControlSite::mousePressEvent(QMouseEvent* event) {
  // The widget keeps the mouse until the button is released, so the
  // control sees the release even outside its window.
  if (event->button() == Qt::LeftButton) SendMouse(platform::com::WM_LBUTTONDOWN, event);
  if (event->button() == Qt::RightButton) SendMouse(platform::com::WM_RBUTTONDOWN, event);
}

void qorControlSite::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) SendMouse(platform::com::WM_LBUTTONUP, event);
  if (event->button() == Qt::RightButton) SendMouse(platform::com::WM_RBUTTONUP, event);
}

void qorControlSite::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  // A click or the window's activation gave the window the focus: the
  // control sees it as its own.
  if (!HasFocus()) SetFocus();
}

void qorControlSite::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  ClearFocus();
}

bool qorControlSite::focusNextPrevChild(bool next) {
  (void)next;
  return false;
}
