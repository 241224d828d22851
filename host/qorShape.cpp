#include "host/qorShape.h"

#include <QMouseEvent>
#include <QPainter>

qorShape::qorShape(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::PointingHandCursor);
}

void qorShape::SetPenColor(QColor colour) {
  pen_ = colour;
  update();
}

void qorShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setBrush(Qt::NoBrush);
  QPen pen(pen_, kPenWidth);
  pen.setJoinStyle(Qt::MiterJoin);
  painter.setPen(pen);
  // The pen lies inside the frame's rectangle.
  const int inset = kPenWidth / 2;
  painter.drawRect(rect().adjusted(inset, inset, -inset - 1, -inset - 1));
}

void qorShape::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  // Any button's release counts, the right one as much as the left.
  emit MouseUp();
}
