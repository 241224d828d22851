// A file-backed registry in place of the system one: roots, keys (names
// compared without regard to ASCII case), typed values, access lists kept
// as given. Each root is one text file in the registry folder, rewritten
// atomically (temporary file, flush, rename) on every change. A damaged
// file is set aside (renamed with ".damaged") and the root starts empty.
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

// $LECTORIA_REGISTRY_DIR, else $XDG_CONFIG_HOME/lectoria, else ~/.config/lectoria.
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
