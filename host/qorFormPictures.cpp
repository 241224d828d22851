#include "host/qorFormPictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace qorFormPictures {
namespace {

const QColor kNavy(23, 55, 94);
const QColor kBlue(46, 109, 164);
const QColor kInk(31, 53, 80);

QFont Font(int pixels, bool bold) {
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QPixmap Blank(int w, int h) {
  QPixmap pixmap(w, h);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// One sRGB channel, made linear.
double Channel(int value) {
  const double c = value / 255.0;
  return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// The relative luminance of a colour.
double Luminance(QColor colour) {
  return 0.2126 * Channel(colour.red()) + 0.7152 * Channel(colour.green()) +
         0.0722 * Channel(colour.blue());
}

// The white card, rounded and faintly outlined, that footers and tips lie on.
void Card(QPainter& p, int w, int h) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(255, 255, 255, 235));
  p.setPen(QColor(0, 0, 0, 60));
  p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 6, 6);
}

QLinearGradient Vertical(int h, QColor top, QColor bottom) {
  QLinearGradient gradient(0, 0, 0, h);
  gradient.setColorAt(0, top);
  gradient.setColorAt(1, bottom);
  return gradient;
}

QPainterPath TopRounded(QRectF r, qreal radius) {
  QPainterPath path;
  path.moveTo(r.bottomLeft());
  path.lineTo(r.left(), r.top() + radius);
  path.quadTo(r.topLeft(), QPointF(r.left() + radius, r.top()));
  path.lineTo(r.right() - radius, r.top());
  path.quadTo(r.topRight(), QPointF(r.right(), r.top() + radius));
  path.lineTo(r.bottomRight());
  path.closeSubpath();
  return path;
}

}  // namespace

QPixmap TopBar(int w, int h) {
  QPixmap pixmap(w, h);
  QPainter p(&pixmap);
  const QLinearGradient g = Vertical(h, kNavy, kBlue);
  p.fillRect(0, 0, w, h, g);
  p.setPen(QColor(255, 255, 255, 60));
  p.drawLine(0, 0, w, 0);
  return pixmap;
}

QPixmap Logo(int w, int h) {
  QPixmap pixmap = Blank(w, h);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const int d = h - 12;
  p.setBrush(QColor(240, 163, 10));
  p.setPen(Qt::NoPen);
  p.drawEllipse(QRect(2, 6, d, d));
  p.setPen(Qt::white);
  p.setFont(Font(d - 8, true));
  p.drawText(QRect(2, 6, d, d), Qt::AlignCenter, QStringLiteral("v"));
  p.setFont(Font(24, true));
  p.drawText(QRect(d + 10, 2, w - d - 10, 30), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("velarno"));
  p.setPen(QColor(190, 215, 240));
  p.setFont(Font(11, false));
  p.drawText(QRect(d + 11, 30, w - d - 11, 16), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Language Course"));
  return pixmap;
}

QPixmap TabButton(int w, int h) {
  QPixmap pixmap = Blank(w, h);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QLinearGradient g = Vertical(h, QColor(220, 230, 242), QColor(184, 204, 228));
  p.setBrush(g);
  p.setPen(QColor(142, 170, 204));
  p.drawPath(TopRounded(QRectF(0.5, 0.5, w - 1, h), 6));
  return pixmap;
}

QPixmap TabIndicator(int w, int h) {
  QPixmap pixmap = Blank(w, h);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(Qt::white);
  p.setPen(QColor(142, 170, 204));
  const QPainterPath shape = TopRounded(QRectF(0.5, 0.5, w - 1, h), 6);
  p.drawPath(shape);
  p.setClipPath(shape);
  p.fillRect(QRect(0, 0, w, 3), QColor(240, 163, 10));
  return pixmap;
}

QPixmap LevelButton(int w, int h, QColor colour, const QString& name) {
  QPixmap pixmap(w, h);
  QPainter p(&pixmap);
  const QLinearGradient g = Vertical(h, colour.lighter(115), colour);
  p.fillRect(0, 0, w, h, g);
  p.setPen(colour.darker(125));
  p.drawRect(0, 0, w - 1, h - 1);
  p.setPen(TextColourOn(colour));
  p.setFont(Font(12, true));
  p.drawText(QRect(0, 0, w, h - 2), Qt::AlignCenter, name);
  return pixmap;
}

QPixmap LevelBadge(int w, int h, QColor colour, const QString& name) {
  QPixmap pixmap = Blank(w, h);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(colour);
  p.setPen(colour.darker(130));
  p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), h / 2.0, h / 2.0);
  p.setPen(TextColourOn(colour));
  p.setFont(Font(11, true));
  p.drawText(QRect(0, 0, w, h), Qt::AlignCenter, name);
  return pixmap;
}

