// The course map read back from its picture: background, tiles, bands,
// overlays, progress bars, the frame that follows the mouse, clicks and the
// wrapping of titles.
#include <QApplication>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>

#include "WindowFixture.h"
#include "host/qorFormPictures.h"
#include "host/qorUnitsManager.h"

using Calls = std::vector<std::string>;

namespace {

class MapTest : public WindowTest {
 protected:
  QRgb At(int x, int y) { return form_->ImageCanvas->Picture().pixel(x, y) & 0xFFFFFFu; }
  // Where slot s's pieces are.
  static QPoint Picture(int s) { return QPoint(16 + 125 * (s % 6), 4 + 128 * (s / 6)); }
  static QPoint Bar(int s) { return QPoint(16 + 125 * (s % 6), 110 + 128 * (s / 6)); }
};

TEST_F(MapTest, TilesBandsAndOverlays) {
  FolderOptions options;
  options.installed = {1};
  options.missing_tiles = {3};
  TForm1& form = Open(options);
  EXPECT_EQ(form.ImageCanvas->height(), 1540);
  EXPECT_EQ(form.ImageCanvas->width(), form.PanelUnitsContainer->width());
  EXPECT_EQ(At(5, 5), qRgb(255, 255, 221) & 0xFFFFFFu);
  // Unit 1 is installed: its picture, a black outline, the level's colour.
  const QPoint one = Picture(0);
  EXPECT_EQ(At(one.x() + 60, one.y() + 37), TileColour(1).rgb() & 0xFFFFFFu);
  EXPECT_EQ(At(one.x(), one.y()), 0u);
  EXPECT_EQ(At(one.x() + 119, one.y() + 73), 0u);
  EXPECT_EQ(At(one.x() + 119, 80 + 27), LevelColours[0] & 0xFFFFFFu);
  // Unit 2 is not: the light colour, and the overlay over its picture
  // (clear where it is black).
  const QPoint two = Picture(1);
  EXPECT_EQ(At(two.x() + 119, 80 + 27), LevelLightColours[0] & 0xFFFFFFu);
  EXPECT_NE(At(two.x() + 60, two.y() + 37), TileColour(2).rgb() & 0xFFFFFFu);
  EXPECT_EQ(At(two.x() + 5, two.y() + 20), TileColour(2).rgb() & 0xFFFFFFu);
  // Unit 3 has no picture: a plain tile, never unit 2's picture again.
  const QPoint three = Picture(2);
  EXPECT_EQ(At(three.x() + 5, three.y() + 20), LevelLightColours[0] & 0xFFFFFFu);
  EXPECT_EQ(At(three.x(), three.y() + 37), 0u);
  // A title is drawn in black on the yellow band, never in white.
  bool black = false;
  bool white = false;
  for (int x = one.x(); x < one.x() + 60; ++x) {
    for (int y = 80; y < 92; ++y) {
      black = black || At(x, y) == 0u;
      white = white || At(x, y) == 0xFFFFFFu;
    }
  }
  EXPECT_TRUE(black);
  EXPECT_FALSE(white);
}

// Each level's titles read on their bands, installed or not: the ink's
// contrast with the band is at least 4.5 to 1.
TEST_F(MapTest, TitlesReadOnEveryBand) {
  FolderOptions options;
  options.installed.clear();
  for (int level = 0; level < 6; ++level) options.installed.insert(24 * level + 1);
  TForm1& form = Open(options);
  for (int level = 0; level < 6; ++level) {
    form.DrawCourseMap(level);
    for (int slot : {0, 1}) {  // installed, not installed
      const QPoint picture = Picture(slot);
      const QColor band = QColor::fromRgb(At(picture.x() + 119, 80 + 27));
      EXPECT_EQ(band.rgb() & 0xFFFFFFu,
                (slot == 0 ? LevelColours[level] : LevelLightColours[level]) & 0xFFFFFFu);
      // The pixel of the title farthest from the band's colour is its ink.
      double best = 1.0;
      for (int x = picture.x() + 2; x < picture.x() + 60; ++x)
        for (int y = 81; y < 104; ++y)
          best = std::max(best, qorFormPictures::ContrastRatio(QColor::fromRgb(At(x, y)), band));
      EXPECT_GE(best, 4.5) << "level " << level << " slot " << slot;
    }
  }
}

TEST_F(MapTest, BarsFillWithThePercentAndStayInside) {
  FolderOptions options;
  options.units_alu =
      "1:0:0:0:0:0:0\r\n2:0:0:0:0:0:50\r\n3:0:0:0:0:0:99\r\n4:0:0:0:0:0:100\r\n"
      "5:0:0:0:0:0:-5\r\n6:0:0:0:0:0:300\r\n7:0:0:0:0:0:101\r\n"
      "8:0:0:0:0:0:2147483647\r\n9:0:0:0:0:0:-2147483648\r\n";  // the ends of an int
  TForm1& form = Open(options);
  const int fills[9] = {0, 60, 118, 120, 0, 120, 120, 120, 0};
  for (int s = 0; s < 9; ++s) {
    const QPoint bar = Bar(s);
    const int filled = fills[s];
    for (int row : {1, 6, 11}) {
      if (filled > 0) {
        EXPECT_EQ(At(bar.x() + filled - 1, bar.y() + row),
                  form.ProgressFilledPicture().pixel(filled - 1, row) & 0xFFFFFFu)
            << "slot " << s;
      }
      if (filled < 120) {
        EXPECT_EQ(At(bar.x() + filled, bar.y() + row),
                  form.ProgressEmptyPicture().pixel(filled, row) & 0xFFFFFFu)
            << "slot " << s;
      }
    }
    // Nothing past the bar's end or below it.
    EXPECT_EQ(At(bar.x() + 120, bar.y() + 6), qRgb(255, 255, 221) & 0xFFFFFFu) << "slot " << s;
    EXPECT_EQ(At(bar.x() + 60, bar.y() + 13), qRgb(255, 255, 221) & 0xFFFFFFu) << "slot " << s;
  }
}

TEST_F(MapTest, TheFrameFollowsTheTileUnderTheMouse) {
  TForm1& form = Open();
  auto frame = [&] { return form.ShapeSelector->geometry(); };
  EXPECT_EQ(frame(), QRect(16, 4, 120, 120));
  form.ImageCanvasMouseMove(200, 200);
  EXPECT_EQ(frame(), QRect(141, 132, 120, 120));
  form.ImageCanvasMouseMove(15, 10);  // left of the first column
  EXPECT_EQ(frame(), QRect(141, 132, 120, 120));
  form.ImageCanvasMouseMove(16, 4);
  EXPECT_EQ(frame(), QRect(16, 4, 120, 120));
  form.ImageCanvasMouseMove(200, 200);
  form.ImageCanvasMouseMove(137, 10);  // remainder 121: between tiles
  EXPECT_EQ(frame(), QRect(141, 132, 120, 120));
  form.ImageCanvasMouseMove(136, 10);  // remainder 120: the tile's last column
  EXPECT_EQ(frame(), QRect(16, 4, 120, 120));
  form.ImageCanvasMouseMove(766, 10);  // column 6
  EXPECT_EQ(frame(), QRect(16, 4, 120, 120));
  form.ImageCanvasMouseMove(200, 121);  // vertical remainder 121
  EXPECT_EQ(frame(), QRect(16, 4, 120, 120));
  form.ImageCanvasMouseMove(200, 120);
  EXPECT_EQ(frame(), QRect(141, 4, 120, 120));
  form.ImageCanvasMouseMove(16, 128);
  EXPECT_EQ(frame(), QRect(16, 132, 120, 120));
  form.ImageCanvasMouseMove(16, 3);  // above the first row
  EXPECT_EQ(frame(), QRect(16, 4, 120, 120));
  form.ImageCanvasMouseMove(16, 4 * 128 + 10);  // row 4
  EXPECT_EQ(frame(), QRect(16, 4, 120, 120));
  EXPECT_EQ(form.HoverColumn, 0);
  EXPECT_EQ(form.HoverRow, 0);
}

TEST_F(MapTest, AClickOnTheFrameOpensTheUnitUnderIt) {
  TForm1& form = Open();
  form.show();
  form.ShowTab(1);
  form.Image22Click();  // level 2
  EXPECT_EQ(form.LevelBase, 48);
  EXPECT_EQ(form.ShownLevel, 2);
  EXPECT_EQ(form.PanelColorLine->x(), 259);
  EXPECT_EQ(form.PanelColorLine->palette().color(QPalette::Window).rgb(), LevelColours[2]);
  EXPECT_EQ(form.ShapeSelector->PenColor().rgb(), LevelColours[2]);
  EXPECT_EQ(form.LabelCourseLevel->text(), "Texto 2");
  form.ImageCanvasMouseMove(16 + 125 * 5 + 10, 10);  // slot 5
  control_->Take();
  QTest::mouseClick(form.ShapeSelector, Qt::LeftButton);
  const Calls calls = control_->Take();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "CargarUnit 54"), calls.end());
  EXPECT_EQ(form.SelectedUnit, 54);
  EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet2);
  EXPECT_TRUE(opened_.empty());
}

