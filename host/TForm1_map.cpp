// The course map: one level of 24 tiles drawn on one picture, the frame that
// follows the mouse, and what a click on it opens.
#include <QPainter>

#include <algorithm>
#include <cstdio>

#include "host/TForm1.h"
#include "host/qorAnsi.h"
#include "host/qorFormPictures.h"
#include "host/qorProgramFolder.h"
#include "host/qorTexts.h"
#include "host/qorUnitsManager.h"

const std::array<QRgb, 6> LevelColours = {qRgb(255, 204, 0), qRgb(255, 0, 0),   qRgb(153, 204, 0),
                                          qRgb(0, 102, 204), qRgb(0, 204, 204), qRgb(204, 0, 255)};
const std::array<QRgb, 6> LevelLightColours = {qRgb(255, 221, 119), qRgb(255, 204, 221),
                                               qRgb(221, 255, 153), qRgb(204, 221, 255),
                                               qRgb(170, 221, 221), qRgb(255, 153, 255)};

namespace {

constexpr int kColorLineLefts[6] = {0, 130, 259, 389, 519, 648};
constexpr int kTitleWidth = 17;
constexpr int kBarWidth = 120;
constexpr int kBarHeight = 13;

QRgb LevelColour(int level) {
  return LevelColours[static_cast<size_t>(std::clamp(level, 0, 5))];
}
QRgb LightColour(int level) {
  return LevelLightColours[static_cast<size_t>(std::clamp(level, 0, 5))];
}

QFont TitleFont() {
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(11);
  font.setBold(true);
  return font;
}

// Text anchored at its top-left corner, in whichever of black and white
// reads on the band (white on the dark level colours, black on the light
// ones and on yellow).
void TitleAt(QPainter& painter, int x, int y, const QString& text, QColor band) {
  const int baseline = y + painter.fontMetrics().ascent();
  painter.setPen(qorFormPictures::TextColourOn(band));
  painter.drawText(QPoint(x, baseline), text);
}

void SetPanelColour(QWidget* panel, QRgb colour) {
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, QColor::fromRgb(colour));
  panel->setPalette(palette);
  panel->setAutoFillBackground(true);
}

}  // namespace

void TForm1::WrapTitle(const std::string& title, int width, std::string& first,
                       std::string& second) {
  const size_t limit = static_cast<size_t>(std::max(width, 0));
  if (title.size() <= limit) {
    first = title;
    second.clear();
    return;
  }
  size_t split = 0;
  bool space = false;
  for (size_t i = 0; i < title.size(); ++i) {
    if (title[i] == ' ' && split < limit) {
      split = i;
      space = true;
    }
  }
  if (!space) {
    // No space to break at: the first line takes the width, the second the rest.
    first = title.substr(0, limit);
    second = title.substr(limit);
    return;
  }
  first = title.substr(0, split);
  second = title.substr(split + 1);
}

void TForm1::LevelButtonClick(int level) {
  LevelBase = 24 * level;
  DrawCourseMap(level);
  PanelColorLine->move(kColorLineLefts[std::clamp(level, 0, 5)], PanelColorLine->y());
  SetPanelColour(PanelColorLine, LevelColour(level));
  PanelColorLine->repaint();
}

void TForm1::DrawCourseMap(int level) {
  level = std::clamp(level, 0, 5);
  // 1.
  SetPanelColour(PanelDescriptionLevel, LevelColour(level));
  LabelCourseLevel->setText(FromAnsi(MainText(static_cast<unsigned>(level))));
  // The description in whichever of black and white reads on the colour.
  QPalette description = LabelCourseLevel->palette();
  description.setColor(QPalette::WindowText,
                       qorFormPictures::TextColourOn(QColor::fromRgb(LevelColour(level))));
  LabelCourseLevel->setPalette(description);
  ShapeSelector->SetPenColor(QColor::fromRgb(LevelColour(level)));
  ShownLevel = level;
  ImageWork->hide();
  // 2.
  PanelUnitsContainer->resize(PanelUnitsContainer->width(), 1540);
  ImageCanvas->setGeometry(0, 0, PanelUnitsContainer->width(), 1540);
  ImageCanvas->SetPictureSize(PanelUnitsContainer->width(), 1540);
  // 3.
  QPainter painter(&ImageCanvas->Picture());
  painter.fillRect(ImageCanvas->Picture().rect(), QColor(255, 255, 221));
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(Qt::black, 1, Qt::SolidLine));
  painter.setFont(TitleFont());
  // 4.
  for (int slot = 0; slot < 24; ++slot) DrawTile(painter, slot);
  painter.end();
  // 5.
  qorUnitContainerLevel* record = qorUnitsManager::Instance()->Level(static_cast<uint32_t>(level));
  for (int slot = 0; slot < 24; ++slot)
    DrawProgressBars(24 * level + slot + 1, record != nullptr ? record->entries[slot].percent : 0);
  ImageCanvas->update();
}

