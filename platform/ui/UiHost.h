// The UI host: what the engine needs of the program's GUI thread.
//
// Process-wide. Timers fire on the GUI thread. While the engine blocks the GUI
// thread (waiting for its command worker), WaitOnGuiThread keeps the program
// alive: it repaints what workers present and shows the message boxes that
// workers ask for, without handling input. Message boxes can be asked for from
// any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform::ui {

class IUiHost {
 public:
  using TimerId = uint32_t;

  virtual ~IUiHost() = default;

  // A repeating timer whose tick runs on the GUI thread; 0 when none can be made.
  virtual TimerId SetTimer(uint32_t interval_ms, std::function<void()> tick) = 0;
  // Stops a timer; false when there is no such timer.
  virtual bool KillTimer(TimerId id) = 0;

  // Called on the GUI thread: returns when done() is true (true) or when
  // timeout_ms have passed (false), serving repaints and boxes meanwhile.
  virtual bool WaitOnGuiThread(const std::function<bool()>& done, uint32_t timeout_ms) = 0;
  // Tells a GUI-thread wait to look at done() again now.
  virtual void Wake() = 0;

  // Shows a box from any thread and gives the button pressed.
  virtual int ShowMessageBox(const std::string& text, const std::string& caption,
                             unsigned type) = 0;

  // The folder for temporary files, with a trailing separator.
  virtual std::string TempFolder() = 0;
};

// Installs the process's host (null removes it). While a host is installed
// the process's message boxes (platform::ShowMessageBox) go to it. The host is
// held by shared ownership: a box being shown keeps its own reference, so
// removing or dropping the host while a worker is inside a box is safe.
void SetUiHost(std::shared_ptr<IUiHost> host);
std::shared_ptr<IUiHost> UiHost();

}  // namespace platform::ui
