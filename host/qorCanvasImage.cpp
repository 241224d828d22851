#include "host/qorCanvasImage.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

qorCanvasImage::qorCanvasImage(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void qorCanvasImage::SetPictureSize(int w, int h) {
  if (picture_.width() == w && picture_.height() == h) return;
  picture_ = QImage(w, h, QImage::Format_RGB32);
  picture_.fill(Qt::white);
}

void qorCanvasImage::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), Qt::white);
  if (!picture_.isNull()) painter.drawImage(event->rect().topLeft(), picture_, event->rect());
}

void qorCanvasImage::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  emit MouseMoved(p.x(), p.y());
  QWidget::mouseMoveEvent(event);
}
