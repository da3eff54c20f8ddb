#pragma once
// Self-registration: what DllRegisterServer and DllUnregisterServer do.

#include <windows.h>

namespace korvane::update {

// Records the ProgID, the CLSID with this file as its in-process server, and
// the type library. S_OK or a SELFREG_E_ code; throws std::bad_alloc.
HRESULT RegisterServer();

// Removes what RegisterServer recorded, in both scopes; throws std::bad_alloc.
HRESULT UnregisterServer();

}  // namespace korvane::update
