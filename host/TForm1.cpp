// The main window's start-up: its unit's globals, the form and its pictures,
// the constructor's steps in order, the first paint and closing from outside.
#include "host/TForm1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QPainter>
#include <QScreen>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "host/qorAnsi.h"
#include "host/qorDisconnectSoundIE.h"
#include "host/qorFileManager.h"
#include "host/qorFormPictures.h"
#include "host/qorKeyboardFilter.h"
#include "host/qorProgramFolder.h"
#include "host/qorTexts.h"
#include "host/qorUnitsManager.h"
#include "host/qorUpdate.h"
#include "host/qorUtils.h"

qorCriticalSection* FormLock = nullptr;

namespace {

std::unique_ptr<qorDisconnectSoundIE> g_sound;
auto g_program_start = std::chrono::steady_clock::now();

const char* const kLevelNames[6] = {"Beginners",          "Low Intermediate", "Intermediate",
                                    "Upper Intermediate", "Advanced",         "Business"};
const char* const kSectionNames[8] = {"Situation", "Study",   "Dictation", "Role play",
                                      "Grammar",   "Writing", "New words", "Speaking"};

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

void SetBackground(QWidget* widget, QColor colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, colour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

void SetTextColour(QWidget* widget, QColor colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  widget->setPalette(palette);
}

// A pack picture into a form picture; a missing member leaves it as it was.
// One larger than its place is shown whole, scaled down and centred.
void LoadPackPicture(const std::string& member, QLabel* label) {
  QImage image;
  LoadPackBitmap(member, image);
  if (image.isNull()) return;
  label->setAlignment(Qt::AlignCenter);
  label->setPixmap(QPixmap::fromImage(qorFormPictures::FitInside(image, label->size())));
}

void Connect(qorClickLabel* label, TForm1* form, void (TForm1::*handler)()) {
  QObject::connect(label, &qorClickLabel::clicked, form, handler);
}

}  // namespace

bool ApplyStartupUpdate(const std::string& program_folder) {
  // When a restart is due and the new program starts, this does not return.
  ApplyPendingUpdate(program_folder);
  return false;
}

void MarkProgramStart() {
  g_program_start = std::chrono::steady_clock::now();
}

void MainUnitInitialize() {
  ForgetHostTexts();
  g_sound = std::make_unique<qorDisconnectSoundIE>();
  FormLock = new qorCriticalSection;
}

void MainUnitFinalize() {
  ForgetHostTexts();
  delete FormLock;
  FormLock = nullptr;
  g_sound.reset();
  qorFileManager::Release();
  qorUnitsManager::Release();
}

TForm1::TForm1(TForm1Services services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)) {
  // 1. The form and its components; the control gets its window.
  BuildForm();
  CreateControl();
  const std::string folder = ProgramFolder();
  // 2. A pending self-update; a restart ends the program here.
  if (services_.apply_update && services_.apply_update(folder)) {
    restart_requested_ = true;
    return;
  }
  // 3. The keyboard hook.
  keyboard_hook_ = new qorKeyboardFilter(
      this, [this](const VirtualKey& key) { KeyboardHookProc(key); }, this);
  qApp->installEventFilter(keyboard_hook_);
  hook_installed_ = true;
  // 4. No maximise button.
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);
  LoadStartupPacks(folder);
}

TForm1::~TForm1() {
  if (hook_installed_) qApp->removeEventFilter(keyboard_hook_);
  AXeTAE1->SetControl(nullptr);
  control_.reset();
  if (platform::ui::UiHost() == ui_host_) platform::ui::SetUiHost(nullptr);
}

