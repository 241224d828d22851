#include "platform/MessageBox.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
MessageSink g_sink;
ExitHook g_exit_hook;

int StderrSink(const std::string& text, const std::string& caption, unsigned type) {
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  return DefaultButton(type);
}

}  // namespace

int DefaultButton(unsigned type) {
  switch (type & 0xF) {
    case kMbAbortRetryIgnore:
      return kIdAbort;
    case kMbYesNoCancel:
    case kMbYesNo:
      return kIdYes;
    case kMbRetryCancel:
      return kIdRetry;
    default:
      return kIdOk;
  }
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) {
  MessageSink sink;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    sink = g_sink;
  }
  // The sink runs outside the lock: it may block until the user answers.
  return sink ? sink(text, caption, type) : StderrSink(text, caption, type);
}

void SetMessageSink(MessageSink sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sink = std::move(sink);
}

void ExitProcess(int code) {
  ExitHook hook;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    hook = g_exit_hook;
  }
  if (hook) {
    hook(code);
    return;
  }
  std::fflush(nullptr);
  std::exit(code);
}

void SetExitHook(ExitHook hook) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_exit_hook = std::move(hook);
}

}  // namespace platform