// The release of any button on the frame opens the unit, the right one too.
TEST_F(MapTest, ARightButtonReleaseOnTheFrameOpensTheUnit) {
  TForm1& form = Open();
  form.show();
  form.ShowTab(1);
  form.ImageCanvasMouseMove(16 + 125 * 4 + 10, 10);  // slot 4: unit 5
  control_->Take();
  QTest::mouseClick(form.ShapeSelector, Qt::RightButton);
  const Calls calls = control_->Take();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "CargarUnit 5"), calls.end());
  EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet2);
  form.ShowTab(1);
  form.ImageCanvasMouseMove(16 + 125 * 2 + 10, 130);  // slot 8: unit 9, not installed
  QTest::mouseClick(form.ShapeSelector, Qt::MiddleButton);
  EXPECT_EQ(opened_.size(), 1u);
}

// All four rows fit: neither the wheel nor the keys move the map, and the
// first row stays where it was drawn.
TEST_F(MapTest, TheMapDoesNotScroll) {
  TForm1& form = Open();
  form.show();
  form.ShowTab(1);
  QApplication::processEvents();
  const QPoint tile = Picture(0) + QPoint(60, 37);  // inside unit 1's picture
  const QPoint origin = form.ImageCanvas->mapTo(form.ScrollBox1, QPoint(0, 0));
  EXPECT_EQ(origin, QPoint(0, 0));
  const QRgb first = form.ScrollBox1->grab().toImage().pixel(tile) & 0xFFFFFFu;
  EXPECT_EQ(first, TileColour(1).rgb() & 0xFFFFFFu);
  for (int step = 0; step < 20; ++step) {
    const QPointF at(tile);
    QWheelEvent wheel(at, form.ImageCanvas->mapToGlobal(at), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(form.ImageCanvas, &wheel);
  }
  // Once clicked, the keys that scroll a view.
  QTest::mouseClick(form.ImageCanvas, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  for (Qt::Key key : {Qt::Key_PageDown, Qt::Key_Space, Qt::Key_Down, Qt::Key_End}) {
    QWidget* focus = QApplication::focusWidget() != nullptr ? QApplication::focusWidget()
                                                              : form.ScrollBox1;
    QTest::keyClick(focus, key);
    QTest::keyClick(form.ScrollBox1, key);
  }
  QApplication::processEvents();
  EXPECT_EQ(form.ImageCanvas->mapTo(form.ScrollBox1, QPoint(0, 0)), origin);
  EXPECT_EQ(form.ScrollBox1->grab().toImage().pixel(tile) & 0xFFFFFFu, first);
  // The last row is inside the box.
  EXPECT_LE(4 + 128 * 3 + 120, form.ScrollBox1->height());
}

TEST_F(MapTest, AUnitNotInstalledOpensItsLevelsLink) {
  FolderOptions options;
  options.units_alu = "3:1:0:0:0:0:0\r\n";  // unit 3's flag is set
  options.links = "l0\r\nl1\r\nhttps://example.test/level0\r\nhttp://example.test/level1\r\n";
  TForm1& form = Open(options);
  form.Image21Click();                          // level 1: LinkText(2)
  form.ImageCanvasMouseMove(16 + 125 * 1, 10);  // unit 26, not installed
  form.ShapeSelectorMouseUp();
  form.Image20Click();
  form.ImageCanvasMouseMove(16 + 125 * 2, 10);  // unit 3: flag 1, nothing
  form.ShapeSelectorMouseUp();
  form.ImageButtonConoceClick();  // level 0: LinkText(1)
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0].toString(), "https://example.test/level0");
  EXPECT_TRUE(control_->Take() == Calls{"CreateWindow"});
}

