// The top bar's tabs, entering the study tab (which loads the chosen unit),
// the unit header, the help page's body and the logo's link.
#include <cstdio>

#include "host/TForm1.h"
#include "host/qorAnsi.h"
#include "host/qorFormPictures.h"
#include "host/qorProgramFolder.h"
#include "host/qorTexts.h"

namespace {

constexpr int kIndicatorLefts[4] = {256, 362, 467, 677};
constexpr int kIndicatorTop = 23;

}  // namespace

void TForm1::ShowTab(int tab) {
  if (tab < 0 || tab > 3 || closed_) return;
  // A click that comes while a unit is being loaded stays out.
  if (Busy()) return;
  QWidget* const pages[4] = {TabSheet3, TabSheet6, TabSheet2, TabSheet4};
  ImageLabelOn->move(kIndicatorLefts[tab], kIndicatorTop);
  PageControl1->setCurrentWidget(pages[tab]);
  if (tab == 1) DrawUnitTile(CurrentUnit);
  if (tab == 2) {
    ImageLabelOn->repaint();
    // A unit that is not installed is never handed to the control: the tab
    // shows and nothing is loaded.
    const bool installed = SelectedUnit >= 1 && SelectedUnit <= kUnits &&
                           InstalledUnits[static_cast<size_t>(SelectedUnit)];
    if ((FirstLoad || SelectedUnit != CurrentUnit) && installed && !control_given_up_) {
      loading_ = true;
      const bool loaded = LoadUnitIntoControl(control_.get(), MainText(12), SelectedUnit);
      loading_ = false;
      if (loaded) {
        FirstLoad = false;
        CurrentUnit = SelectedUnit;
        const int previous_level = CurrentLevel;
        ShowUnitHeader(CurrentUnit);
        if (CurrentLevel != previous_level) {
          char member[32];
          std::snprintf(member, sizeof(member), "3:level%d.bmp", CurrentLevel);
          QImage menu;
          LoadPackBitmap(member, menu);
          // Whatever its size, fitted to the menu's place as the other pack
          // pictures are; a missing one leaves the menu as it was.
          if (!menu.isNull()) {
            ImageMenuBar->setAlignment(Qt::AlignCenter);
            ImageMenuBar->setPixmap(
                QPixmap::fromImage(qorFormPictures::FitInside(menu, ImageMenuBar->size())));
          }
        }
      }
    }
  }
  StudyTabActive = PageControl1->currentIndex() == StudyPageIndex;
  ImageLabelOn->repaint();
}

void TForm1::ShowUnitHeader(int unit) {
  CurrentLevel = (unit - 1) / 24;
  char caption[32];
  std::snprintf(caption, sizeof(caption), "Unit %d", unit);
  LabelAreaEstudio->setText(QString::fromLatin1(caption));
  LabelAreaEstudio->repaint();
  ShowLevelImage(CurrentLevel);
  const QColor colour =
      QColor::fromRgb(LevelColours[static_cast<size_t>(std::clamp(CurrentLevel, 0, 5))]);
  for (QWidget* widget : {static_cast<QWidget*>(LabelUnitBack), static_cast<QWidget*>(PanelHelp)}) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
  }
  LabelUnit->setText(FromAnsi(UnitCaption(unit)));
  // The caption in whichever of black and white reads on the level's colour.
  QPalette caption_palette = LabelUnit->palette();
  caption_palette.setColor(QPalette::WindowText, qorFormPictures::TextColourOn(colour));
  LabelUnit->setPalette(caption_palette);
  SetSectionGaugeColour(CurrentLevel);
}

void TForm1::ShowLevelImage(int level) {
  QWidget* const badges[6] = {ImageLevelBeginners,    ImageLeveLowIntermediate,
                              ImageLevelIntermediate, ImageLevelUpperIntermediate,
                              ImageLevelAdvanced,     ImageLevelBusiness};
  for (int i = 0; i < 6; ++i) badges[i]->setVisible(i == level);
}

void TForm1::SetSectionGaugeColour(int level) {
  const QColor colour = QColor::fromRgb(LevelColours[static_cast<size_t>(std::clamp(level, 0, 5))]);
  for (TCGauge* gauge :
       {ProgressBar_situation, ProgressBar_study, ProgressBar_dictation, ProgressBar_roleplay,
        ProgressBar_grammar, ProgressBar_writing, ProgressBar_newwords, ProgressBar_speaking})
    gauge->SetForeColor(colour);
}

std::string TForm1::PathToFileUrl(const std::string& path) {
  std::string url = "file:///";
  size_t i = 0;
  // An absolute local path already starts with its separator.
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) i = 1;
  for (; i < path.size(); ++i) url += path[i] == '\\' ? '/' : path[i];
  return url;
}

void TForm1::IExplorerDownloadComplete() {
  if (!HelpBodyPending) return;
  HelpBodyPending = false;
  // An empty body would blank the page: there is nothing to write.
  if (HelpHtml.empty()) return;
  if (!SetDocumentBodyHtml(IExplorer, HelpHtml)) HelpBodyPending = true;
}

void TForm1::Image2Click() {
  OpenShellLink(LinkText(0));
}
