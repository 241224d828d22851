// Creating a component by its class identifier: the registry names the
// library that serves the class (the empty-named value of
// CLSID\{...}\InprocServer32 under HKEY_CLASSES_ROOT); the library is loaded
// once and kept, and its DllGetClassObject makes the class factory.
#pragma once

#include <string>

#include "platform/com/Com.h"

namespace platform::com {

// The entry points a component library exports with C linkage.
using DllGetClassObjectFunction = HRESULT (*)(const GUID& clsid, const GUID& iid, void** object);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
using DllUnregisterServerFunction = HRESULT (*)();

// Makes an instance of the class and asks it for the interface. Every
// failure is a result code, never a crash: REGDB_E_CLASSNOTREG when the
// class or its library path is not registered, CO_E_DLLNOTFOUND when the
// library does not load, CO_E_ERRORINDLL when it lacks DllGetClassObject,
// else what the library answered. *reason (when given) receives a line
// saying what went wrong.
HRESULT CoCreateInstance(const GUID& clsid, IUnknown* outer, uint32_t context, const GUID& iid,
                         void** object, std::string* reason = nullptr);

// The library path registered for the class; empty when none.
std::string RegisteredServerPath(const GUID& clsid);

constexpr uint32_t CLSCTX_INPROC_SERVER = 0x1;

}  // namespace platform::com