TEST_F(MapTest, OnlyWebAndMailLinksLeaveTheProgram) {
  FolderOptions options;
  options.links = "file:///bin/sh\r\n";  // one line serves every level
  TForm1& form = Open(options);
  form.ImageCanvasMouseMove(16 + 125, 10);  // unit 2, not installed
  form.ShapeSelectorMouseUp();
  form.ImageButtonConoceClick();
  form.Image2Click();
  EXPECT_TRUE(opened_.empty());
}

TEST_F(MapTest, AClickPastTheLastUnitDoesNothing) {
  TForm1& form = Open();
  form.show();
  form.Image25Click();
  form.ImageCanvasMouseMove(16 + 125 * 5, 4 + 128 * 3);  // unit 144: installed
  control_->Take();
  form.ShapeSelectorMouseUp();
  EXPECT_EQ(form.SelectedUnit, 144);
  form.ShowTab(1);
  form.LevelBase = 121;  // the same slot is now unit 145
  control_->Take();
  form.ShapeSelectorMouseUp();
  EXPECT_TRUE(control_->Take().empty());
  EXPECT_TRUE(opened_.empty());
  EXPECT_EQ(form.SelectedUnit, 144);
}

TEST_F(MapTest, ShowingTheMapRedrawsTheCurrentUnitsTile) {
  TForm1& form = Open();
  form.show();
  Study(5);
  control_->audit[0] = {100, 0, 0};
  form.Timer1Timer();  // unit 5 now stands at 12 %
  const QPoint bar = Bar(4);
  EXPECT_EQ(At(bar.x() + 5, bar.y() + 6), form.ProgressEmptyPicture().pixel(5, 6) & 0xFFFFFFu);
  form.ShowTab(1);
  EXPECT_EQ(At(bar.x() + 5, bar.y() + 6), form.ProgressFilledPicture().pixel(5, 6) & 0xFFFFFFu);
  EXPECT_EQ(At(bar.x() + 14, bar.y() + 6), form.ProgressEmptyPicture().pixel(14, 6) & 0xFFFFFFu);
}

