// A picture or caption of the form that can be clicked: the clicked signal
// comes when the left button is released over it.
#pragma once

#include <QLabel>

class qorClickLabel : public QLabel {
  Q_OBJECT

 public:
  explicit qorClickLabel(QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};
