// Process-wide message boxes and process exit.
//
// The engine shows its error and information boxes through one sink. By
// default the box is written to stderr and answered with its first button;
// the host installs a sink that shows it on the GUI thread, and tests install
// a recording sink.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>

namespace platform {

// Box types (buttons in the low nibble, icons above).
constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbOkCancel = 0x1;
constexpr unsigned kMbAbortRetryIgnore = 0x2;
constexpr unsigned kMbYesNoCancel = 0x3;
constexpr unsigned kMbYesNo = 0x4;
constexpr unsigned kMbRetryCancel = 0x5;
constexpr unsigned kMbIconError = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconWarning = 0x30;
constexpr unsigned kMbIconInformation = 0x40;

// Buttons a box answers with.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

using MessageSink =
    std::function<int(const std::string& text, const std::string& caption, unsigned type)>;

// Shows a box through the installed sink, from any thread; returns the button.
//
// A box is never shown while its thread holds an engine lock (one counted
// below): the sink may wait for the GUI thread, which may be waiting for
// that lock. An OK box asked for meanwhile is put off and answered OK at
// once; the thread shows it itself when it lets go of its last engine lock,
// in the order asked, a text already waiting not queued twice. A box whose
// answer the caller needs cannot be put off and must not be asked for under
// such a lock (it goes to the sink, where a test sink can see the fault).
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type);

// Engine locks this thread holds. The engine's lock type calls the first
// two right after it takes and right after it lets go of its mutex; the
// release that leaves none shows the boxes put off.
void EngineLockTaken();
void EngineLockReleased();
int EngineLocksHeld();
// Boxes this thread has put off and not shown yet.
size_t BoxesPutOff();

// The first button of a box type: what the default sink answers.
int DefaultButton(unsigned type);

// Installs a sink; an empty function restores the default (stderr, first button).
void SetMessageSink(MessageSink sink);

using ExitHook = std::function<void(int code)>;

// Ends the process with the code through the installed hook. Boxes this
// thread put off are shown first. The default hook
// flushes the standard streams and exits for real. A test hook records the
// code and throws ExitRequested so the caller does not run on.
void ExitProcess(int code);

// Installs an exit hook; an empty function restores the real exit.
void SetExitHook(ExitHook hook);

// What a test exit hook throws.
struct ExitRequested : std::runtime_error {
  explicit ExitRequested(int exit_code)
      : std::runtime_error("process exit " + std::to_string(exit_code)), code(exit_code) {}
  int code;
};

}  // namespace platform
