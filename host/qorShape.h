// The frame that follows the mouse over the course map: a rectangle outline
// with a clear inside. A click is reported when any button is released over
// it.
#pragma once

#include <QColor>
#include <QWidget>

class qorShape : public QWidget {
  Q_OBJECT

 public:
  explicit qorShape(QWidget* parent = nullptr);

  void SetPenColor(QColor colour);
  QColor PenColor() const { return pen_; }
  int PenWidth() const { return kPenWidth; }

 signals:
  void MouseUp();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  static constexpr int kPenWidth = 3;
  QColor pen_ = QColor(255, 0, 0);
};
