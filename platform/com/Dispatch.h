// IDispatch served from a static member table, in place of a type library:
// names matched without regard to ASCII case, and the type information
// that hands the table out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com/Com.h"

namespace platform::com {

// True when the UTF-16 name equals the ASCII name, ignoring ASCII case.
// A null name matches nothing.
bool NameEqualsIgnoringCase(const char16_t* name, const char* ascii);

// The row of the table with that identifier; null when none.
const MemberInfo* FindMember(const MemberInfo* table, size_t count, DISPID dispid);

// GetIDsOfNames over the table: the first name is a member, the others (its
// parameters) are not looked up. Every identifier is set: DISPID_UNKNOWN
// for what is not found, which gives DISP_E_UNKNOWNNAME.
HRESULT IdsOfNamesFromTable(const MemberInfo* table, size_t count, const char16_t** names,
                            uint32_t name_count, DISPID* dispids);

// A new type information object over the table (one reference, which the
// caller releases). The table must outlive it (static tables do).
ITypeInfo* NewTableTypeInfo(const MemberInfo* table, size_t count);

}  // namespace platform::com
