// A progress gauge of 0..100 drawn as a bar in its fore colour.
#pragma once

#include <QColor>
#include <QWidget>

class TCGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TCGauge(QWidget* parent = nullptr);

  // Clamped to 0..100.
  void SetProgress(int progress);
  int Progress() const { return progress_; }
  void SetForeColor(QColor colour);
  QColor ForeColor() const { return fore_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int progress_ = 0;
  QColor fore_ = QColor(0, 0, 0);
};
