// Each screen of the window as the learner sees it, saved as a picture.
#include <QTest>

#include "WindowFixture.h"

namespace fs = std::filesystem;

namespace {

class ScreensTest : public WindowTest {};

// True when every pixel has the same colour.
bool OneColour(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  const QRgb first = rgb.pixel(0, 0);
  for (int y = 0; y < rgb.height(); ++y)
    for (int x = 0; x < rgb.width(); ++x)
      if (rgb.pixel(x, y) != first) return false;
  return true;
}

TEST_F(ScreensTest, EveryTabShowsSomething) {
  FolderOptions options;
  options.units_alu = "1:0:4:1:0:12:75\r\n5:0:0:0:0:0:30\r\n";
  TForm1& form = Open(options);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const fs::path shots = fs::path(LECTORIA_BIN_DIR).parent_path() / "window-screens";
  fs::create_directories(shots);
  const char* names[4] = {"start", "map", "study", "help"};
  for (int tab = 0; tab < 4; ++tab) {
    form.ShowTab(tab);
    if (tab == 2) form.ImageButtonFollowUpClick();
    QApplication::processEvents();
    const QImage shot = form.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(780, 653));
    EXPECT_FALSE(OneColour(shot)) << names[tab];
    EXPECT_TRUE(
        shot.save(QString::fromStdString((shots / (std::string(names[tab]) + ".png")).string())));
  }
}

}  // namespace
