#include "platform/ui/UiHost.h"

#include <mutex>

#include "platform/MessageBox.h"

namespace platform::ui {
namespace {

std::mutex g_mutex;
std::shared_ptr<IUiHost> g_host;

}  // namespace

void SetUiHost(std::shared_ptr<IUiHost> host) {
  // One lock over both steps, so two installs cannot leave the host of one
  // with the sink of the other.
  std::lock_guard<std::mutex> lock(g_mutex);
  g_host = host;
  if (host == nullptr) {
    platform::SetMessageSink(nullptr);
    return;
  }
  // The sink owns a reference of its own. The message layer copies the sink
  // under its lock before calling it, so a box in progress keeps the host
  // alive whatever happens to the installed one meanwhile.
  platform::SetMessageSink(
      [host = std::move(host)](const std::string& text, const std::string& caption, unsigned type) {
        return host->ShowMessageBox(text, caption, type);
      });
}

std::shared_ptr<IUiHost> UiHost() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_host;
}

}  // namespace platform::ui
