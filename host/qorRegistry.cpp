#include "host/qorRegistry.h"

namespace reg = platform::registry;

CSid::CSid(int code) {
  struct Known {
    int authority;
    std::vector<int> subs;
  };
  static const Known kKnown[] = {{0, {0}},      {1, {0}},       {3, {0}},       {3, {1}},      {5, {4}},
                                 {5, {32, 545}}, {5, {32, 544}}, {5, {32, 546}}, {5, {32, 547}}};
  if (code < 0 || code > 8) return;
  text_ = "S-1-" + std::to_string(kKnown[code].authority);
  for (int s : kKnown[code].subs) text_ += "-" + std::to_string(s);
  valid_ = true;
}

void CAcl::Grant(const CSid& sid, uint32_t access_mask) {
  if (sid.valid()) entries_.push_back(sid.text() + ":" + std::to_string(access_mask));
}

bool RegWriteExpandString(reg::Root root, const std::string& subkey, const std::string& name,
                          const std::string& value) {
  if (!reg::KeyExists(root, subkey)) {
    CAcl acl;
    acl.Grant(CSid(1), kKeyAllAccess);
    acl.Grant(CSid(6), kKeyAllAccess);
    CSecurityDescriptor descriptor(acl);
    if (!reg::CreateKey(root, subkey, descriptor.dacl().Entries())) return false;
  }
  reg::Value v;
  v.type = reg::Type::kExpandSz;
  v.text = value;
  return reg::SetValue(root, subkey, name, v);
}

bool RegReadString(reg::Root root, const std::string& subkey, const std::string& name, std::string& out) {
  if (!reg::KeyExists(root, subkey)) return false;
  reg::Value v;
  if (reg::QueryValue(root, subkey, name, v) && v.type != reg::Type::kDword && !v.text.empty()) out = v.text;
  return true;
}
