// velarno: the course program. No arguments; the program folder is the
// folder it runs from (VELARNO_PROGRAM_DIR overrides it for tests),
// VELARNO_STARTUP_TRACE=1 reports the first paint. Exit 0
// after the window closes; 1 after a self-update restarted the program.
#include <cstdio>
#include <exception>

#include "host/TForm1.h"
#include "host/qorApplication.h"
#include "host/qorCloseSignals.h"

int main(int argc, char** argv) {
  MarkProgramStart();
  MainUnitInitialize();
  int code = 0;
  {
    qorApplication app(argc, argv);
    TForm1* shown = nullptr;
    // Installed first, so a signal during the start-up is kept; it is read
    // once the window runs.
    qorCloseSignals close_signals([&shown] {
      if (shown != nullptr) shown->CloseFromOutside();
    });
    try {
      TForm1 form;
      if (form.RestartRequested()) {
        code = 1;
      } else {
        shown = &form;
        form.show();
        app.exec();
        shown = nullptr;
      }
    } catch (const std::exception& e) {
      qorApplication::ShowException(e.what());
    } catch (...) {
      qorApplication::ShowException("unknown exception");
    }
  }
  MainUnitFinalize();
  return code;
}
