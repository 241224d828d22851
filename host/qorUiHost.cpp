#include "host/qorUiHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <exception>
#include <utility>
#include <vector>

#include "host/qorAnsi.h"
#include "host/qorControlSite.h"
#include "platform/MessageBox.h"
#include "platform/TempFolder.h"

namespace {

// Boxes the Qt presenter has open, innermost last (GUI thread only).
std::vector<QPointer<QMessageBox>> g_open_boxes;

constexpr auto kPoll = std::chrono::milliseconds(20);

struct DepthGuard {
  explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  int& depth_;
};

QMessageBox::StandardButtons ButtonsOf(unsigned type) {
  switch (type & 0xF) {
    case platform::kMbOkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case platform::kMbAbortRetryIgnore:
      return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case platform::kMbYesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case platform::kMbYesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case platform::kMbRetryCancel:
      return QMessageBox::Retry | QMessageBox::Cancel;
    default:
      return QMessageBox::Ok;
  }
}

// The platform's button identifiers and the Qt buttons they stand for.
constexpr std::pair<int, QMessageBox::StandardButton> kButtons[] = {
    {platform::kIdOk, QMessageBox::Ok},         {platform::kIdCancel, QMessageBox::Cancel},
    {platform::kIdAbort, QMessageBox::Abort},   {platform::kIdRetry, QMessageBox::Retry},
    {platform::kIdIgnore, QMessageBox::Ignore}, {platform::kIdYes, QMessageBox::Yes},
    {platform::kIdNo, QMessageBox::No}};

QMessageBox::StandardButton ButtonOfId(int id) {
  for (const auto& [known, button] : kButtons)
    if (known == id) return button;
  return QMessageBox::Ok;
}

int IdOfButton(QMessageBox::StandardButton button, unsigned type) {
  for (const auto& [id, known] : kButtons)
    if (known == button) return id;
  return platform::DefaultButton(type);
}

QMessageBox::Icon IconOf(unsigned type) {
  switch (type & 0xF0) {
    case platform::kMbIconError:
      return QMessageBox::Critical;
    case platform::kMbIconQuestion:
      return QMessageBox::Question;
    case platform::kMbIconWarning:
      return QMessageBox::Warning;
    case platform::kMbIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

int StderrBox(const std::string& text, const std::string& caption, unsigned type) {
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  return platform::DefaultButton(type);
}

}  // namespace

qorUiHost::qorUiHost(QWidget* owner) : owner_(owner) {}

qorUiHost::~qorUiHost() {
  std::deque<std::shared_ptr<BoxRequest>> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    left.swap(requests_);
  }
  // A worker still waiting for its box gets the first button.
  for (auto& request : left) request->answer.set_value(platform::DefaultButton(request->type));
  for (auto& [id, timer] : timers_) delete timer;
}

bool qorUiHost::OnGuiThread() const {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

platform::ui::IUiHost::TimerId qorUiHost::SetTimer(uint32_t interval_ms,
                                                   std::function<void()> tick) {
  // Timers live on the GUI thread; the engine makes them there.
  if (!tick || !OnGuiThread()) return 0;
  const TimerId id = next_timer_++;
  auto* timer = new QTimer;
  timer->setInterval(static_cast<int>(std::min<uint32_t>(interval_ms, 0x7FFFFFFF)));
  QObject::connect(timer, &QTimer::timeout, this, [this, tick = std::move(tick)] {
    // A tick that falls while the GUI thread waits for the engine is
    // skipped: the engine is in the middle of a call. So is one that falls
    // inside a box's event loop: the box may have been asked for in the
    // middle of an engine call, which must not be entered again.
    if (wait_depth_ > 0 || box_depth_ > 0) return;
    try {
      tick();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "velarno: timer tick failed: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "velarno: timer tick failed\n");
    }
  });
  timer->start();
  timers_[id] = timer;
  return id;
}

bool qorUiHost::KillTimer(TimerId id) {
  if (!OnGuiThread()) return false;
  auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  it->second->stop();
  it->second->deleteLater();  // the tick being run may be this timer's
  timers_.erase(it);
  return true;
}

void qorUiHost::Signal() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++signals_;
  }
  changed_.notify_all();
}

