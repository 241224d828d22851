// The update installed at start-up, before any window exists.
//
// An update is delivered as files in "upd" under the program folder with a
// manifest "upd/manifest.qor" of lines NAME=CRC: NAME relative to "upd" and
// to the program folder ('\' or '/' between folders), CRC the CRC-32 of the
// whole file as "%lX" (upper-case hex, no leading zeros). The name "@RST@"
// asks for the program to be started again afterwards.
//
// The update is installed whole or not at all. Everything is checked first;
// each file is then copied to a new temporary file beside its target,
// flushed and checked again, and only then are the copies renamed over their
// targets in manifest order. The manifest is deleted last, so an update that
// was refused or cut short stays in "upd" and the next start installs it
// again. The CRC proves that a file arrived whole, not who sent it.
//
// File operations go through platform::CurrentFileOps(), which tests replace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class qorSettings;

// The manifest's place under the program folder, and its size limit.
inline constexpr char kUpdateFolder[] = "upd";
inline constexpr char kManifestName[] = "upd/manifest.qor";
inline constexpr uint64_t kMaxManifestBytes = 1u << 20;
// The entry that asks for a restart; its value is not used.
inline constexpr char kRestartEntry[] = "@RST@";
// The program started again on restart, in the program folder.
inline constexpr char kProgramName[] = "velarno";

enum class UpdateMode {
  kCheck,    // validate only; nothing is changed
  kInstall,  // validate, stage, commit and clean; never restarts
};

// What became of a pending update.
struct UpdateReport {
  enum class Outcome {
    kNoUpdate,  // no manifest
    kDone,      // validated (check) or installed whole (install)
    kRefused,   // nothing was changed; upd is kept
    kFailed,    // the commit stopped part way; upd is kept
  };
  Outcome outcome = Outcome::kNoUpdate;
  // Why it was refused or failed, naming the entry.
  std::string reason;
  // The files' names as the manifest writes them, in install order (only
  // when the outcome is kDone).
  std::vector<std::string> files;
  // "@RST@" is listed.
  bool restart_listed = false;
  // A restart is due: listed, installed whole, and the manifest is gone.
  bool restart = false;
};

// Starts the program given by its path, which gets only that path as its
// argument and the current environment; does not wait. True when started.
using Restarter = std::function<bool(const std::string& executable)>;

// The default restarter, over posix_spawn.
bool StartDetached(const std::string& executable);

// The path exists, whatever it is (access in existence mode).
bool PathExists(const std::string& path);

// Deletes every entry of the folder that is not a folder; a symbolic link is
// removed, never followed. True when at least one delete was attempted,
// false when the folder cannot be listed (or holds nothing to delete).
bool DeleteFolderFiles(const std::string& folder);

// Removes base + relative ('/' and '\' both separate). Flag 1 first deletes
// the folder's files (DeleteFolderFiles); flag 2 then goes on with each
// parent of the relative path up to base. A folder that cannot be removed
// (one that still holds a folder) is left. Always true.
bool RemoveFolderTree(const std::string& base, const std::string& relative, unsigned flags);

// Applies the loaded manifest to the program folder (steps above). Gives back
// the restart entry's value in restart_value and fills the report; true when
// a restart is due.
bool ApplyManifest(const std::string& program_folder, const qorSettings& manifest, UpdateMode mode,
                   std::string& restart_value, UpdateReport& report);

// Reads program_folder/upd/manifest.qor through qorSettings and applies it;
// never restarts. With no manifest this costs one access.
UpdateReport ProcessPendingUpdate(const std::string& program_folder, UpdateMode mode);

// The start-up step: installs a pending update. A refusal or failure writes
// one line on stderr and returns. When a restart is due, starts
// program_folder/velarno (the running executable when that file does not
// exist) through the restarter and ends the process with exit code 1
// (platform::ExitProcess); when the start fails, it returns.
UpdateReport ApplyPendingUpdate(const std::string& program_folder,
                                const Restarter& restarter = StartDetached);
