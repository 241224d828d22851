// The picture the course map is drawn on: one image, shown as it is, that
// reports the mouse moving over it in image coordinates.
#pragma once

#include <QImage>
#include <QWidget>

class qorCanvasImage : public QWidget {
  Q_OBJECT

 public:
  explicit qorCanvasImage(QWidget* parent = nullptr);

  QImage& Picture() { return picture_; }
  const QImage& Picture() const { return picture_; }
  // Makes the picture w x h (its content is then undefined).
  void SetPictureSize(int w, int h);

 signals:
  void MouseMoved(int x, int y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QImage picture_;
};
