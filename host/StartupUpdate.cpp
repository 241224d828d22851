#include "host/StartupUpdate.h"

// The update installer is not part of this build yet; until it is, there is
// never a pending update to apply.
bool ApplyStartupUpdate(const std::string& program_folder) {
  (void)program_folder;
  return false;
}
