// The constructor's steps: installed units, captions, the help page, unit
// titles, the navigation sound, a missing control and a restart.
#include "WindowFixture.h"
#include "host/qorDisconnectSoundIE.h"
#include "host/qorFormPictures.h"
#include "host/qorRegistry.h"
#include "host/qorTexts.h"
#include "host/qorUnitsManager.h"
#include "host/qorUtils.h"

namespace fs = std::filesystem;
using platform::registry::Root;

namespace {

class StartupTest : public WindowTest {};

TEST_F(StartupTest, AUnitNeedsBothVolumeFiles) {
  FolderOptions options;
  options.installed = {1, 144};
  options.fat_only = {7};
  TForm1& form = Open(options);
  EXPECT_TRUE(form.InstalledUnits[1]);
  EXPECT_TRUE(form.InstalledUnits[144]);
  EXPECT_FALSE(form.InstalledUnits[7]);  // unit007.FAT alone
  EXPECT_FALSE(form.InstalledUnits[8]);
  EXPECT_EQ(form.DataFolder, folder_ + "data/");
  EXPECT_EQ(form.UnitPathPrefix, folder_ + "data/unit");
  EXPECT_EQ(form.HelpPageUrl, "file://" + folder_ + "data/abk.DAT");
}

TEST_F(StartupTest, CaptionsComeFromTheTextsPack) {
  FolderOptions options;
  for (int i = 0; i < 19; ++i) options.texts += "Pack " + std::to_string(i) + "\r\n";
  TForm1& form = Open(options);
  EXPECT_EQ(form.LabelInicio->text(), "Pack 6");
  EXPECT_EQ(form.LabelIndice->text(), "Pack 7");
  EXPECT_EQ(form.LabelHelp->text(), "Pack 9");
  EXPECT_EQ(form.LabelConoce->text(), "Pack 18");
  // Step 9 gave it "Pack 8"; the unit header of step 12 replaced it.
  EXPECT_EQ(form.LabelAreaEstudio->text(), "Unit 1");
  EXPECT_EQ(form.LabelUnit->text(), "Unit 1");
  EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet3);
}

TEST_F(StartupTest, WithoutTheTextsPackTheBuiltInTextsAndHelpServe) {
  FolderOptions options;
  options.texts_pack = false;
  TForm1& form = Open(options);
  EXPECT_EQ(form.LabelInicio->text(), "Inicio");
  EXPECT_EQ(form.LabelIndice->text(), "Indice del curso");
  EXPECT_EQ(form.LabelHelp->text(), "Help");
  EXPECT_EQ(form.LabelConoce->text(), "Conoce en profundidad este nivel");
  EXPECT_EQ(form.HelpHtml, BuiltInHelpHtml());
  EXPECT_TRUE(form.IExplorer->toPlainText().contains("Centro de ayuda"));
}

TEST_F(StartupTest, ALocalHelpFileIsShownAndNoBodyIsWritten) {
  FolderOptions options;
  options.help_file = true;
  options.help_txt = "<body>\r\n<p>from the pack</p>\r\n</body>\r\n";
  TForm1& form = Open(options);
  EXPECT_TRUE(form.HelpHtml.empty());
  EXPECT_EQ(form.IExplorer->PageUrl().toLocalFile().toStdString(), folder_ + "data/hlp/hlp.htm");
  // The page names its charset: UTF-8.
  EXPECT_TRUE(form.IExplorer->toPlainText().contains(QString::fromUtf8("Ayuda local \xC3\xA1")));
  EXPECT_FALSE(form.HelpBodyPending);
}

TEST_F(StartupTest, ThePackHelpIsJoinedIntoTheShellPage) {
  FolderOptions options;
  options.help_txt = "<body>\r\n<p>uno</p>\r\n<p>dos \xE9</p>\r\n</body>\r\n";
  TForm1& form = Open(options);
  EXPECT_EQ(form.HelpHtml, "<body><p>uno</p><p>dos \xE9</p></body>");
  EXPECT_EQ(form.IExplorer->PageUrl().toLocalFile().toStdString(), folder_ + "data/abk.DAT");
  const QString shown = form.IExplorer->toPlainText();
  EXPECT_TRUE(shown.contains(QString::fromUtf8("dos \xC3\xA9"))) << shown.toStdString();
  EXPECT_FALSE(shown.contains("Shell"));
  EXPECT_FALSE(form.HelpBodyPending);
}

// The help page is opened by its path: a '#', '?' or '%' in the program
// folder's path is part of a folder name, never a fragment, query or escape.
TEST_F(StartupTest, AProgramFolderWithHashQuestionAndPercentShowsItsPages) {
  const fs::path parent = root_;
  struct Cleanup {
    fs::path path;
    ~Cleanup() {
      std::error_code error;
      fs::remove_all(path, error);
    }
  } cleanup{parent};
  root_ = parent / "course #1 ?50%25 %";
  fs::create_directories(root_);
  FolderOptions options;
  options.help_txt = "<body>\r\n<p>ayuda del curso</p>\r\n</body>\r\n";
  TForm1& form = Open(options);
  EXPECT_EQ(form.HelpPageUrl, "file://" + folder_ + "data/abk.DAT");  // unescaped, as built
  EXPECT_EQ(form.IExplorer->PageUrl().toLocalFile().toStdString(), folder_ + "data/abk.DAT");
  const QString help = form.IExplorer->toPlainText();
  EXPECT_TRUE(help.contains("ayuda del curso")) << help.toStdString();
  EXPECT_FALSE(form.HelpBodyPending);
  EXPECT_TRUE(form.IE_Start->toPlainText().contains("Bienvenido"));
  // A link of the start page resolves inside the same folder.
  emit form.IE_Start->LinkClicked(QUrl("second.htm"));
  EXPECT_EQ(form.IE_Start->PageUrl().toLocalFile().toStdString(), folder_ + "data/doc/second.htm");
  EXPECT_TRUE(form.IE_Start->toPlainText().contains("Segunda"));
}

