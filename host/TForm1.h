// The main window: the top bar with its four tabs, the start page, the
// course map, the study tab hosting the lesson control with its page
// counter, section buttons, footers and statistics panel, and the help
// page. Its state and components are public, as the form's are.
//
//   TForm1.cpp          start-up, first paint, closing from outside
//   TForm1_control.cpp  hosting the lesson control
//   TForm1_map.cpp      the course map
//   TForm1_tabs.cpp     tabs, unit header and pages
#pragma once

#include <QImage>
#include <QRgb>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/TAXeTAE.h"
#include "host/qorLinks.h"
#include "host/qorUiHost.h"
#include "ui_TForm1.h"

class qorCriticalSection;
class qorKeyboardFilter;
struct VirtualKey;

// The lock of the main window's state, from the unit start-up to its
// shut-down (it outlives the window).
extern qorCriticalSection* FormLock;
// The start-up and shut-down of the main window's unit: the lock and the
// browser's navigation sound.
void MainUnitInitialize();
void MainUnitFinalize();
// Marks the moment the program began (the start-up trace counts from it).
void MarkProgramStart();

// Installs a pending self-update of the program folder. A restart it asks
// for ends the process (code 1) there and then; false otherwise.
bool ApplyStartupUpdate(const std::string& program_folder);

// Level colours of the map, the unit header and the gauges, and their light
// variants.
extern const std::array<QRgb, 6> LevelColours;
extern const std::array<QRgb, 6> LevelLightColours;

// What the window is built with; tests replace the pieces.
struct TForm1Services {
  // Makes the lesson control; null, with a reason, when it cannot be made.
  std::function<std::unique_ptr<TAXeTAE>(std::string& reason)> create_control = CreateAXeTAE;
  // Applies a pending self-update; true when a restart was started.
  std::function<bool(const std::string& program_folder)> apply_update = ApplyStartupUpdate;
  // Hands links to the desktop.
  ExternalOpener open_external = OpenWithDesktop;
  // Shows message boxes (empty: the Qt box).
  qorUiHost::BoxPresenter show_box;
};

class TForm1 : public QWidget, public Ui::TForm1 {
  Q_OBJECT

 public:
  static constexpr int kUnits = 144;

  explicit TForm1(TForm1Services services = TForm1Services(), QWidget* parent = nullptr);
  ~TForm1() override;

  // Constructor step 2 started an updated program: the caller ends with 1.
  bool RestartRequested() const { return restart_requested_; }

  // --- start-up state
  std::string DataFolder;
  std::array<bool, kUnits + 1> InstalledUnits{};
  std::string UnitPathPrefix;
  std::string HelpFilePath;
  std::string HelpPageUrl;
  std::string HelpHtml;

  // --- hosting the control
  bool UnitLoaded = false;
  bool StudyTabActive = false;
  int StudyPageIndex = 1;
  int ShownPart = -1;
  int CurrentUnit = 1;
  QTimer* Timer1 = nullptr;

  // --- course map
  int ShownLevel = 0;
  int LevelBase = 0;
  int HoverColumn = 0;
  int HoverRow = 0;
  int SelectedUnit = 1;

  // --- tabs
  bool FirstLoad = true;
  int CurrentLevel = 0;
  bool HelpBodyPending = true;

  // --- hosting the control
  bool LoadUnitIntoControl(TAXeTAE* control, const std::string& student, int unit);
  static bool CheckControlVersion(const std::string& version);
  void RefreshPageCounter();
  void RefreshAuditPanel(TAXeTAE* control);
  void ShowSectionAudit(TAXeTAE* control, int part, float& percent_sum, int& answers_sum,
                        int& errors_sum);
  static std::string FormatStudyTime(TAXeTAE* control);
  // The keyboard hook's work for one key press.
  void KeyboardHookProc(const VirtualKey& key);
  void Timer1Timer();
  void FormClose();
  void Image8Click() { SectionButtonClick(0); }
  void Image9Click() { SectionButtonClick(1); }
  void Image10Click() { SectionButtonClick(2); }
  void Image11Click() { SectionButtonClick(3); }
  void Image12Click() { SectionButtonClick(4); }
  void Image13Click() { SectionButtonClick(5); }
  void Image14Click() { SectionButtonClick(6); }
  void Image15Click() { SectionButtonClick(7); }
  void Image17Click() { TurnPage(false); }
  void Image18Click() { TurnPage(true); }
  void Image16Click() { close(); }
  void ImageButtonFollowUpClick();
  void ImageFollowUpClick() {}
  void PageControl1Change(int index);

