// The store options the engine's inspection tools share, parsed the way the
// ehdd tool parses them: --local-root DIR, --local LETTERS, --mount L=STORE
// (repeatable), all before the command. No server.
#pragma once

#include <string>
#include <utility>
#include <vector>

class TEHDDClient;

namespace tools {

struct StoreOptions {
  std::string local_root;
  std::string local_letters;
  std::vector<std::pair<char, std::string>> mounts;
};

// Parses the store options from argv[index] on, leaving index at the first
// argument that is not one of them. False (a usage error, with what was
// wrong in *error) for a known option without its value, a malformed mount
// or any other argument starting with "--" before the command.
bool ParseStoreOptions(int argc, char** argv, int& index, StoreOptions& options,
                       std::string* error);

// Gives the client the local root, the local letters and the mounts.
void ApplyStoreOptions(TEHDDClient& client, const StoreOptions& options);

// A virtual path starts with a letter, ':' and '\'.
bool IsVirtualPath(const std::string& path);

// A path the engine can open on any thread: a virtual path as given, or a
// plain local file, whose folder is mounted on a spare letter (served
// locally) and which is then named through that letter. Empty when no
// letter is free.
std::string EnginePathForFile(TEHDDClient& client, StoreOptions& options, const std::string& path);

// The same for a folder: a virtual folder as given (without a trailing
// '\'), or a local folder mounted on a spare letter, given as "L:".
std::string EnginePathForFolder(TEHDDClient& client, StoreOptions& options,
                                const std::string& folder);

// Text for an output line, without the quotes around it: bytes 0x20-0x7E stand as themselves except
// '"' and '\' ("\"" and "\\"), every other byte is \xHH in upper-case hex.
std::string Quote(const std::string& bytes);
std::string Quote(const char* bytes, size_t length);

}  // namespace tools
