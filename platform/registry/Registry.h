// A file-backed registry in place of the system one: roots, keys (names
// compared without regard to ASCII case), typed values, access lists kept
// as given. Each root is one text file in the registry folder, rewritten
// atomically (temporary file, flush, rename) on every change, with a lock
// file (flock) held from its load to its store, so changes made by several
// processes at once never lose each other. A damaged file is set aside
// (renamed with ".damaged") and the root starts empty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::registry {

enum class Root { kClassesRoot, kCurrentUser, kLocalMachine };
enum class Type : uint32_t { kSz = 1, kExpandSz = 2, kDword = 4 };

struct Value {
  Type type = Type::kSz;
  std::string text;     // kSz, kExpandSz
  uint32_t dword = 0;   // kDword
};

// $LECTORIA_REGISTRY_DIR, else $XDG_CONFIG_HOME/lectoria, else
// $HOME/.config/lectoria, else the account's home folder (from the password
// database) + "/.config/lectoria"; "" when none is known. The folder must be
// owned by the effective user and writable by nobody else: in any other
// folder every read finds nothing and every change fails.
std::string Folder();

bool KeyExists(Root root, const std::string& key);
// Creates the key and its parents; the access list is recorded on the key
// as given. True when the key exists afterwards.
bool CreateKey(Root root, const std::string& key, const std::vector<std::string>& access_list = {});
std::vector<std::string> AccessList(Root root, const std::string& key);
// The key must exist.
bool SetValue(Root root, const std::string& key, const std::string& name, const Value& value);
bool QueryValue(Root root, const std::string& key, const std::string& name, Value& value);
bool DeleteValue(Root root, const std::string& key, const std::string& name);
// Deletes the key with its subkeys.
bool DeleteKey(Root root, const std::string& key);

}  // namespace platform::registry
