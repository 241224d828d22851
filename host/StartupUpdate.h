// The pending self-update, applied once at start-up before the main window
// does anything else.
#pragma once

#include <string>

// Installs a pending update of the program folder. True when the update asked
// for a restart and the new program was started: the caller then ends with
// exit code 1.
bool ApplyStartupUpdate(const std::string& program_folder);
