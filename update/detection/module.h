#pragma once
// Module-wide state of Update.dll: its handle, its path, its type library and
// the count of live objects and server locks that DllCanUnloadNow reports.

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace korvane::update {

// The full path of this DLL; empty on failure.
std::wstring ModulePath();

// The type library embedded as resource 1 of this DLL.
HRESULT LoadModuleTypeLib(ITypeLib** typeLib) noexcept;

// Every live object and every IClassFactory::LockServer(TRUE) holds one.
void LockModule() noexcept;
void UnlockModule() noexcept;

}  // namespace korvane::update