void TForm1::DrawTile(QPainter& painter, int slot) {
  const int c = slot % 6;
  const int r = slot / 6;
  const int n = 24 * ShownLevel + slot + 1;
  const QRect picture(16 + 125 * c, 4 + 128 * r, 120, 74);
  const QRect band(16 + 125 * c, 80 + 128 * r, 120, 28);
  // 4.1. The unit's picture; a missing one leaves a plain tile in the level's
  // light colour rather than the previous unit's picture.
  char member[32];
  std::snprintf(member, sizeof(member), "3:imgc%03d.bmp", n);
  work_picture_ = QImage();
  LoadPackBitmap(member, work_picture_);
  painter.save();
  if (work_picture_.isNull()) {
    painter.fillRect(picture, QColor::fromRgb(LightColour(ShownLevel)));
  } else {
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(picture, work_picture_);
  }
  painter.restore();
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(picture.adjusted(0, 0, -1, -1));
  // 4.2.
  const bool installed = n >= 1 && n <= kUnits && InstalledUnits[static_cast<size_t>(n)];
  const QColor band_colour =
      QColor::fromRgb(installed ? LevelColour(ShownLevel) : LightColour(ShownLevel));
  painter.fillRect(band, band_colour);
  // 4.3. The title, kept inside its band.
  qorUnitContainerLevel* record =
      qorUnitsManager::Instance()->Level(static_cast<uint32_t>(ShownLevel));
  std::string first;
  std::string second;
  WrapTitle(record != nullptr ? record->titles[slot] : std::string(), kTitleWidth, first, second);
  painter.save();
  painter.setClipRect(band);
  TitleAt(painter, 18 + 125 * c, 80 + 128 * r, FromAnsi(first), band_colour);
  if (!second.empty())
    TitleAt(painter, 32 + 125 * c, 92 + 128 * r, FromAnsi(second), band_colour);
  painter.restore();
  // 4.4. The overlay of a unit that is not installed; black is clear.
  if (!installed) painter.drawImage(picture.topLeft(), overlay_clear_);
  painter.setPen(QPen(Qt::black, 1));
}

void TForm1::DrawUnitTile(int unit) {
  if (unit < 1 || unit > kUnits || (unit - 1) / 24 != ShownLevel) return;
  const qorUnit* entry = qorUnitsManager::Instance()->Entry(static_cast<uint32_t>(unit));
  DrawProgressBars(unit, entry != nullptr ? entry->percent : 0);
  QPainter painter(&ImageCanvas->Picture());
  painter.setFont(TitleFont());
  DrawTile(painter, (unit - 1) % 24);
  painter.end();
  ImageCanvas->update();
}

void TForm1::DrawProgressBars(int unit, int percent) {
  if (unit < 1 || unit > kUnits) return;
  const int s = (unit - 1) % 24;
  const int x = 16 + 125 * (s % 6);
  const int y = 110 + 128 * (s / 6);
  // The fill is clamped to the bar, whatever the percentage read: the
  // percentage first, so that no product leaves the range of an int.
  const int filled = std::clamp(
      static_cast<int>(static_cast<float>(std::clamp(percent, 0, 100)) * 1.2f), 0, kBarWidth);
  QPainter painter(&ImageCanvas->Picture());
  if (filled > 0)
    painter.drawImage(QRect(x, y, filled, kBarHeight), progress_filled_,
                      QRect(0, 0, filled, kBarHeight));
  if (filled < kBarWidth)
    painter.drawImage(QRect(x + filled, y, kBarWidth - filled, kBarHeight), progress_empty_,
                      QRect(filled, 0, kBarWidth - filled, kBarHeight));
  painter.end();
  ImageCanvas->update(QRect(x, y, kBarWidth, kBarHeight));
}

void TForm1::ImageCanvasMouseMove(int x, int y) {
  if (x < 16) return;
  const int column = (x - 16) / 125;
  int row = 0;
  int remainder = 0;
  if (y >= 4) {
    row = y / 128;
    remainder = y % 128;
  }
  if (column > 5 || row > 3 || (x - 16) % 125 > 120 || remainder > 120) return;
  HoverColumn = column;
  HoverRow = row;
  ShapeSelector->setGeometry(125 * column + 16, 128 * row + 4, 120, 120);
}

void TForm1::ShapeSelectorMouseUp() {
  if (Busy() || closed_) return;
  const int n = LevelBase + 6 * HoverRow + HoverColumn + 1;
  if (n >= 1 && n <= kUnits && InstalledUnits[static_cast<size_t>(n)]) {
    SelectedUnit = n;
    Image4Click();
    return;
  }
  if (n < 1 || n > kUnits) return;
  const qorUnit* entry = qorUnitsManager::Instance()->Entry(static_cast<uint32_t>(n));
  if (entry != nullptr && entry->flag == 0)
    OpenShellLink(LinkText(static_cast<unsigned>(ShownLevel + 1)));
}

void TForm1::ImageButtonConoceClick() {
  OpenShellLink(LinkText(static_cast<unsigned>(ShownLevel + 1)));
}

void TForm1::OpenShellLink(const std::string& link) {
  OpenLink(FromAnsi(link), QUrl(), nullptr, ProgramFolder(), services_.open_external);
}
