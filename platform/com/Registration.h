// Registry scripts of components: a tree of keys with default texts, named
// string values and removal flags, applied at registration and taken away
// at unregistration.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/registry/Registry.h"

namespace platform::com {

struct RegistryKey {
  enum class Removal {
    kNormal,       // created at registration, removed with its subtree at unregistration
    kNeverRemove,  // created if missing, never removed (a shared parent such as CLSID)
    kForceRemove,  // removed with its subtree before it is created again, and at unregistration
  };

  std::string name;
  Removal removal = Removal::kNormal;
  bool has_default = false;
  std::string default_text;                                 // the empty-named value
  std::vector<std::pair<std::string, std::string>> values;  // named string values
  std::vector<RegistryKey> subkeys;
};

// Creates every key of the tree under parent (empty: the root itself) with
// its values. False at the first key or value that cannot be written.
bool ApplyRegistryKeys(platform::registry::Root root, const std::vector<RegistryKey>& keys,
                       const std::string& parent = "");

// Removes what the tree created: every key but those marked never-remove,
// which are only walked into. A key that is already gone is not an error.
// False when a key exists and cannot be removed.
bool RemoveRegistryKeys(platform::registry::Root root, const std::vector<RegistryKey>& keys,
                        const std::string& parent = "");

}  // namespace platform::com