  // --- course map
  void DrawCourseMap(int level);
  void DrawUnitTile(int unit);
  void DrawProgressBars(int unit, int percent);
  static void WrapTitle(const std::string& title, int width, std::string& first,
                        std::string& second);
  void Image20Click() { LevelButtonClick(0); }
  void Image21Click() { LevelButtonClick(1); }
  void Image22Click() { LevelButtonClick(2); }
  void Image23Click() { LevelButtonClick(3); }
  void Image24Click() { LevelButtonClick(4); }
  void Image25Click() { LevelButtonClick(5); }
  void ImageCanvasMouseMove(int x, int y);
  void ShapeSelectorMouseUp();
  void ImageButtonConoceClick();

  // --- tabs
  void ShowTab(int tab);
  void LabelInicioClick() { ShowTab(0); }
  void Image31Click() { ShowTab(1); }
  void Image4Click() { ShowTab(2); }
  void Image5Click() { ShowTab(3); }
  void ShowUnitHeader(int unit);
  void ShowLevelImage(int level);
  void SetSectionGaugeColour(int level);
  static std::string PathToFileUrl(const std::string& path);
  void IExplorerDownloadComplete();
  void Image2Click();

  // Closes the window as a user does, once nothing is in the middle of a
  // call to the control (a signal from outside asks for it).
  void CloseFromOutside();

  // The control, or null when there is none (never made, or given up).
  TAXeTAE* Control() const { return control_given_up_ ? nullptr : control_.get(); }
  qorUiHost* UiHost() const { return ui_host_.get(); }
  // The pictures the map is drawn from.
  QImage& WorkPicture() { return work_picture_; }
  const QImage& OverlayPicture() const { return overlay_picture_; }
  const QImage& ProgressFilledPicture() const { return progress_filled_; }
  const QImage& ProgressEmptyPicture() const { return progress_empty_; }
  // The footer image of a part (null outside 0..7).
  QWidget* FooterImage(int part) const;
  bool Closed() const { return closed_; }

 protected:
  // FormPaint.
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // TForm1.cpp
  void BuildForm();
  void ConnectHandlers();
  void LoadStartupPacks(const std::string& program_folder);
  void CreateControl();
  // The window waits for the control or is loading a unit: handlers that
  // would call the control again stay out.
  bool Busy() const;

  // TForm1_control.cpp
  void SectionButtonClick(int part);
  void TurnPage(bool next);
  void DestroyCaret();

  // TForm1_map.cpp
  void LevelButtonClick(int level);
  void DrawTile(QPainter& painter, int slot);
  void OpenShellLink(const std::string& link);

  TForm1Services services_;
  std::shared_ptr<qorUiHost> ui_host_;
  std::unique_ptr<TAXeTAE> control_;
  bool control_given_up_ = false;
  // A unit reached the control in this run: the results table may hold
  // figures of this run to save.
  bool unit_studied_ = false;
  qorKeyboardFilter* keyboard_hook_ = nullptr;
  bool hook_installed_ = false;
  bool restart_requested_ = false;
  bool first_paint_ = true;
  bool loading_ = false;
  bool closed_ = false;
  bool close_pending_ = false;
  QImage work_picture_;
  QImage overlay_picture_;
  QImage overlay_clear_;  // the overlay with its black made clear
  QImage progress_filled_;
  QImage progress_empty_;
};
