// Hosting the lesson control: loading a unit into it, the page counter and
// footers, the statistics panel refreshed by Timer1, page turning by keys and
// buttons, the section buttons, and letting go of the control at close.
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <thread>

#include "host/TForm1.h"
#include "host/qorFileManager.h"
#include "host/qorKeyboardFilter.h"
#include "host/qorProgramFolder.h"
#include "host/qorStringTokenizer.h"
#include "host/qorUnitsManager.h"
#include "host/qorUtils.h"
#include "platform/MessageBox.h"

namespace {

// The eHDD server the control is given. In local mode it is never
// contacted, but an empty address would make the engine's start do nothing.
constexpr const char* kServerAddress = "127.0.0.1";
constexpr int32_t kServerPort = 80;

class FormLockGuard {
 public:
  FormLockGuard() {
    if (FormLock != nullptr) FormLock->Enter();
  }
  ~FormLockGuard() {
    if (FormLock != nullptr) FormLock->Leave();
  }
  FormLockGuard(const FormLockGuard&) = delete;
  FormLockGuard& operator=(const FormLockGuard&) = delete;
};

// The character of the key being handled, held on the site for the call.
class KeyCharScope {
 public:
  KeyCharScope(qorControlSite* site, uint16_t typed) : site_(site) { site_->SetKeyChar(typed); }
  ~KeyCharScope() { site_->SetKeyChar(0); }
  KeyCharScope(const KeyCharScope&) = delete;
  KeyCharScope& operator=(const KeyCharScope&) = delete;

