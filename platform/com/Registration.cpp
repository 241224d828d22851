#include "platform/com/Registration.h"

namespace platform::com {
namespace {

namespace reg = platform::registry;

std::string Join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "\\" + name;
}

bool SetText(reg::Root root, const std::string& key, const std::string& name,
             const std::string& text) {
  reg::Value value;
  value.type = reg::Type::kSz;
  value.text = text;
  return reg::SetValue(root, key, name, value);
}

}  // namespace

bool ApplyRegistryKeys(reg::Root root, const std::vector<RegistryKey>& keys,
                       const std::string& parent) {
  for (const RegistryKey& key : keys) {
    const std::string path = Join(parent, key.name);
    if (key.removal == RegistryKey::Removal::kForceRemove && reg::KeyExists(root, path) &&
        !reg::DeleteKey(root, path)) {
      return false;
    }
    if (!reg::CreateKey(root, path)) return false;
    if (key.has_default && !SetText(root, path, "", key.default_text)) return false;
    for (const auto& [name, text] : key.values) {
      if (!SetText(root, path, name, text)) return false;
    }
    if (!ApplyRegistryKeys(root, key.subkeys, path)) return false;
  }
  return true;
}

bool RemoveRegistryKeys(reg::Root root, const std::vector<RegistryKey>& keys,
                        const std::string& parent) {
  bool ok = true;
  for (const RegistryKey& key : keys) {
    const std::string path = Join(parent, key.name);
    if (key.removal == RegistryKey::Removal::kNeverRemove) {
      if (!RemoveRegistryKeys(root, key.subkeys, path)) ok = false;
      continue;
    }
    if (reg::KeyExists(root, path) && !reg::DeleteKey(root, path)) ok = false;
  }
  return ok;
}

}  // namespace platform::com