QPixmap MenuBar(int w, int h, QColor colour, int sections, int section_height) {
  QPixmap pixmap(w, h);
  QPainter p(&pixmap);
  QLinearGradient g(0, 0, w, 0);
  g.setColorAt(0, colour.lighter(135));
  g.setColorAt(1, QColor(250, 250, 250));
  p.fillRect(0, 0, w, h, g);
  p.setPen(colour.darker(110));
  for (int i = 1; i < sections; ++i) p.drawLine(6, i * section_height, w - 7, i * section_height);
  p.drawLine(w - 1, 0, w - 1, h);
  return pixmap;
}

QPixmap SectionButton(int w, int h, int number, const QString& name) {
  QPixmap pixmap = Blank(w, h);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const int d = 22;
  const QRect circle((w - d) / 2, 8, d, d);
  p.setBrush(kBlue);
  p.setPen(Qt::NoPen);
  p.drawEllipse(circle);
  p.setPen(Qt::white);
  p.setFont(Font(12, true));
  p.drawText(circle, Qt::AlignCenter, QString::number(number));
  p.setPen(kInk);
  p.setFont(Font(11, true));
  p.drawText(QRect(0, 32, w, 16), Qt::AlignCenter, name);
  return pixmap;
}

QPixmap PageButton(int w, int h, bool next) {
  QPixmap pixmap = Blank(w, h);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(kBlue);
  p.setPen(kNavy);
  p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 4, 4);
  QPolygonF arrow;
  const qreal cx = w / 2.0, cy = h / 2.0, s = h / 4.0;
  if (next) {
    arrow << QPointF(cx - s * 0.7, cy - s) << QPointF(cx + s * 0.9, cy)
          << QPointF(cx - s * 0.7, cy + s);
  } else {
    arrow << QPointF(cx + s * 0.7, cy - s) << QPointF(cx - s * 0.9, cy)
          << QPointF(cx + s * 0.7, cy + s);
  }
  p.setBrush(Qt::white);
  p.setPen(Qt::NoPen);
  p.drawPolygon(arrow);
  return pixmap;
}

QPixmap CloseButton(int w, int h) {
  QPixmap pixmap = Blank(w, h);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(192, 57, 43));
  p.setPen(QColor(140, 40, 30));
  p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 4, 4);
  p.setPen(QPen(Qt::white, 2));
  const qreal m = h / 3.0;
  p.drawLine(QPointF(w / 2.0 - m / 1.3, m), QPointF(w / 2.0 + m / 1.3, h - m));
  p.drawLine(QPointF(w / 2.0 + m / 1.3, m), QPointF(w / 2.0 - m / 1.3, h - m));
  return pixmap;
}

QPixmap FollowUpButton(int w, int h) {
  QPixmap pixmap = Blank(w, h);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(kBlue);
  p.setPen(kNavy);
  p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 4, 4);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  const int bar = std::max(2, w / 6);
  const int base = h - 5;
  const int heights[3] = {h / 4, h / 2, h * 2 / 3 - 2};
  for (int i = 0; i < 3; ++i) p.drawRect(5 + i * (bar + 2), base - heights[i], bar, heights[i]);
  return pixmap;
}

