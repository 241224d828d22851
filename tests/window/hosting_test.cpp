// Loading a unit into the control, the version check, a failed start, the
// statistics panel, the page counter and footers, and the order of closing.
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <climits>

#include "WindowFixture.h"
#include "host/qorApplication.h"
#include "host/qorUnitsManager.h"

namespace fs = std::filesystem;
using Calls = std::vector<std::string>;

namespace {

class HostingTest : public WindowTest {};

TEST_F(HostingTest, AUnitIsHandedOverInTheHostsOrder) {
  FolderOptions options;
  options.texts_pack = false;  // the built-in student name
  TForm1& form = Open(options);
  EXPECT_EQ(control_->Take(), (Calls{"CreateWindow"}));
  EXPECT_FALSE(form.AXeTAE1->isVisible());
  form.show();
  Study(7);
  EXPECT_EQ(
      control_->Take(),
      (Calls{"get 1", "SetEHDDStudent userdata", "SetEHDDCommon data\\common.dat",
             "ServerEHDD " + folder_ + " 1 3232", "ServerEHDD  0 5252",
             "ServerEHDD 127.0.0.1 80 10", "InicializarAXeTAE", "get 30", "SetNavigationMode 0",
             "SetEHDDUnits data\\unit007.dat", "SetEHDDMultimedia data\\mcd01.dat", "CargarUnit 7",
             "EsperaFinEvento", "get 14", "get 15", "get 38", "get 38", "get 38"}));
  EXPECT_TRUE(form.UnitLoaded);
  EXPECT_TRUE(form.StudyTabActive);
  EXPECT_TRUE(form.AXeTAE1->isVisible());
  EXPECT_EQ(form.AXeTAE1->size(), QSize(687, 534));
  EXPECT_EQ(form.CurrentUnit, 7);
  EXPECT_EQ(form.LabelUnit->text(), "Unit 7");
  EXPECT_EQ(form.LabelPage->text(), "01");
  EXPECT_EQ(form.LabelTotalPages->text(), "12");
  EXPECT_EQ(control_->site, form.AXeTAE1);
  EXPECT_EQ(control_->host.get(), form.UiHost());
}

TEST_F(HostingTest, TwelveUnitsShareAMultimediaStore) {
  Open().show();
  const std::pair<int, const char*> cases[] = {{12, "SetEHDDMultimedia data\\mcd01.dat"},
                                               {13, "SetEHDDMultimedia data\\mcd02.dat"},
                                               {144, "SetEHDDMultimedia data\\mcd12.dat"}};
  for (const auto& [unit, expected] : cases) {
    control_->Take();
    Study(unit);
    const Calls calls = control_->Take();
    EXPECT_NE(std::find(calls.begin(), calls.end(), expected), calls.end()) << unit;
    char units[64];
    std::snprintf(units, sizeof(units), "SetEHDDUnits data\\unit%03d.dat", unit);
    EXPECT_NE(std::find(calls.begin(), calls.end(), units), calls.end()) << unit;
  }
}

TEST(VersionTest, TheFirstTwoNumbersDecide) {
  EXPECT_TRUE(TForm1::CheckControlVersion("1.08.02.04A"));
  EXPECT_TRUE(TForm1::CheckControlVersion("1.08"));
  EXPECT_FALSE(TForm1::CheckControlVersion("1.07"));  // the last refused minor
  EXPECT_FALSE(TForm1::CheckControlVersion("1"));
  EXPECT_TRUE(TForm1::CheckControlVersion("2.0"));
  EXPECT_TRUE(TForm1::CheckControlVersion("2"));
  EXPECT_TRUE(TForm1::CheckControlVersion("0.9"));
  EXPECT_FALSE(TForm1::CheckControlVersion(""));
  EXPECT_FALSE(TForm1::CheckControlVersion("beta"));
}

class RefusedVersionTest : public WindowTest, public testing::WithParamInterface<const char*> {};

TEST_P(RefusedVersionTest, TheBoxShowsAndTheWindowCloses) {
  control_->version = GetParam();
  TForm1& form = Open();
  form.show();
  control_->Take();
  Study(5);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], std::string("Error|Incorrect module version.\n") + GetParam() +
                           "\n\nPlease reinstall the program.|16");
  // Nothing else reached the control; the close let it go.
  EXPECT_EQ(control_->Take(), (Calls{"get 1", "UnloadAll"}));
  EXPECT_TRUE(form.Closed());
  EXPECT_FALSE(form.UnitLoaded);
  EXPECT_EQ(form.CurrentUnit, 1);
  EXPECT_TRUE(form.FirstLoad);
  EXPECT_EQ(ReadFile(folder_ + "data/units.alu").substr(0, 17), "1:0:0:0:0:0:0\r\n2:");
}

INSTANTIATE_TEST_SUITE_P(Versions, RefusedVersionTest, testing::Values("1.07", "1", ""));

class AcceptedVersionTest : public WindowTest, public testing::WithParamInterface<const char*> {};