void TForm1::BuildForm() {
  setupUi(this);
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(11);
  setFont(font);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setFixedSize(780, 653);
  // The pages lie inside the page control's border.
  PageControl1->setContentsMargins(4, 4, 4, 4);
  Panel1->lower();

  Timer1 = new QTimer(this);
  Timer1->setInterval(500);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);

  namespace pictures = qorFormPictures;
  Image1->setPixmap(pictures::TopBar(Image1->width(), Image1->height()));
  Image2->setPixmap(pictures::Logo(Image2->width(), Image2->height()));
  Image2->setCursor(Qt::PointingHandCursor);
  for (QLabel* tab : {Image26, Image31, Image4, Image5})
    tab->setPixmap(pictures::TabButton(tab->width(), tab->height()));
  ImageLabelOn->setPixmap(pictures::TabIndicator(ImageLabelOn->width(), ImageLabelOn->height()));
  for (QLabel* label : {LabelInicio, LabelIndice, LabelAreaEstudio, LabelHelp}) {
    SetTextColour(label, QColor(31, 53, 80));
    label->setCursor(Qt::PointingHandCursor);
  }

  QLabel* const level_buttons[6] = {Image34, Image39, Image40, Image41, Image42, Image43};
  QLabel* const badges[6] = {ImageLevelBeginners,    ImageLeveLowIntermediate,
                             ImageLevelIntermediate, ImageLevelUpperIntermediate,
                             ImageLevelAdvanced,     ImageLevelBusiness};
  for (int level = 0; level < 6; ++level) {
    const QColor colour = QColor::fromRgb(LevelColours[level]);
    level_buttons[level]->setPixmap(pictures::LevelButton(
        level_buttons[level]->width(), level_buttons[level]->height(), colour, kLevelNames[level]));
    level_buttons[level]->setCursor(Qt::PointingHandCursor);
    badges[level]->setPixmap(pictures::LevelBadge(badges[level]->width(), badges[level]->height(),
                                                  colour, kLevelNames[level]));
  }

  ImageMenuBar->setPixmap(pictures::MenuBar(ImageMenuBar->width(), ImageMenuBar->height(),
                                            QColor::fromRgb(LevelColours[0]), 8, 66));
  QLabel* const sections[8] = {Image8,  Image9,  Image10, Image11,
                               Image12, Image13, Image14, Image15};
  for (int part = 0; part < 8; ++part) {
    sections[part]->setPixmap(pictures::SectionButton(
        sections[part]->width(), sections[part]->height(), part + 1, kSectionNames[part]));
    sections[part]->setCursor(Qt::PointingHandCursor);
  }
  Image17->setPixmap(pictures::PageButton(Image17->width(), Image17->height(), false));
  Image18->setPixmap(pictures::PageButton(Image18->width(), Image18->height(), true));
  Image16->setPixmap(pictures::CloseButton(Image16->width(), Image16->height()));
  ImageButtonFollowUp->setPixmap(
      pictures::FollowUpButton(ImageButtonFollowUp->width(), ImageButtonFollowUp->height()));
  for (QLabel* button : {Image17, Image18, Image16, ImageButtonFollowUp})
    button->setCursor(Qt::PointingHandCursor);
  ImageFollowUp->setPixmap(pictures::PanelTitle(ImageFollowUp->width(), ImageFollowUp->height(),
                                                FromAnsi(MainText(10))));
  SetBackground(PanelFollowUp, Qt::white);

  struct Footer {
    QLabel* label;
    const char* title;
    const char* text;
  };
  const Footer footers[] = {
      {ImageFootSituation, "Situation",
       "Escuche el di\xC3\xA1logo y f\xC3\xADjese en la situaci\xC3\xB3n."},
      {ImageFootStudyGrammarNewWords, "Study",
       "Pulse sobre las frases para escucharlas y grabe su voz para compararla."},
      {ImageFootDictation, "Dictation",
       "Escuche cada frase y escr\xC3\xAD"
       "bala en su hueco."},
      {ImageFootRolePlay, "Role play",
       "Elija un personaje y diga sus frases en el di\xC3\xA1logo."},
      {ImageFootWriting, "Writing",
       "Escriba sus respuestas y compru\xC3\xA9"
       "belas."},
      {ImageFootSpeaking, "Speaking", "Grabe su voz y comp\xC3\xA1rela con la original."},
  };
  for (const Footer& footer : footers)
    footer.label->setPixmap(pictures::Footer(footer.label->width(), footer.label->height(),
                                             QString::fromUtf8(footer.title),
                                             QString::fromUtf8(footer.text)));
  ImageTip1->setPixmap(pictures::KeysTip(ImageTip1->width(), ImageTip1->height(),
                                         QStringLiteral("Re P\u00E1g"),
                                         QStringLiteral("Av P\u00E1g")));
  ImageButtonConoce->setPixmap(
      pictures::RoundButton(ImageButtonConoce->width(), ImageButtonConoce->height()));
  SetTextColour(LabelConoce, Qt::white);
  LabelConoce->setCursor(Qt::PointingHandCursor);

  // The map's pictures: the tile scratch picture, the overlay of units not
  // installed (black is clear) and the two progress-bar pieces.
  overlay_picture_ = pictures::NotInstalledOverlay(120, 74, QStringLiteral("No instalada"));
  progress_filled_ =
      pictures::ProgressFilled(ImageProgressBar->width(), ImageProgressBar->height());
  progress_empty_ =
      pictures::ProgressEmpty(ImageProgressBar2->width(), ImageProgressBar2->height());
  ImageXor->setPixmap(QPixmap::fromImage(overlay_picture_));
  overlay_clear_ = overlay_picture_.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < overlay_clear_.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(overlay_clear_.scanLine(y));
    for (int x = 0; x < overlay_clear_.width(); ++x)
      if ((row[x] & 0x00FFFFFFu) == 0) row[x] = 0;
  }
  ImageProgressBar->setPixmap(QPixmap::fromImage(progress_filled_));
  ImageProgressBar2->setPixmap(QPixmap::fromImage(progress_empty_));
  ImageCanvas->SetPictureSize(PanelUnitsContainer->width(), PanelUnitsContainer->height());

  ConnectHandlers();

  // Centred on the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TForm1::ConnectHandlers() {
  Connect(Image2, this, &TForm1::Image2Click);
  Connect(Image26, this, &TForm1::LabelInicioClick);
  Connect(LabelInicio, this, &TForm1::LabelInicioClick);
  Connect(Image31, this, &TForm1::Image31Click);
  Connect(LabelIndice, this, &TForm1::Image31Click);
  Connect(Image4, this, &TForm1::Image4Click);
  Connect(LabelAreaEstudio, this, &TForm1::Image4Click);
  Connect(Image5, this, &TForm1::Image5Click);
  Connect(LabelHelp, this, &TForm1::Image5Click);

  Connect(Image8, this, &TForm1::Image8Click);
  Connect(Image9, this, &TForm1::Image9Click);
  Connect(Image10, this, &TForm1::Image10Click);
  Connect(Image11, this, &TForm1::Image11Click);
  Connect(Image12, this, &TForm1::Image12Click);
  Connect(Image13, this, &TForm1::Image13Click);
  Connect(Image14, this, &TForm1::Image14Click);
  Connect(Image15, this, &TForm1::Image15Click);
  Connect(Image17, this, &TForm1::Image17Click);
  Connect(Image18, this, &TForm1::Image18Click);
  Connect(Image16, this, &TForm1::Image16Click);
  Connect(ImageButtonFollowUp, this, &TForm1::ImageButtonFollowUpClick);
  Connect(ImageFollowUp, this, &TForm1::ImageFollowUpClick);
  connect(PageControl1, &QStackedWidget::currentChanged, this, &TForm1::PageControl1Change);

  Connect(Image34, this, &TForm1::Image20Click);
  Connect(Image39, this, &TForm1::Image21Click);
  Connect(Image40, this, &TForm1::Image22Click);
  Connect(Image41, this, &TForm1::Image23Click);
  Connect(Image42, this, &TForm1::Image24Click);
  Connect(Image43, this, &TForm1::Image25Click);
  connect(ImageCanvas, &qorCanvasImage::MouseMoved, this, &TForm1::ImageCanvasMouseMove);
  connect(ShapeSelector, &qorShape::MouseUp, this, &TForm1::ShapeSelectorMouseUp);
  Connect(ImageButtonConoce, this, &TForm1::ImageButtonConoceClick);
  Connect(LabelConoce, this, &TForm1::ImageButtonConoceClick);

  connect(IExplorer, &TCppWebBrowser::DownloadComplete, this, &TForm1::IExplorerDownloadComplete);
  for (TCppWebBrowser* view : {IE_Start, IExplorer}) {
    connect(view, &TCppWebBrowser::LinkClicked, this, [this, view](const QUrl& link) {
      OpenLink(link.toString(), view->PageUrl(), view, ProgramFolder(), services_.open_external);
    });
  }
}

