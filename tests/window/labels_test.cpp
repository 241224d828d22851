// The page counter after a first load that outlasts the host's wait.
#include <algorithm>

#include "WindowFixture.h"

using Calls = std::vector<std::string>;

namespace {

class PageLabelsTest : public WindowTest {};

TEST_F(PageLabelsTest, ALoadLongerThanTheWaitIsShownByThePollOnceItEnds) {
  // The wait after CargarUnit gives up while the unit still loads: the
  // control has no pages yet.
  control_->total = 0;
  control_->page = 0;
  TForm1& form = Open();
  form.show();
  Study(7);
  EXPECT_EQ(form.LabelTotalPages->text(), "00");
  // The poll while the load goes on changes nothing.
  form.Timer1Timer();
  EXPECT_EQ(form.LabelTotalPages->text(), "00");
  // The load ends: the next poll reads the first page.
  control_->total = 26;
  control_->page = 1;
  control_->Take();
  form.Timer1Timer();
  EXPECT_EQ(form.LabelPage->text(), "01");
  EXPECT_EQ(form.LabelTotalPages->text(), "26");
  Calls calls = control_->Take();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "EsperaFinEvento"), 1);
  // Read once: later polls leave the counter to the page commands.
  form.Timer1Timer();
  calls = control_->Take();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "EsperaFinEvento"), 0);
}

}  // namespace
