#include "platform/com/Dispatch.h"

#include <atomic>
#include <new>

namespace platform::com {
namespace {

char16_t LowerAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

class TableTypeInfo final : public ITypeInfo {
 public:
  TableTypeInfo(const MemberInfo* table, size_t count) : table_(table), count_(count) {}

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<IUnknown*>(this);
    return S_OK;
  }
  uint32_t AddRef() override { return refs_.fetch_add(1) + 1; }
  uint32_t Release() override {
    const uint32_t left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }
  uint32_t MemberCount() override { return static_cast<uint32_t>(count_); }
  const MemberInfo* Member(uint32_t index) override {
    return index < count_ ? &table_[index] : nullptr;
  }

 private:
  const MemberInfo* table_;
  size_t count_;
  std::atomic<uint32_t> refs_{1};
};

}  // namespace

bool NameEqualsIgnoringCase(const char16_t* name, const char* ascii) {
  if (name == nullptr || ascii == nullptr) return false;
  size_t i = 0;
  for (; ascii[i] != 0; ++i) {
    if (name[i] == 0) return false;
    if (LowerAscii(name[i]) != LowerAscii(static_cast<unsigned char>(ascii[i]))) return false;
  }
  return name[i] == 0;
}

const MemberInfo* FindMember(const MemberInfo* table, size_t count, DISPID dispid) {
  for (size_t i = 0; i < count; ++i) {
    if (table[i].dispid == dispid) return &table[i];
  }
  return nullptr;
}

HRESULT IdsOfNamesFromTable(const MemberInfo* table, size_t count, const char16_t** names,
                            uint32_t name_count, DISPID* dispids) {
  if (dispids == nullptr || (name_count > 0 && names == nullptr)) return E_POINTER;
  if (name_count == 0) return S_OK;
  for (uint32_t i = 0; i < name_count; ++i) dispids[i] = DISPID_UNKNOWN;
  for (size_t i = 0; i < count; ++i) {
    if (NameEqualsIgnoringCase(names[0], table[i].name)) {
      dispids[0] = table[i].dispid;
      break;
    }
  }
  // Members here take their arguments by position only.
  if (dispids[0] == DISPID_UNKNOWN || name_count > 1) return DISP_E_UNKNOWNNAME;
  return S_OK;
}

ITypeInfo* NewTableTypeInfo(const MemberInfo* table, size_t count) {
  return new (std::nothrow) TableTypeInfo(table, count);
}

}  // namespace platform::com
