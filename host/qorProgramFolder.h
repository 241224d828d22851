// The program folder: where the program's data folder lives. Taken anew at
// each use.
#pragma once

#include <string>

// $VELARNO_PROGRAM_DIR when it is set and not empty, else the folder of the
// running executable; always absolute (links resolved when the folder
// exists) and with a trailing '/'.
std::string ProgramFolder();
