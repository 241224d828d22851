// The top bar's tabs, when the study tab loads a unit, the unit header, the
// level's menu picture, file URLs, links in the page views and their bodies.
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

#include "WindowFixture.h"
#include "host/TCppWebBrowser.h"
#include "host/qorFormPictures.h"
#include "host/qorKeyboardFilter.h"
#include "host/qorLinks.h"

namespace fs = std::filesystem;
using Calls = std::vector<std::string>;

namespace {

class TabsTest : public WindowTest {
 protected:
  int Loads() {
    const Calls calls = control_->Take();
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [](const std::string& c) {
      return c.rfind("CargarUnit", 0) == 0;
    }));
  }
  QRgb MenuPixel() { return form_->ImageMenuBar->pixmap().toImage().pixel(45, 200) & 0xFFFFFFu; }
};

TEST_F(TabsTest, EachTabPlacesTheIndicatorAndShowsItsPage) {
  TForm1& form = Open();
  form.show();
  const int lefts[4] = {256, 362, 467, 677};
  QWidget* const pages[4] = {form.TabSheet3, form.TabSheet6, form.TabSheet2, form.TabSheet4};
  for (int tab : {1, 2, 3, 0}) {
    form.ShowTab(tab);
    EXPECT_EQ(form.ImageLabelOn->pos(), QPoint(lefts[tab], 23)) << tab;
    EXPECT_EQ(form.PageControl1->currentWidget(), pages[tab]) << tab;
    EXPECT_EQ(form.StudyTabActive, tab == 2) << tab;
  }
  EXPECT_EQ(form.PageControl1->indexOf(form.TabSheet2), form.StudyPageIndex);
  QTest::mouseClick(form.LabelHelp, Qt::LeftButton);
  EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet4);
  QTest::mouseClick(form.Image31, Qt::LeftButton);
  EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet6);
}

TEST_F(TabsTest, TheSameUnitIsLoadedOnce) {
  TForm1& form = Open();
  form.show();
  form.ShowTab(2);
  form.ShowTab(2);
  EXPECT_EQ(Loads(), 1);
  form.ShowTab(0);
  form.ShowTab(2);
  EXPECT_EQ(Loads(), 0);
  EXPECT_FALSE(form.FirstLoad);
}

TEST_F(TabsTest, AUnitNotInstalledIsNeverLoaded) {
  FolderOptions options;
  options.installed = {5};  // not unit 1, the one before any choice
  TForm1& form = Open(options);
  form.show();
  control_->Take();
  form.ShowTab(2);
  EXPECT_TRUE(control_->Take().empty());
  EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet2);
  EXPECT_TRUE(form.FirstLoad);
  EXPECT_TRUE(boxes_.empty());
  // Nor does a key reach the control that was never handed a unit.
  EXPECT_TRUE(form.StudyTabActive);
  form.KeyboardHookProc(VirtualKey{0x41, 0x61});
  EXPECT_TRUE(control_->Take().empty());
}

TEST_F(TabsTest, TheMenuPictureFollowsTheLevel) {
  FolderOptions options;
  options.level_pictures = {0, 1};
  TForm1& form = Open(options);
  form.show();
  const QRgb level1 = LevelPictureColour(1).rgb() & 0xFFFFFFu;
  const QRgb level0 = LevelPictureColour(0).rgb() & 0xFFFFFFu;
  Study(5);  // level 0 first: the level did not change, no picture
  EXPECT_NE(MenuPixel(), level0);
  Study(30);
  EXPECT_EQ(form.CurrentLevel, 1);
  EXPECT_EQ(MenuPixel(), level1);
  QPixmap marker(91, 534);
  marker.fill(Qt::magenta);
  form.ImageMenuBar->setPixmap(marker);
  Study(40);  // level 1 again
  EXPECT_EQ(MenuPixel(), QColor(Qt::magenta).rgb() & 0xFFFFFFu);
  Study(54);  // level 2: no member, the picture stays
  EXPECT_EQ(form.CurrentLevel, 2);
  EXPECT_EQ(MenuPixel(), QColor(Qt::magenta).rgb() & 0xFFFFFFu);
}

// A menu picture of any size is used, fitted into the menu's place: a
// larger one is scaled down whole, a smaller one kept as it is.
TEST_F(TabsTest, AMenuPictureOfAnotherSizeIsFitted) {
  FolderOptions options;
  options.level_pictures = {1, 2};
  options.level_picture_size = QSize(687, 24);  // a bar across, not the menu's column
  TForm1& form = Open(options);
  form.show();
  Study(30);
  EXPECT_EQ(form.CurrentLevel, 1);
  const QImage shown = form.ImageMenuBar->pixmap().toImage();
  EXPECT_EQ(shown.size(), QSize(91, 3));
  EXPECT_EQ(shown.pixel(45, 1) & 0xFFFFFFu, LevelPictureColour(1).rgb() & 0xFFFFFFu);
}

