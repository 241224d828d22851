#include "platform/ui/UiHost.h"

#include <atomic>

#include "platform/MessageBox.h"

namespace platform::ui {
namespace {
std::atomic<IUiHost*> g_host{nullptr};
}

void SetUiHost(IUiHost* host) {
  g_host.store(host);
  if (host == nullptr) {
    platform::SetMessageSink(nullptr);
    return;
  }
  platform::SetMessageSink(
      [host](const std::string& text, const std::string& caption, unsigned type) {
        return host->ShowMessageBox(text, caption, type);
      });
}

IUiHost* UiHost() {
  return g_host.load();
}

}  // namespace platform::ui