TEST_P(AcceptedVersionTest, TheUnitLoads) {
  control_->version = GetParam();
  TForm1& form = Open();
  form.show();
  Study(5);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_TRUE(form.UnitLoaded);
  EXPECT_FALSE(form.Closed());
}

INSTANTIATE_TEST_SUITE_P(Versions, AcceptedVersionTest,
                         testing::Values("1.08.02.04A", "1.08", "2.0", "0.9"));

TEST_F(HostingTest, AFailedStartGivesTheControlUpForGood) {
  control_->test_result = 2;
  TForm1& form = Open();
  form.show();
  control_->Take();
  Study(1);
  Calls calls = control_->Take();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], "get 30");
  EXPECT_EQ(calls.back(), "UnloadAll");
  EXPECT_FALSE(form.AXeTAE1->isVisible());
  EXPECT_FALSE(form.UnitLoaded);
  EXPECT_TRUE(boxes_.empty());
  // Neither a second entry nor a page key reaches it again.
  form.ShowTab(0);
  Study(5);
  form.Image18Click();
  form.Timer1Timer();
  EXPECT_TRUE(control_->Take().empty());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_TRUE(form.FirstLoad);
}

TEST_F(HostingTest, ThePanelSumsTheEightParts) {
  FolderOptions options;
  options.units_alu = "1:1:0:0:0:0:0\r\n";  // a flag the panel leaves alone
  TForm1& form = Open(options);
  form.show();
  Study(1);
  const int percents[8] = {100, 50, 0, 0, 0, 0, 0, 3};
  for (int part = 0; part < 8; ++part) control_->audit[part] = {percents[part], part, 10 * part};
  control_->audit[7][1] = 300;  // the whole counter, not its low byte
  control_->hours = 1;
  control_->minutes = 5;
  control_->Take();
  form.Timer1Timer();
  const Calls calls = control_->Take();
  EXPECT_EQ(calls[0], "SeleccionarAuditoria 0");
  EXPECT_EQ(calls[1], "get 22");
  EXPECT_EQ(calls[2], "get 23");
  EXPECT_EQ(calls[3], "get 20");
  EXPECT_EQ(form.LabelPerTotal->text(), "19");  // 153 x 0.125, cut
  EXPECT_EQ(form.LabelTotalAnswer->text(), QString::number(0 + 1 + 2 + 3 + 4 + 5 + 6 + 300));
  EXPECT_EQ(form.LabelTotalErrors->text(), "280");
  EXPECT_EQ(form.LabelPerSituation->text(), "100");
  EXPECT_EQ(form.LabelPerStudy->text(), "50");
  EXPECT_EQ(form.label_A_speaking->text(), "300");
  EXPECT_EQ(form.label_E_writing->text(), "50");
  EXPECT_EQ(form.LabelTime->text(), "01:05");
  EXPECT_EQ(form.ProgressBar_study->Progress(), 50);
  const qorUnit* entry = qorUnitsManager::Instance()->Entry(1);
  EXPECT_EQ(entry->percent, 19);
  EXPECT_EQ(entry->answers, 321);
  EXPECT_EQ(entry->errors, 280);
  EXPECT_EQ(entry->hours, 1);
  EXPECT_EQ(entry->minutes, 5);
  EXPECT_EQ(entry->flag, 1);
  EXPECT_EQ(entry->number, 1);
}

TEST_F(HostingTest, GaugesStopAtOneHundredAndLabelsShowWhatWasRead) {
  TForm1& form = Open();
  form.show();
  Study(1);
  control_->audit[0] = {255, 0, 0};
  control_->audit[1] = {101, 0, 0};  // one past the gauge's end
  control_->audit[2] = {100, 0, 0};  // its end
  form.Timer1Timer();
  EXPECT_EQ(form.LabelPerSituation->text(), "255");
  EXPECT_EQ(form.ProgressBar_situation->Progress(), 100);
  EXPECT_EQ(form.LabelPerStudy->text(), "101");
  EXPECT_EQ(form.ProgressBar_study->Progress(), 100);
  EXPECT_EQ(form.ProgressBar_dictation->Progress(), 100);
  EXPECT_EQ(form.LabelPerTotal->text(), "57");  // (255 + 101 + 100) / 8
}

