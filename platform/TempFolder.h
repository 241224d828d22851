// The user's temporary folder (the engine's cache lives under it in "eHDD").
#pragma once

#include <sys/types.h>
#include <string>

namespace platform {

// $TMPDIR when it is set, else a private folder of the effective user under
// /tmp ("/tmp/lectoria-<uid>"), made with mode 0700. Always ends in '/'.
// Returns "" when no safe folder can be had (see PrivateTempFolderIn).
std::string TempFolder();

// The private per-user folder "<base>/lectoria-<uid>/": made with mode 0700
// when absent; when present it must be a real folder (not a link) owned by
// uid, and is narrowed to 0700. Anything else is refused: returns "" and
// says why in *error.
std::string PrivateTempFolderIn(const std::string& base, uid_t uid, std::string* error = nullptr);

// A folder of the effective user's own, for the files the engine keeps in
// the temporary folder: made with mode 0700 when absent; when present it
// must be a real folder (not a link) owned by the effective user, and is
// narrowed to 0700. False (with the reason in *error) otherwise.
bool PrivateFolder(const std::string& path, std::string* error = nullptr);

}  // namespace platform
