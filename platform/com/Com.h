// The component model the engine is reached through, in place of the
// system's: class and interface identifiers, result codes, the base
// interfaces with their call tables, the class factory, length-prefixed
// UTF-16 strings and a minimal variant. Header-only, so the host program and
// the tools can call a control without linking the engine.
//
// Interfaces are plain abstract classes without virtual destructors, so an
// interface's call table holds exactly its members in order: IUnknown's
// three, then IDispatch's four, then the interface's own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform::com {

using HRESULT = int32_t;
using DISPID = int32_t;
using LCID = uint32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);
constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000B);

inline bool Succeeded(HRESULT hr) {
  return hr >= 0;
}
inline bool Failed(HRESULT hr) {
  return hr < 0;
}

struct GUID {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

inline bool operator==(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator!=(const GUID& a, const GUID& b) {
  return !(a == b);
}

// The registry text form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
inline std::string GuidToString(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1,
                g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4],
                g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

// Reads the registry text form (either case, braces required); false when
// the text is anything else.
inline bool GuidFromString(const std::string& text, GUID& out) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  static constexpr int kDashes[] = {9, 14, 19, 24};
  uint8_t bytes[16];
  int n = 0;
  for (size_t i = 1; i < 37;) {
    if (static_cast<int>(i) == kDashes[0] || static_cast<int>(i) == kDashes[1] ||
        static_cast<int>(i) == kDashes[2] || static_cast<int>(i) == kDashes[3]) {
      if (text[i] != '-') return false;
      ++i;
      continue;
    }
    auto hex = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    const int high = hex(text[i]);
    const int low = hex(text[i + 1]);
    if (high < 0 || low < 0 || n >= 16) return false;
    bytes[n++] = static_cast<uint8_t>(high << 4 | low);
    i += 2;
  }
  if (n != 16) return false;
  out.data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
              static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  out.data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  out.data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  std::memcpy(out.data4, bytes + 8, 8);
  return true;
}

constexpr GUID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

class IUnknown {
 public:
  virtual HRESULT QueryInterface(const GUID& iid, void** object) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
};

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown* outer, const GUID& iid, void** object) = 0;
  virtual HRESULT LockServer(bool lock) = 0;
};

// Length-prefixed UTF-16 strings: a 4-byte byte length, the units, a zero
// unit. Allocated with malloc, so either side of a call may free them. A
// null string is the empty string.
using BSTR = char16_t*;

inline BSTR SysAllocStringLen(const char16_t* text, uint32_t length) {
  if (length > 0x3FFFFFF0u) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(4 + (static_cast<size_t>(length) + 1) * 2));
  if (block == nullptr) return nullptr;
  const uint32_t bytes = length * 2;
  std::memcpy(block, &bytes, 4);
  auto* units = reinterpret_cast<char16_t*>(block + 4);
  if (text != nullptr && length > 0)
    std::memcpy(units, text, static_cast<size_t>(length) * 2);
  else if (length > 0)
    std::memset(units, 0, static_cast<size_t>(length) * 2);
  units[length] = 0;
  return units;
}

inline BSTR SysAllocString(const char16_t* text) {
  if (text == nullptr) return nullptr;
  uint32_t length = 0;
  while (text[length] != 0) ++length;
  return SysAllocStringLen(text, length);
}

inline uint32_t SysStringByteLen(BSTR text) {
  if (text == nullptr) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<unsigned char*>(text) - 4, 4);
  return bytes;
}

inline uint32_t SysStringLen(BSTR text) {
  return SysStringByteLen(text) / 2;
}

inline void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - 4);
}

// A BSTR owned for the length of a scope.
class ScopedBstr {
 public:
  ScopedBstr() = default;
  explicit ScopedBstr(const std::u16string& text)
      : text_(SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()))) {}
  ~ScopedBstr() { SysFreeString(text_); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  BSTR get() const { return text_; }
  BSTR* out() {
    SysFreeString(text_);
    text_ = nullptr;
    return &text_;
  }
  std::u16string str() const {
    return text_ ? std::u16string(text_, SysStringLen(text_)) : std::u16string();
  }

 private:
  BSTR text_ = nullptr;
};

// Variant types this system passes.
constexpr uint16_t VT_EMPTY = 0;
constexpr uint16_t VT_I4 = 3;
constexpr uint16_t VT_BSTR = 8;

struct VARIANT {
  uint16_t vt = VT_EMPTY;
  union {
    int32_t lVal;
    BSTR bstrVal;
  };
  VARIANT() : lVal(0) {}
};

// Frees what the variant holds and empties it.
inline void VariantClear(VARIANT* v) {
  if (v == nullptr) return;
  if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
  v->vt = VT_EMPTY;
  v->lVal = 0;
}

// Arguments of a call by identifier, last argument first.
struct DISPPARAMS {
  VARIANT* rgvarg = nullptr;
  DISPID* rgdispidNamedArgs = nullptr;
  uint32_t cArgs = 0;
  uint32_t cNamedArgs = 0;
};

constexpr uint16_t DISPATCH_METHOD = 1;
constexpr uint16_t DISPATCH_PROPERTYGET = 2;
constexpr DISPID DISPID_UNKNOWN = -1;

enum class MemberKind { kMethod, kProperty };

// One row of an interface's member table: what a type library would say.
struct MemberInfo {
  DISPID dispid;
  MemberKind kind;
  const char* name;
  const char* help;
  uint16_t arguments;  // parameters of a method (properties have none)
};

// The type information an IDispatch gives: its member table.
class ITypeInfo : public IUnknown {
 public:
  virtual uint32_t MemberCount() = 0;
  // Null past the count.
  virtual const MemberInfo* Member(uint32_t index) = 0;
};

class IDispatch : public IUnknown {
 public:
  virtual HRESULT GetTypeInfoCount(uint32_t* count) = 0;
  virtual HRESULT GetTypeInfo(uint32_t index, LCID lcid, ITypeInfo** info) = 0;
  // Names are matched without regard to ASCII case.
  virtual HRESULT GetIDsOfNames(const GUID& iid, const char16_t** names, uint32_t count, LCID lcid,
                                DISPID* dispids) = 0;
  virtual HRESULT Invoke(DISPID member, const GUID& iid, LCID lcid, uint16_t flags,
                         DISPPARAMS* params, VARIANT* result, void* exception_info,
                         uint32_t* argument_error) = 0;
};

}  // namespace platform::com
