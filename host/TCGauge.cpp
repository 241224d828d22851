#include "host/TCGauge.h"

#include <QPainter>

#include <algorithm>

TCGauge::TCGauge(QWidget* parent) : QWidget(parent) {}

void TCGauge::SetProgress(int progress) {
  progress = std::clamp(progress, 0, 100);
  if (progress == progress_) return;
  progress_ = progress;
  update();
}

void TCGauge::SetForeColor(QColor colour) {
  fore_ = colour;
  update();
}

void TCGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  painter.fillRect(rect(), QColor(255, 255, 255));
  const int inner = std::max(0, width() - 2);
  const int filled = inner * progress_ / 100;
  if (filled > 0) painter.fillRect(QRect(1, 1, filled, std::max(0, height() - 2)), fore_);
  painter.setPen(QColor(128, 128, 128));
  painter.drawRect(frame);
}