void TForm1::CreateControl() {
  ui_host_ = std::make_shared<qorUiHost>(this);
  if (services_.show_box) ui_host_->SetBoxPresenter(services_.show_box);
  ui_host_->AttachSite(AXeTAE1);
  AXeTAE1->SetUiHost(ui_host_);
  platform::ui::SetUiHost(ui_host_);
  std::string reason = "no way to create it";
  if (services_.create_control) control_ = services_.create_control(reason);
  if (control_ && !control_->CreateWindow(AXeTAE1, ui_host_, reason)) control_.reset();
  if (!control_)
    std::fprintf(stderr, "velarno: the lesson control cannot be created: %s\n", reason.c_str());
  AXeTAE1->SetControl(control_.get());
}

void TForm1::LoadStartupPacks(const std::string& folder) {
  qorFileManager* files = qorFileManager::Instance();
  qorUnitsManager* units = qorUnitsManager::Instance();

  // 5. The unit progress table.
  DataFolder = folder + "data/";
  units->Load(DataFolder + "units.alu");

  // 6. Paths.
  HelpFilePath = folder + "data/hlp/hlp.htm";
  const std::string pictures_pack = folder + "data/skin.dat";
  const std::string texts_pack = folder + "data/skin.fat";
  const std::string titles_pack = folder + "data/skin0.fat";
  const std::string tiles_pack = folder + "data/skin0.dat";
  UnitPathPrefix = folder + "data/unit";
  HelpPageUrl = PathToFileUrl(folder + "data/abk.DAT");

  // 7. The pictures pack.
  if (Exists(pictures_pack)) {
    files->OpenArchive("IMAGE", pictures_pack);
    files->SelectArchive("IMAGE");
    files->SetAlias("0", "IMAGE");
    LoadPackPicture("0:tip-1-fr_1.bmp", ImageTip1);
    LoadPackPicture("0:tip-situation-fr_1.bmp", ImageFootSituation);
    LoadPackPicture("0:tip-dictation-fr_1.bmp", ImageFootDictation);
    LoadPackPicture("0:tip-study-grammar-newwords-fr_1.bmp", ImageFootStudyGrammarNewWords);
    LoadPackPicture("0:tip-roleplay-fr_1.bmp", ImageFootRolePlay);
    LoadPackPicture("0:tip-writing-fr_1.bmp", ImageFootWriting);
    LoadPackPicture("0:tip-speaking-fr_1.bmp", ImageFootSpeaking);
  }

  // 8. Installed units: both volume files exist.
  InstalledUnits.fill(false);
  for (int n = 1; n <= kUnits; ++n) {
    char name[16];
    std::snprintf(name, sizeof(name), "%03d.FAT", n);
    if (!Exists(UnitPathPrefix + name)) continue;
    std::snprintf(name, sizeof(name), "%03d.DAT", n);
    InstalledUnits[n] = Exists(UnitPathPrefix + name);
  }

  // 9. The texts pack and the help page.
  const bool help_file = Exists(HelpFilePath);
  if (Exists(texts_pack)) {
    files->OpenArchive("TEXT", texts_pack);
    files->SetAlias("1", "TEXT");
    files->SelectArchive("TEXT");
    LoadHostTexts();
    if (!help_file) {
      if (auto help = LoadPackMember("1:help.txt")) {
        for (const std::string& line : SplitLines(std::string(help->begin(), help->end())))
          HelpHtml += line;
      } else {
        HelpHtml += BuiltInHelpHtml();
      }
    }
    LabelConoce->setText(FromAnsi(MainText(18)));
    LabelInicio->setText(FromAnsi(MainText(6)));
    LabelIndice->setText(FromAnsi(MainText(7)));
    LabelAreaEstudio->setText(FromAnsi(MainText(8)));
    LabelHelp->setText(FromAnsi(MainText(9)));
  } else if (!help_file) {
    HelpHtml = BuiltInHelpHtml();
  }

  // 10. Unit titles: line i names unit i + 1.
  if (Exists(titles_pack)) {
    files->OpenArchive("TXT", titles_pack);
    files->SelectArchive("TXT");
    files->SetAlias("2", "TXT");
    if (auto titles = LoadPackMember("2:unit_text.txt")) {
      const auto lines = SplitLines(std::string(titles->begin(), titles->end()));
      for (size_t i = 0; i < lines.size(); ++i)
        units->SetUnitName(lines[i].c_str(), static_cast<uint32_t>(i + 1));
    }
  }

  // 11. Unit pictures.
  if (Exists(tiles_pack)) {
    files->OpenArchive("BMP", tiles_pack);
    files->SelectArchive("BMP");
    files->SetAlias("3", "BMP");
    DrawCourseMap(0);
  }

  // 12.
  SetBackground(this, Qt::white);
  ShowTab(0);
  PageControl1->setCurrentWidget(TabSheet3);
  ShowUnitHeader(1);
  // 13.
  ShapeSelector->setGeometry(16, 4, 120, 120);
  // 14.
  // By path, as the start page: the URL form keeps a '#', '?' or '%' of the
  // program folder's path unescaped.
  IExplorer->Navigate(QString::fromStdString(folder + "data/abk.DAT"));
  // 15.
  Image20Click();
  // 16.
  AXeTAE1->resize(qorControlSite::kWidth, qorControlSite::kHeight);
  // 17.
  IE_Start->Navigate(QString::fromStdString(folder + "data/doc/st.htm"));
  // 18.
  if (help_file) IExplorer->Navigate(QString::fromStdString(HelpFilePath));
}

bool TForm1::Busy() const {
  return loading_ || (ui_host_ && ui_host_->InWait());
}

void TForm1::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (!first_paint_) return;
  first_paint_ = false;
  Timer1->start();
  const char* trace = std::getenv("VELARNO_STARTUP_TRACE");
  if (trace != nullptr && *trace != '\0' && std::string(trace) != "0") {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - g_program_start)
                        .count();
    std::fprintf(stderr, "velarno: first paint after %lld ms\n", static_cast<long long>(ms));
    std::fflush(stderr);
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TForm1::CloseFromOutside() {
  if (closed_) return;
  const bool busy = Busy() || ui_host_->InBox() || QApplication::activeModalWidget() != nullptr;
  if (!busy) {
    close();
    return;
  }
  // Boxes are answered with their first button; the close comes once the
  // call that showed them has returned.
  ui_host_->DismissBoxes();
  // Any other box (the one an exception is shown in) is closed as its
  // close button would, or the window would wait for it for ever.
  if (!ui_host_->InBox()) {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
  }
  if (close_pending_) return;
  close_pending_ = true;
  QTimer::singleShot(50, this, [this] {
    close_pending_ = false;
    CloseFromOutside();
  });
}
