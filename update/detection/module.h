#pragma once
// This DLL as a file: its handle, its full path and the type library embedded
// in it.

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace korvane::update {

// Called once by DllMain.
void SetModuleHandle(HMODULE module) noexcept;

// The full path of this DLL; empty on failure.
std::wstring ModulePath();

// The type library embedded as resource 1 of this DLL.
HRESULT LoadModuleTypeLib(ITypeLib** type_lib) noexcept;

}  // namespace korvane::update