TEST_F(TabsTest, ASmallerMenuPictureIsKeptAsItIs) {
  FolderOptions options;
  options.level_pictures = {1};
  options.level_picture_size = QSize(60, 300);
  TForm1& form = Open(options);
  form.show();
  Study(30);
  const QImage shown = form.ImageMenuBar->pixmap().toImage();
  EXPECT_EQ(shown.size(), QSize(60, 300));
  EXPECT_EQ(shown.pixel(30, 150) & 0xFFFFFFu, LevelPictureColour(1).rgb() & 0xFFFFFFu);
}

// The unit caption, the level's description and the level buttons stay
// readable on every level's colour.
TEST_F(TabsTest, CaptionsReadOnEveryLevelsColour) {
  TForm1& form = Open();
  for (int level = 0; level < 6; ++level) {
    const QColor colour = QColor::fromRgb(LevelColours[level]);
    form.ShowUnitHeader(24 * level + 1);
    EXPECT_GE(qorFormPictures::ContrastRatio(form.LabelUnit->palette().color(QPalette::WindowText),
                                             form.LabelUnitBack->palette().color(QPalette::Window)),
              4.5)
        << "unit caption, level " << level;
    form.DrawCourseMap(level);
    EXPECT_GE(qorFormPictures::ContrastRatio(
                  form.LabelCourseLevel->palette().color(QPalette::WindowText),
                  form.PanelDescriptionLevel->palette().color(QPalette::Window)),
              4.5)
        << "description, level " << level;
    EXPECT_GE(qorFormPictures::ContrastRatio(qorFormPictures::TextColourOn(colour), colour), 4.5)
        << "buttons, level " << level;
  }
}

