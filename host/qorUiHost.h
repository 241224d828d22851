// The UI host on Qt: the engine's timers as QTimers on the GUI thread, the
// GUI-thread wait that keeps the control window painted and serves the boxes
// workers ask for, and message boxes from any thread, owned by the main
// window.
#pragma once

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ui/UiHost.h"

class QMessageBox;
class QTimer;
class QWidget;
class qorControlSite;

class qorUiHost : public QObject, public platform::ui::IUiHost {
  Q_OBJECT

 public:
  // Shows a box owned by the window (null: none) and gives the button
  // pressed (platform::kIdOk ...).
  using BoxPresenter = std::function<int(QWidget* owner, const std::string& text,
                                         const std::string& caption, unsigned type)>;

  explicit qorUiHost(QWidget* owner = nullptr);
  ~qorUiHost() override;

  TimerId SetTimer(uint32_t interval_ms, std::function<void()> tick) override;
  bool KillTimer(TimerId id) override;
  bool WaitOnGuiThread(const std::function<bool()>& done, uint32_t timeout_ms) override;
  void Wake() override;
  int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) override;
  std::string TempFolder() override;

  // The control window repainted during waits (GUI thread).
  void AttachSite(qorControlSite* site);
  // A site's front image changed (any thread).
  void NotifyPresent();
  // Replaces how boxes are shown (tests); an empty function restores the Qt box.
  void SetBoxPresenter(BoxPresenter presenter);

  // GUI thread: inside WaitOnGuiThread, or showing a box.
  bool InWait() const { return wait_depth_ > 0; }
  bool InBox() const { return box_depth_ > 0; }
  // Answers every box open on the GUI thread with its first button (the
  // program is being closed from outside).
  void DismissBoxes();
  // Boxes workers asked for that have not been shown yet.
  size_t PendingBoxes();

  // The Qt box: buttons and icon from the type, plain text, owned by owner.
  static int ShowQtBox(QWidget* owner, const std::string& text, const std::string& caption,
                       unsigned type);

  // Shows the boxes workers asked for (queued to the GUI thread by name, so
  // nothing of the request passes through Qt's queue).
  Q_INVOKABLE void ServeBoxes();

 private:
  struct BoxRequest {
    std::string text;
    std::string caption;
    unsigned type = 0;
    std::promise<int> answer;
  };

  bool OnGuiThread() const;
  int Present(const std::string& text, const std::string& caption, unsigned type);
  void Signal();

  QPointer<QWidget> owner_;
  QPointer<qorControlSite> site_;
  BoxPresenter presenter_;
  std::map<TimerId, QTimer*> timers_;
  TimerId next_timer_ = 1;
  int wait_depth_ = 0;
  int box_depth_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t signals_ = 0;  // wakes, presents and box requests seen so far
  bool closed_ = false;
  std::deque<std::shared_ptr<BoxRequest>> requests_;
};