void qorUiHost::Wake() {
  Signal();
}

void qorUiHost::NotifyPresent() {
  Signal();
}

void qorUiHost::AttachSite(qorControlSite* site) {
  site_ = site;
}

void qorUiHost::SetBoxPresenter(BoxPresenter presenter) {
  presenter_ = std::move(presenter);
}

bool qorUiHost::WaitOnGuiThread(const std::function<bool()>& done, uint32_t timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  const bool gui = OnGuiThread();
  DepthGuard depth(wait_depth_);
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen = signals_;
    }
    if (done()) return true;
    if (gui) {
      // No input and no timers run here: only what the engine's workers
      // need of this thread, their frames and their boxes.
      ServeBoxes();
      if (site_) site_->RepaintIfChanged();
      if (done()) return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return done();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_until(lock, std::min(deadline, now + kPoll), [&] { return signals_ != seen; });
  }
}

int qorUiHost::Present(const std::string& text, const std::string& caption, unsigned type) {
  DepthGuard depth(box_depth_);
  if (presenter_) return presenter_(owner_.data(), text, caption, type);
  return ShowQtBox(owner_.data(), text, caption, type);
}

void qorUiHost::ServeBoxes() {
  for (;;) {
    std::shared_ptr<BoxRequest> request;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (requests_.empty()) return;
      request = requests_.front();
      requests_.pop_front();
    }
    int answer = platform::DefaultButton(request->type);
    try {
      answer = Present(request->text, request->caption, request->type);
    } catch (...) {
      // The worker still gets an answer.
    }
    request->answer.set_value(answer);
  }
}

int qorUiHost::ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) {
  if (QApplication::instance() == nullptr) return StderrBox(text, caption, type);
  if (OnGuiThread()) return Present(text, caption, type);
  auto request = std::make_shared<BoxRequest>();
  request->text = text;
  request->caption = caption;
  request->type = type;
  std::future<int> answer = request->answer.get_future();
  {
    // All under the lock: once it is released the host may go (its
    // destructor then answers the request), and only the request is used.
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return platform::DefaultButton(type);
    requests_.push_back(request);
    ++signals_;
    changed_.notify_all();
    // Served by a GUI-thread wait, or by the event loop when the GUI thread
    // is not waiting.
    QMetaObject::invokeMethod(this, "ServeBoxes", Qt::QueuedConnection);
  }
  return answer.get();
}

std::string qorUiHost::TempFolder() {
  return platform::TempFolder();
}

size_t qorUiHost::PendingBoxes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

void qorUiHost::DismissBoxes() {
  for (auto it = g_open_boxes.rbegin(); it != g_open_boxes.rend(); ++it) {
    QMessageBox* box = it->data();
    if (box == nullptr) continue;
    const QList<QAbstractButton*> buttons = box->buttons();
    QAbstractButton* first = box->defaultButton() != nullptr
                                 ? static_cast<QAbstractButton*>(box->defaultButton())
                                 : (buttons.isEmpty() ? nullptr : buttons.front());
    if (first != nullptr) first->click();
  }
}

int qorUiHost::ShowQtBox(QWidget* owner, const std::string& text, const std::string& caption,
                         unsigned type) {
  QMessageBox box(IconOf(type), FromAnsi(caption), FromAnsi(text), ButtonsOf(type), owner);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(ButtonOfId(platform::DefaultButton(type)));
  g_open_boxes.emplace_back(&box);
  box.exec();
  g_open_boxes.pop_back();
  QAbstractButton* clicked = box.clickedButton();
  if (clicked == nullptr) return platform::DefaultButton(type);
  return IdOfButton(box.standardButton(clicked), type);
}