TEST(ContrastTest, BlackOnWhiteIsTwentyOneToOne) {
  EXPECT_NEAR(qorFormPictures::ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
  EXPECT_NEAR(qorFormPictures::ContrastRatio(Qt::white, Qt::white), 1.0, 1e-9);
  EXPECT_EQ(qorFormPictures::TextColourOn(QColor(255, 204, 0)), QColor(Qt::black));
  EXPECT_EQ(qorFormPictures::TextColourOn(QColor(0, 102, 204)), QColor(Qt::white));
}

TEST_F(TabsTest, TheHeaderShowsTheUnitAndItsLevel) {
  TForm1& form = Open();
  form.show();
  Study(54);
  EXPECT_EQ(form.LabelUnit->text(), "Unit 54");
  EXPECT_EQ(form.LabelAreaEstudio->text(), "Unit 54");
  EXPECT_TRUE(form.ImageLevelIntermediate->isVisible());
  EXPECT_FALSE(form.ImageLevelBeginners->isVisible());
  EXPECT_EQ(form.LabelUnitBack->palette().color(QPalette::Window).rgb(), LevelColours[2]);
  EXPECT_EQ(form.PanelHelp->palette().color(QPalette::Window).rgb(), LevelColours[2]);
  EXPECT_EQ(form.ProgressBar_speaking->ForeColor().rgb(), LevelColours[2]);
}

TEST_F(TabsTest, AFailedLoadChangesNothing) {
  TForm1& form = Open();
  form.show();
  Study(5);
  control_->test_result = 2;
  form.ShowTab(0);
  Study(30);
  EXPECT_EQ(form.CurrentUnit, 5);
  EXPECT_EQ(form.CurrentLevel, 0);
  EXPECT_EQ(form.LabelUnit->text(), "Unit 5");
  EXPECT_FALSE(form.FirstLoad);
}

TEST(PathToFileUrlTest, BackslashesBecomeSlashes) {
  EXPECT_EQ(TForm1::PathToFileUrl("C:\\a b\\c.htm"), "file:///C:/a b/c.htm");
  EXPECT_EQ(TForm1::PathToFileUrl("/opt/velarno/data/abk.DAT"), "file:///opt/velarno/data/abk.DAT");
}

TEST_F(TabsTest, PageLinksStayInTheProgramFolder) {
  TForm1& form = Open();
  form.show();
  TCppWebBrowser* start = form.IE_Start;
  const std::string folder = folder_;
  auto open = [&](const QString& link) {
    return OpenLink(link, start->PageUrl(), start, folder, [this](const QUrl& url) {
      opened_.push_back(url);
      return true;
    });
  };
  EXPECT_FALSE(open("file:///bin/sh"));
  EXPECT_FALSE(open("../../../../../../etc/passwd"));
  EXPECT_FALSE(open("javascript:alert(1)"));
  EXPECT_FALSE(open("ftp://example.test/"));
  EXPECT_TRUE(open("mailto:help@example.test"));
  EXPECT_TRUE(open("https://example.test/"));
  EXPECT_EQ(opened_.size(), 2u);
  EXPECT_TRUE(start->PageUrl().toLocalFile().endsWith("st.htm"));
  // A relative link inside the folder opens in the same view.
  emit start->LinkClicked(QUrl("second.htm"));
  EXPECT_TRUE(start->PageUrl().toLocalFile().endsWith("doc/second.htm"));
  EXPECT_TRUE(start->toPlainText().contains("Segunda"));
  EXPECT_TRUE(open(QString::fromStdString("file://" + folder + "data/doc/st.htm")));
  EXPECT_TRUE(start->toPlainText().contains("Bienvenido"));
}

TEST(PageTest, BytesAreWindows1252UnlessThePageSaysOtherwise) {
  EXPECT_EQ(DecodePageBytes("<p>\x80 \xE9</p>"), QString::fromUtf8("<p>\xE2\x82\xAC \xC3\xA9</p>"));
  EXPECT_EQ(DecodePageBytes("<meta charset=\"UTF-8\"><p>\xC3\xA9</p>"),
            QString::fromUtf8("<meta charset=\"UTF-8\"><p>\xC3\xA9</p>"));
  EXPECT_EQ(DecodePageBytes("<meta http-equiv=\"Content-Type\" content=\"text/html; "
                            "charset=iso-8859-1\"><p>\xE9</p>")
                .right(8),
            QString::fromUtf8("<p>\xC3\xA9</p>"));
}

class PageViewTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velarno-page-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(PageViewTest, APageOverTheLimitShowsEmpty) {
  const std::string head = "<html><body><p>kept</p><!--";
  const std::string tail = "--></body></html>";
  std::string page =
      head + std::string(TCppWebBrowser::kMaxPageBytes - head.size() - tail.size(), 'x') + tail;
  WriteFile(root_ / "limit.htm", page);
  page.insert(head.size(), "x");  // one byte past the limit
  WriteFile(root_ / "over.htm", page);
  TCppWebBrowser view;
  QSignalSpy loads(&view, &TCppWebBrowser::DownloadComplete);
  view.Navigate(QString::fromStdString((root_ / "limit.htm").string()));
  EXPECT_TRUE(view.toPlainText().contains("kept"));
  view.Navigate(QString::fromStdString((root_ / "over.htm").string()));
  EXPECT_FALSE(view.toPlainText().contains("kept"));
  EXPECT_EQ(view.PageHtml(), "<html><body></body></html>");
  EXPECT_EQ(loads.count(), 2);
  // A missing page is an empty one the help body can still be written into.
  view.Navigate(QString::fromStdString((root_ / "missing.htm").string()));
  EXPECT_TRUE(SetDocumentBodyHtml(&view, "<p>written \xE9</p>"));
  EXPECT_TRUE(view.toPlainText().contains(QString::fromUtf8("written \xC3\xA9")));
}

TEST_F(PageViewTest, ABodyIsWrittenOnlyIntoALoadedPage) {
  TCppWebBrowser view;
  EXPECT_FALSE(SetDocumentBodyHtml(&view, "<p>x</p>"));
  WriteFile(root_ / "nobody.htm", "<p>no body here</p>");
  view.Navigate(QString::fromStdString((root_ / "nobody.htm").string()));
  EXPECT_TRUE(SetDocumentBodyHtml(&view, "<p>x</p>"));
  EXPECT_EQ(view.PageHtml(), "<p>no body here</p>");
  EXPECT_TRUE(view.toPlainText().contains("no body here"));
}

TEST_F(TabsTest, AnEmptyHelpBodyLeavesThePageAlone) {
  FolderOptions options;
  options.help_file = true;
  TForm1& form = Open(options);
  form.HelpBodyPending = true;
  form.IExplorer->Navigate(QString::fromStdString(folder_ + "data/abk.DAT"));
  EXPECT_TRUE(form.IExplorer->toPlainText().contains("Shell"));
  EXPECT_FALSE(form.HelpBodyPending);
}

TEST_F(TabsTest, TheLogoOpensTheMakersSite) {
  TForm1& form = Open();
  form.show();
  QTest::mouseClick(form.Image2, Qt::LeftButton);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0].toString(), "https://velarno.example/");
}

}  // namespace