TEST_F(StartupTest, UnitTitlesPastTheLastUnitAreIgnored) {
  FolderOptions options;
  for (int i = 1; i <= 150; ++i) options.titles.push_back("Line " + std::to_string(i));
  Open(options);
  qorUnitsManager* units = qorUnitsManager::Instance();
  EXPECT_EQ(units->Level(0)->titles[0], "Line 1");
  EXPECT_EQ(units->Level(5)->titles[23], "Line 144");
  EXPECT_EQ(units->Level(6), nullptr);
}

TEST_F(StartupTest, AControlThatCannotBeMadeIsRefusedAtTheFirstStudy) {
  make_control_ = false;
  TForm1& form = Open();
  EXPECT_EQ(form.Control(), nullptr);
  form.show();
  Study(1);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "Error|Incorrect module version.\n\n\nPlease reinstall the program.|16");
  EXPECT_TRUE(form.Closed());
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(fs::exists(folder_ + "data/units.alu"));
}

TEST_F(StartupTest, APendingUpdateIsInstalledBeforeTheWindowReadsItsFiles) {
  // The update replaces the start page; the window shows the new one.
  const fs::path staged = root_ / "program" / "upd" / "data" / "doc" / "st.htm";
  WriteFile(staged, "<html><body><p>Updated start</p></body></html>");
  char crc[16];
  std::snprintf(crc, sizeof(crc), "%lX",
                static_cast<unsigned long>(FileCrc32(staged.c_str(), 0, 0, 0)));
  WriteFile(root_ / "program" / "upd" / "manifest.qor",
            std::string("data\\doc\\st.htm=") + crc + "\r\n");
  TForm1& form = Open();
  EXPECT_FALSE(form.RestartRequested());
  EXPECT_FALSE(fs::exists(root_ / "program" / "upd" / "manifest.qor"));
  EXPECT_TRUE(form.IE_Start->toPlainText().contains("Updated start"));
}

TEST_F(StartupTest, ARestartEndsTheStartBeforeThePacks) {
  apply_update_ = [](const std::string& folder) { return !folder.empty(); };
  TForm1& form = Open();
  EXPECT_TRUE(form.RestartRequested());
  EXPECT_TRUE(form.DataFolder.empty());
  EXPECT_FALSE(form.InstalledUnits[1]);
}

class SoundTest : public testing::Test {
 protected:
  void TearDown() override { platform::registry::DeleteKey(Root::kCurrentUser, "AppEvents"); }
};

TEST_F(SoundTest, TheSoundIsBlankedAndPutBack) {
  ASSERT_TRUE(RegWriteExpandString(Root::kCurrentUser, qorDisconnectSoundIE::kKey, "", "ding.wav"));
  {
    qorDisconnectSoundIE silence;
    std::string now = "unchanged";
    EXPECT_TRUE(RegReadString(Root::kCurrentUser, qorDisconnectSoundIE::kKey, "", now));
    EXPECT_EQ(now, "unchanged");  // an empty value reads as nothing
  }
  std::string after;
  EXPECT_TRUE(RegReadString(Root::kCurrentUser, qorDisconnectSoundIE::kKey, "", after));
  EXPECT_EQ(after, "ding.wav");
}

TEST_F(SoundTest, AKeyThatCannotBeReadIsNeverWritten) {
  { qorDisconnectSoundIE silence; }
  EXPECT_FALSE(platform::registry::KeyExists(Root::kCurrentUser, qorDisconnectSoundIE::kKey));
}

TEST_F(StartupTest, PackPicturesAreShownWholeInTheirPlaces) {
  FolderOptions options;
  options.tip_size = QSize(88, 88);      // taller than its place
  options.footer_size = QSize(687, 40);  // exactly its place
  TForm1& form = Open(options);
  for (QLabel* label : {form.ImageTip1, form.ImageFootSituation}) {
    EXPECT_TRUE(form.PanelHelp->rect().contains(label->geometry()))
        << label->objectName().toStdString();
    const QSize shown = label->pixmap().size();
    EXPECT_LE(shown.width(), label->width()) << label->objectName().toStdString();
    EXPECT_LE(shown.height(), label->height()) << label->objectName().toStdString();
  }
  // The tip scaled down whole, square as it was; the footer as it was made.
  EXPECT_EQ(form.ImageTip1->pixmap().size(), QSize(40, 40));
  EXPECT_EQ(form.ImageTip1->pixmap().toImage().pixelColor(20, 20), QColor(4, 5, 6));
  EXPECT_EQ(form.ImageFootSituation->pixmap().size(), QSize(687, 40));
  // The footers lie under the control's column.
  EXPECT_EQ(form.ImageFootSituation->x(), form.AXeTAE1->x());
  EXPECT_EQ(form.ImageFootSituation->width(), form.AXeTAE1->width());
}

TEST(FitInsideTest, OnlyAPictureLargerThanItsPlaceIsScaled) {
  QImage picture(687, 40, QImage::Format_RGB32);
  picture.fill(Qt::red);
  EXPECT_EQ(qorFormPictures::FitInside(picture, QSize(687, 40)).size(), QSize(687, 40));
  EXPECT_EQ(qorFormPictures::FitInside(picture, QSize(686, 40)).size(), QSize(686, 39));
  EXPECT_EQ(qorFormPictures::FitInside(picture, QSize(687, 39)).size(), QSize(669, 39));
  EXPECT_EQ(qorFormPictures::FitInside(picture, QSize(800, 100)).size(), QSize(687, 40));
}

}  // namespace