QPixmap PanelTitle(int w, int h, const QString& title) {
  QPixmap pixmap(w, h);
  QPainter p(&pixmap);
  const QLinearGradient g = Vertical(h, kBlue, kNavy);
  p.fillRect(0, 0, w, h, g);
  p.setPen(Qt::white);
  p.setFont(Font(12, true));
  p.drawText(QRect(8, 0, w - 16, h), Qt::AlignLeft | Qt::AlignVCenter, title);
  return pixmap;
}

QPixmap Footer(int w, int h, const QString& title, const QString& text) {
  QPixmap pixmap = Blank(w, h);
  QPainter p(&pixmap);
  Card(p, w, h);
  p.setFont(Font(12, true));
  const int title_width = p.fontMetrics().horizontalAdvance(title) + 20;
  p.setPen(kNavy);
  p.drawText(QRect(10, 0, title_width, h), Qt::AlignLeft | Qt::AlignVCenter, title);
  p.setFont(Font(12, false));
  p.setPen(kInk);
  p.drawText(QRect(10 + title_width, 0, w - title_width - 20, h), Qt::AlignLeft | Qt::AlignVCenter,
             text);
  return pixmap;
}

QPixmap KeysTip(int w, int h, const QString& first, const QString& second) {
  QPixmap pixmap = Blank(w, h);
  QPainter p(&pixmap);
  Card(p, w, h);
  p.setPen(kNavy);
  p.setFont(Font(11, true));
  p.drawText(QRect(0, 0, w, h / 2), Qt::AlignHCenter | Qt::AlignBottom, first);
  p.drawText(QRect(0, h / 2, w, h - h / 2), Qt::AlignHCenter | Qt::AlignTop, second);
  return pixmap;
}

QPixmap RoundButton(int w, int h) {
  QPixmap pixmap = Blank(w, h);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QLinearGradient g = Vertical(h, kBlue, kNavy);
  p.setBrush(g);
  p.setPen(kNavy);
  p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), h / 2.0, h / 2.0);
  return pixmap;
}

QImage NotInstalledOverlay(int w, int h, const QString& text) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter p(&image);
  p.setFont(Font(11, true));
  const int tw = p.fontMetrics().horizontalAdvance(text) + 14;
  const QRect label((w - tw) / 2, (h - 18) / 2, tw, 18);
  p.fillRect(label, QColor(250, 250, 250));
  p.setPen(QColor(90, 90, 90));
  p.drawRect(label.adjusted(0, 0, -1, -1));
  p.setPen(QColor(150, 30, 30));
  p.drawText(label, Qt::AlignCenter, text);
  // Stripes along the top and bottom edges; black stays clear.
  for (int x = -h; x < w; x += 10) {
    p.setPen(QPen(QColor(230, 230, 230), 3));
    p.drawLine(x, 6, x + 6, 0);
    p.drawLine(x, h, x + 6, h - 6);
  }
  return image;
}

QImage ProgressFilled(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  QPainter p(&image);
  const QLinearGradient g = Vertical(h, QColor(120, 200, 110), QColor(46, 139, 61));
  p.fillRect(0, 0, w, h, g);
  p.setPen(QColor(30, 100, 40));
  p.drawLine(0, 0, w, 0);
  p.drawLine(0, h - 1, w, h - 1);
  return image;
}

QImage ProgressEmpty(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  QPainter p(&image);
  p.fillRect(0, 0, w, h, QColor(232, 232, 232));
  p.setPen(QColor(170, 170, 170));
  p.drawLine(0, 0, w, 0);
  p.drawLine(0, h - 1, w, h - 1);
  return image;
}

QColor TextColourOn(QColor background) {
  const QColor black(Qt::black);
  const QColor white(Qt::white);
  return ContrastRatio(black, background) >= ContrastRatio(white, background) ? black : white;
}

double ContrastRatio(QColor a, QColor b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QImage FitInside(const QImage& picture, QSize place) {
  if (picture.isNull() || place.isEmpty()) return picture;
  if (picture.width() <= place.width() && picture.height() <= place.height()) return picture;
  return picture.scaled(place, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace qorFormPictures
