// The host's two registry functions over the file-backed registry, and the
// records of the access list a created key gets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"

// A well-known security identifier by code (0 Null, 1 Everyone, 2 Creator
// Owner, 3 Creator Group, 4 Interactive, 5 Builtin Users, 6 Builtin
// Administrators, 7 Builtin Guests, 8 Builtin Power Users).
class CSid {
 public:
  explicit CSid(int code);
  bool valid() const { return valid_; }
  const std::string& text() const { return text_; }  // "S-1-<authority>-<sub>..."

 private:
  bool valid_ = false;
  std::string text_;
};

// An access list: entries granting an access mask to a SID.
class CAcl {
 public:
  void Grant(const CSid& sid, uint32_t access_mask);
  std::vector<std::string> Entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;
};

class CSecurityDescriptor {
 public:
  explicit CSecurityDescriptor(const CAcl& dacl) : dacl_(dacl) {}
  const CAcl& dacl() const { return dacl_; }

 private:
  CAcl dacl_;
};

constexpr uint32_t kKeyAllAccess = 0xF003F;

// Writes a REG_EXPAND_SZ value; a key that does not exist is created with
// an access list giving Everyone and the Administrators full access.
bool RegWriteExpandString(platform::registry::Root root, const std::string& subkey,
                          const std::string& name, const std::string& value);
// False when the key does not exist; true otherwise, out unchanged when the
// value is absent or empty.
bool RegReadString(platform::registry::Root root, const std::string& subkey, const std::string& name,
                   std::string& out);