 private:
  qorControlSite* site_;
};

std::string Format02(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%02d", value);
  return text;
}

QString Number(int32_t value) {
  return QString::number(value);
}

// Figures read from the control may be anything: sums and the total stay at
// the ends of an int instead of running past them.
int SaturatingAdd(int a, int b) {
  const int64_t sum = static_cast<int64_t>(a) + b;
  return static_cast<int>(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
}

// The float's value with its fraction dropped, held to the range of an int.
int TruncateToInt(float value) {
  if (value <= static_cast<float>(INT32_MIN)) return INT32_MIN;
  if (value >= static_cast<float>(INT32_MAX)) return INT32_MAX;
  return static_cast<int>(value);
}

}  // namespace

bool TForm1::CheckControlVersion(const std::string& version) {
  qorStringTokenizer fields(version, '.');
  const long major = std::atol(fields.NextToken().c_str());
  if (major > 1) return true;
  if (!fields.HasMoreTokens()) return false;
  return std::atol(fields.NextToken().c_str()) >= 8;
}

bool TForm1::LoadUnitIntoControl(TAXeTAE* control, const std::string& student, int unit) {
  // 1.
  AXeTAE1->resize(qorControlSite::kWidth, qorControlSite::kHeight);
  const std::string folder = ProgramFolder();
  AXeTAE1->show();
  // 2.
  const int mcd = (unit - 1) / 12 + 1;
  // 3.
  {
    FormLockGuard lock;
    UnitLoaded = false;
  }
  // 4. A control that is missing reads as one of no version.
  const std::string version = control != nullptr ? control->Version() : std::string();
  if (!CheckControlVersion(version)) {
    ui_host_->ShowMessageBox(
        "Incorrect module version.\n" + version + "\n\nPlease reinstall the program.", "Error",
        platform::kMbOk | platform::kMbIconError);
    close();
    return false;
  }
  // 5.
  char units_name[32];
  char multimedia_name[32];
  std::snprintf(units_name, sizeof(units_name), "data\\unit%03d.dat", unit);
  std::snprintf(multimedia_name, sizeof(multimedia_name), "data\\mcd%02d.dat", mcd);
  // 6.-11.
  control->SetEHDDStudent(student);
  control->SetEHDDCommon("data\\common.dat");
  control->ServerEHDD(folder, 1, 3232);
  control->ServerEHDD("", 0, 5252);
  control->ServerEHDD(kServerAddress, kServerPort, 10);
  control->InicializarAXeTAE();
  // 12. The common store could not be mounted: the control is let go for
  // good (it refuses a second start after its unload).
  if (control->TestResult() == 2) {
    control->UnloadAll();
    AXeTAE1->hide();
    StudyTabActive = false;
    control_given_up_ = true;
    return false;
  }
  // 13.-15.
  control->SetNavigationMode(0);
  control->SetEHDDUnits(units_name);
  control->SetEHDDMultimedia(multimedia_name);
  control->CargarUnit(unit);
  // 16.
  RefreshPageCounter();
  // 17.
  {
    FormLockGuard lock;
    UnitLoaded = true;
  }
  unit_studied_ = true;
  StudyTabActive = true;
  return true;
}

void TForm1::RefreshPageCounter() {
  TAXeTAE* control = Control();
  if (control == nullptr) return;
  control->EsperaFinEvento();
  LabelPage->setText(QString::fromStdString(Format02(control->numeropaginaactual())));
  LabelTotalPages->setText(QString::fromStdString(Format02(control->numtotalpaginas())));
  if (control->parteunit() != ShownPart) {
    if (QWidget* shown = FooterImage(ShownPart)) shown->hide();
    ShownPart = control->parteunit();
    if (QWidget* shown = FooterImage(ShownPart)) shown->show();
  }
  ShownPart = control->parteunit();
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

QWidget* TForm1::FooterImage(int part) const {
  switch (part) {
    case 0:
      return ImageFootSituation;
    case 1:
    case 4:
    case 6:
      return ImageFootStudyGrammarNewWords;
    case 2:
      return ImageFootDictation;
    case 3:
      return ImageFootRolePlay;
    case 5:
      return ImageFootWriting;
    case 7:
      return ImageFootSpeaking;
    default:
      return nullptr;
  }
}

void TForm1::ShowSectionAudit(TAXeTAE* control, int part, float& percent_sum, int& answers_sum,
                              int& errors_sum) {
  struct Section {
    TCGauge* gauge;
    QLabel* percent;
    QLabel* answers;
    QLabel* errors;
  };
  const Section sections[8] = {
      {ProgressBar_situation, LabelPerSituation, nullptr, nullptr},
      {ProgressBar_study, LabelPerStudy, nullptr, nullptr},
      {ProgressBar_dictation, LabelPerDictation, label_A_dictation, label_E_dictation},
      {ProgressBar_roleplay, LabelPerRolePlay, nullptr, nullptr},
      {ProgressBar_grammar, LabelPerGrammar, label_A_grammar, label_E_grammar},
      {ProgressBar_writing, LabelPerWriting, label_A_writing, label_E_writing},
      {ProgressBar_newwords, LabelNewWords, nullptr, nullptr},
      {ProgressBar_speaking, LabelPerSpeaking, label_A_speaking, nullptr},
  };
  if (part < 0 || part > 7) return;
  control->SeleccionarAuditoria(part);
  const int32_t answers = control->answersauditoria();
  const int32_t errors = control->errorsauditoria();
  const int32_t percent = control->porcentajeauditoria();
  percent_sum += static_cast<float>(percent);
  answers_sum = SaturatingAdd(answers_sum, answers);
  errors_sum = SaturatingAdd(errors_sum, errors);
  const Section& section = sections[part];
  section.percent->setText(Number(percent));
  if (section.answers != nullptr) section.answers->setText(Number(answers));
  if (section.errors != nullptr) section.errors->setText(Number(errors));
  // The label shows what was read; the gauge only goes from 0 to 100.
  section.gauge->SetProgress(percent);
}

std::string TForm1::FormatStudyTime(TAXeTAE* control) {
  char text[32];
  std::snprintf(text, sizeof(text), "%02d:%02d", control->tiempoactivohoras(),
                control->tiempoactivominutos());
  return text;
}

void TForm1::RefreshAuditPanel(TAXeTAE* control) {
  if (control == nullptr) return;
  float percent_sum = 0.0f;
  int answers_sum = 0;
  int errors_sum = 0;
  for (int part = 0; part < 8; ++part)
    ShowSectionAudit(control, part, percent_sum, answers_sum, errors_sum);
  const int total = TruncateToInt(percent_sum * 0.125f);
  LabelPerTotal->setText(Number(total));
  LabelTotalErrors->setText(Number(errors_sum));
  LabelTotalAnswer->setText(Number(answers_sum));
  qorUnit* entry = qorUnitsManager::Instance()->Entry(static_cast<uint32_t>(CurrentUnit));
  const std::string study_time = FormatStudyTime(control);
  if (entry != nullptr) {
    entry->percent = total;
    entry->answers = answers_sum;
    entry->errors = errors_sum;
    entry->hours = control->tiempoactivohoras();
    entry->minutes = control->tiempoactivominutos();
  }
  LabelTime->setText(QString::fromStdString(study_time));
}

void TForm1::Timer1Timer() {
  // A tick that falls while the window waits for the control is skipped,
  // and so is one while a box is open: the poll would enter the control from
  // the box's event loop, maybe in the middle of the call that asked for it.
  if (Busy() || closed_ || (ui_host_ && ui_host_->InBox()) ||
      QApplication::activeModalWidget() != nullptr)
    return;
  FormLockGuard lock;
  if (UnitLoaded) RefreshAuditPanel(Control());
  // A first load longer than the wait after CargarUnit left the counter at
  // 00 / 00: it is read again once the control has the unit's pages.
  TAXeTAE* control = Control();
  if (UnitLoaded && control != nullptr && LabelTotalPages->text() == "00" &&
      control->numtotalpaginas() > 0) {
    RefreshPageCounter();
  }
}

void TForm1::DestroyCaret() {
  AXeTAE1->DestroyCaret();
}

void TForm1::TurnPage(bool next) {
  TAXeTAE* control = Control();
  if (control == nullptr || Busy() || closed_) return;
  if (!UnitLoaded || !StudyTabActive) return;
  StudyTabActive = false;
  DestroyCaret();
  if (next) {
    control->PaginaSiguiente();
  } else {
    control->PaginaAnterior();
  }
  RefreshPageCounter();
  StudyTabActive = true;
}

void TForm1::KeyboardHookProc(const VirtualKey& key) {
  TAXeTAE* control = Control();
  if (control == nullptr || Busy() || closed_) return;
  if (key.code == kVkPrior || key.code == kVkNext) {
    TurnPage(key.code == kVkNext);
    return;
  }
  // Keys go to a control that has been handed a unit (the study tab also
  // shows when the chosen unit is not installed and nothing was loaded).
  if (!StudyTabActive || FirstLoad) return;
  KeyCharScope typed(AXeTAE1, key.typed);
  control->TeclaPulsada(key.code);
}

void TForm1::SectionButtonClick(int part) {
  TAXeTAE* control = Control();
  if (control == nullptr || Busy() || closed_) return;
  PanelFollowUp->hide();
  DestroyCaret();
  control->CambiarDeParte(part);
  if (part == 0) {
    control->EsperaFinEvento();
    control->PaginaSiguiente();
  }
  RefreshPageCounter();
}

void TForm1::ImageButtonFollowUpClick() {
  PanelFollowUp->setVisible(!PanelFollowUp->isVisible());
}

void TForm1::PageControl1Change(int index) {
  StudyTabActive = index == StudyPageIndex;
}

void TForm1::FormClose() {
  if (closed_) return;
  closed_ = true;
  Timer1->stop();
  // 1.
  if (hook_installed_) {
    qApp->removeEventFilter(keyboard_hook_);
    hook_installed_ = false;
  }
  // 2. The table reaches the disk before the control's last figures. A
  // table that could not be read at the start is not written over: it holds
  // the learner's results. Nor is it when the control refused its first
  // start (another program has this student's session): that program's
  // files stay as it leaves them.
  const std::string table = DataFolder + "units.alu";
  qorUnitsManager* units = qorUnitsManager::Instance();
  if (DataFolder.empty() || (control_given_up_ && !unit_studied_)) {
  } else if (units->LoadFailed()) {
    std::fprintf(stderr, "velarno: %s could not be read at the start: it is not saved\n",
                 table.c_str());
  } else if (!units->Save(table)) {
    std::fprintf(stderr, "velarno: cannot save %s\n", table.c_str());
  }
  // 3.
  PageControl1->setCurrentWidget(TabSheet2);
  // 4.
  if (control_) control_->UnloadAll();
  // 5., 6.
  qorFileManager::Release();
  qorUnitsManager::Release();
}
