#pragma once
// The class factory of Detection, handed out by DllGetClassObject.

#include <windows.h>

namespace korvane::update {

// The factory's interface `iid` for the class `clsid`; CLASS_E_CLASSNOTAVAILABLE
// for any class but Detection. Never throws.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) noexcept;

}  // namespace korvane::update
