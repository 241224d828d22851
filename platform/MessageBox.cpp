#include "platform/MessageBox.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <utility>

namespace platform {
namespace {

std::mutex g_mutex;
MessageSink g_sink;
ExitHook g_exit_hook;

struct PutOffBox {
  std::string text;
  std::string caption;
  unsigned type;
};

// Per thread: engine locks held, the boxes put off meanwhile, and whether
// they are being shown (a box's own locks must not start a second round).
thread_local int t_locks_held = 0;
thread_local std::deque<PutOffBox> t_put_off;
thread_local bool t_showing_put_off = false;

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

namespace {

int Deliver(const std::string& text, const std::string& caption, unsigned type) {
  MessageSink sink;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    sink = g_sink;
  }
  // The sink runs outside the lock: it may block until the user answers.
  return sink ? sink(text, caption, type) : StderrSink(text, caption, type);
}

// At the process's end the boxes are shown even under a lock (a fault of
// the caller that a test sink sees), rather than lost.
void ShowPutOff(bool ending = false) {
  if (t_showing_put_off) return;  // the round in progress shows the rest
  t_showing_put_off = true;
  while (!t_put_off.empty() && (t_locks_held == 0 || ending)) {
    PutOffBox box = std::move(t_put_off.front());
    t_put_off.pop_front();
    try {
      Deliver(box.text, box.caption, box.type);
    } catch (...) {
      // A sink that throws loses that box only.
    }
  }
  t_showing_put_off = false;
}

}  // namespace

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) {
  if (t_locks_held > 0 && (type & 0xF) == kMbOk) {
    for (const PutOffBox& box : t_put_off)
      if (box.text == text && box.caption == caption) return kIdOk;
    t_put_off.push_back(PutOffBox{text, caption, type});
    return kIdOk;
  }
  return Deliver(text, caption, type);
}

void EngineLockTaken() {
  ++t_locks_held;
}

void EngineLockReleased() {
  if (t_locks_held > 0) --t_locks_held;
  if (t_locks_held == 0 && !t_put_off.empty()) ShowPutOff();
}

int EngineLocksHeld() {
  return t_locks_held;
}

size_t BoxesPutOff() {
  return t_put_off.size();
}

void SetMessageSink(MessageSink sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sink = std::move(sink);
}

void ExitProcess(int code) {
  ShowPutOff(true);
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
