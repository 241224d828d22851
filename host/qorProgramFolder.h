// The program folder: where the program's data folder lives. Taken anew at
// each use.
#pragma once

#include <string>

// The folder of the running executable; $VELARNO_PROGRAM_DIR, when it is set
// and not empty, overrides it for tests. Always absolute (links resolved
// when the folder exists) and with a trailing '/'.
std::string ProgramFolder();