TEST(WrapTitleTest, SplitsAtTheFirstSpaceFromTheWidthOn) {
  std::string first;
  std::string second;
  TForm1::WrapTitle("seventeen letters", 17, first, second);  // 17: one line
  EXPECT_EQ(first, "seventeen letters");
  EXPECT_EQ(second, "");
  TForm1::WrapTitle("abcd efg hi jkl mnopqr", 17, first, second);  // spaces 4, 8, 11, 15
  EXPECT_EQ(first, "abcd efg hi jkl");
  EXPECT_EQ(second, "mnopqr");
  TForm1::WrapTitle("abcdefghij klmnopqrst uvwx", 17, first, second);  // spaces 10, 21
  EXPECT_EQ(first, "abcdefghij klmnopqrst");
  EXPECT_EQ(second, "uvwx");
  TForm1::WrapTitle("abcdefghijklmnopq rst", 17, first, second);  // space at 17
  EXPECT_EQ(first, "abcdefghijklmnopq");
  EXPECT_EQ(second, "rst");
  // 18 characters without a space: cut after 17.
  TForm1::WrapTitle("abcdefghijklmnopqr", 17, first, second);
  EXPECT_EQ(first, "abcdefghijklmnopq");
  EXPECT_EQ(second, "r");
}

}  // namespace