TEST_F(HostingTest, SumsAndTheTotalStopAtTheEndsOfAnInt) {
  TForm1& form = Open();
  form.show();
  Study(1);
  // At the limit: one part at the largest int, the others at 0.
  control_->audit[0] = {0, INT32_MAX, INT32_MAX};
  form.Timer1Timer();
  EXPECT_EQ(form.LabelTotalAnswer->text(), "2147483647");
  EXPECT_EQ(form.LabelTotalErrors->text(), "2147483647");
  // One past it, and every part at the largest int: held there, not wrapped.
  control_->audit[1] = {0, 1, 1};
  form.Timer1Timer();
  EXPECT_EQ(form.LabelTotalAnswer->text(), "2147483647");
  EXPECT_EQ(form.LabelTotalErrors->text(), "2147483647");
  for (auto& part : control_->audit) part = {INT32_MAX, INT32_MAX, INT32_MAX};
  form.Timer1Timer();
  EXPECT_EQ(form.LabelPerTotal->text(), "2147483647");
  EXPECT_EQ(form.LabelTotalAnswer->text(), "2147483647");
  const qorUnit* entry = qorUnitsManager::Instance()->Entry(1);
  EXPECT_EQ(entry->percent, INT32_MAX);
  EXPECT_EQ(entry->answers, INT32_MAX);
  for (auto& part : control_->audit) part = {INT32_MIN, INT32_MIN, INT32_MIN};
  form.Timer1Timer();
  EXPECT_EQ(form.LabelPerTotal->text(), "-2147483648");
  EXPECT_EQ(form.LabelTotalErrors->text(), "-2147483648");
}

TEST_F(HostingTest, TheTimerOnlyReadsALoadedUnit) {
  TForm1& form = Open();
  control_->Take();
  form.Timer1Timer();
  EXPECT_TRUE(control_->Take().empty());
  EXPECT_FALSE(form.Timer1->isActive());
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_TRUE(form.Timer1->isActive());  // the first paint started it
  EXPECT_EQ(form.Timer1->interval(), 500);
}

TEST_F(HostingTest, FootersFollowThePart) {
  TForm1& form = Open();
  form.show();
  Study(1);
  EXPECT_EQ(form.ShownPart, 0);
  EXPECT_TRUE(form.ImageFootSituation->isVisible());
  form.Image9Click();  // part 1
  EXPECT_FALSE(form.ImageFootSituation->isVisible());
  EXPECT_TRUE(form.ImageFootStudyGrammarNewWords->isVisible());
  control_->Take();
  form.Image12Click();  // part 4 shares the image with part 1
  EXPECT_EQ(control_->Take(), (Calls{"CambiarDeParte 4", "EsperaFinEvento", "get 14", "get 15",
                                     "get 38", "get 38", "get 38"}));
  EXPECT_TRUE(form.ImageFootStudyGrammarNewWords->isVisible());
  EXPECT_EQ(form.ShownPart, 4);
  form.Image15Click();  // part 7
  EXPECT_FALSE(form.ImageFootStudyGrammarNewWords->isVisible());
  EXPECT_TRUE(form.ImageFootSpeaking->isVisible());
  control_->Take();
  form.Image15Click();  // the same part: the footer is not touched
  EXPECT_EQ(control_->Take(),
            (Calls{"CambiarDeParte 7", "EsperaFinEvento", "get 14", "get 15", "get 38", "get 38"}));
  // Part 0 also turns to its next page.
  form.Image8Click();
  EXPECT_EQ(control_->Take(),
            (Calls{"CambiarDeParte 0", "EsperaFinEvento", "PaginaSiguiente", "EsperaFinEvento",
                   "get 14", "get 15", "get 38", "get 38", "get 38"}));
  EXPECT_EQ(form.LabelPage->text(), "02");
}

TEST_F(HostingTest, ClosingSavesTheTableBeforeTheControlsLastFigures) {
  FolderOptions options;
  options.units_alu = "7:0:3:1:0:5:40\r\n";
  TForm1& form = Open(options);
  form.show();
  Study(7);
  control_->audit[0] = {80, 2, 1};
  form.Timer1Timer();
  std::string table_at_unload;
  QWidget* page_at_unload = nullptr;
  control_->on_unload = [&] {
    table_at_unload = ReadFile(folder_ + "data/units.alu");
    page_at_unload = form.PageControl1->currentWidget();
  };
  form.ShowTab(1);
  control_->Take();
  form.Image16Click();
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(control_->Take(), (Calls{"UnloadAll"}));
  EXPECT_EQ(page_at_unload, form.TabSheet2);
  EXPECT_NE(table_at_unload.find("\r\n7:0:2:1:0:0:10\r\n"), std::string::npos);
  size_t lines = 0;
  for (char c : table_at_unload) lines += c == '\n';
  EXPECT_EQ(lines, 144u);
  form_.reset();
  EXPECT_EQ(control_->Take(), (Calls{"Release"}));
}

TEST_F(HostingTest, AClosingFromOutsideClosesAnExceptionsBoxFirst) {
  TForm1& form = Open();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  bool timed_out = false;
  QTimer::singleShot(0, &form, [&] { form.CloseFromOutside(); });
  // Should the box stay, the test still ends: it is closed here, late.
  QTimer::singleShot(5000, &form, [&] {
    timed_out = true;
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  qorApplication::ShowException("thrown by a handler");  // runs until it is closed
  EXPECT_TRUE(QTest::qWaitFor([&] { return form.Closed(); }, 2000));
  EXPECT_FALSE(timed_out);
}

TEST_F(HostingTest, AClosingFromOutsideWithNothingOpenClosesAtOnce) {
  TForm1& form = Open();
  form.show();
  form.CloseFromOutside();
  EXPECT_TRUE(form.Closed());
}

}  // namespace
